# Shared by ./run and ./test: the Debian packages Harvix needs, and the build.
HARVIX_PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev
  libcurl4-openssl-dev libzip-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev libgumbo-dev
  libssl-dev
  # The tests check archives with other readers than our own.
  unzip python3
)

harvix_setup() {
  local missing=()
  local p
  for p in "${HARVIX_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

harvix_build() {
  if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
  fi
  cmake --build build -j "$(nproc)"
}
