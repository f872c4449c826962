# shellcheck shell=bash
# Shared setup of the benchmark scripts (fetch_vs_wget2.sh, mirror_bench.sh),
# sourced after they set BENCH_NAME, REPO and BUILD_DIR. It provides:
#   die, say                 messages, prefixed with BENCH_NAME for errors
#   bench_packages           installs nginx, wget2 and time with apt-get if
#                            missing; sets NGINX, WGET2 and TIME (/usr/bin/time)
#   bench_cli LOG            sets CLI: HARVIX_CLI, or harvix-cli built in
#                            Release in BUILD_DIR; the build's messages go to
#                            the file LOG in BUILD_DIR, shown when it fails, or
#                            with LOG "" only cmake's errors, to the terminal
#   bench_workdir PREFIX     sets WORK (a mktemp -d folder), NG (nginx's folder
#                            in it) and the traps that
#                            stop NGINX_PID and RUN_PID and remove WORK (unless
#                            KEEP=1 or a check failed)
#   stop_pid PID SIGNAL      stops one process we started, and waits for it
#   free_port                a free TCP port on 127.0.0.1
#   WGET2_PLAIN              wget2's options for no config, HSTS, HPKP, robots,
#                            netrc, cookie or OCSP files
#   bench_start_nginx ROOT PROBE [PREPARE]
#                            runs nginx as the current user on 127.0.0.1 on a
#                            free port (sets PORT and NGINX_PID) serving ROOT,
#                            until PROBE (a path) answers; PREPARE runs first on
#                            each attempt, once PORT is chosen

die() { echo "$BENCH_NAME: $*" >&2; exit 1; }
say() { echo "== $*" >&2; }

WGET2_PLAIN=(--no-config --no-hsts --no-hpkp --no-robots --no-netrc --no-cookies --no-ocsp)

# --- packages ---------------------------------------------------------------
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
bench_packages() {
  local missing=() pkg as_root
  for pkg in nginx wget2 time unzip; do installed "$pkg" || missing+=("$pkg"); done
  if ((${#missing[@]})); then
    if [[ $(id -u) -eq 0 ]]; then as_root=()
    elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then as_root=(sudo)
    else die "missing packages: ${missing[*]} (run as root or install them)"
    fi
    say "installing ${missing[*]}"
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  NGINX=$(command -v nginx || echo /usr/sbin/nginx)
  WGET2=$(command -v wget2) || die "wget2 not found"
  TIME=/usr/bin/time
  [[ -x $NGINX ]] || die "nginx not found"
  [[ -x $TIME ]] || die "$TIME not found"
}

# --- harvix-cli ---------------------------------------------------------------
bench_cli() {
  local log=$1
  if [[ -n ${HARVIX_CLI:-} ]]; then
    CLI=$HARVIX_CLI
  else
    say "building harvix-cli (Release) in $BUILD_DIR"
    if [[ -n $log ]]; then
      mkdir -p "$BUILD_DIR"
      # The compiler's messages go to a log that is shown when the build fails.
      { cmake -S "$REPO" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DHARVIX_BUILD_GUI=OFF \
          -DHARVIX_BUILD_TESTS=OFF -DHARVIX_BUILD_BENCH=OFF &&
          cmake --build "$BUILD_DIR" -j"$(nproc)" --target harvix-cli; } >"$BUILD_DIR/$log" 2>&1 ||
        { tail -20 "$BUILD_DIR/$log" >&2; die "the build failed (see $BUILD_DIR/$log)"; }
    else
      cmake -S "$REPO" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DHARVIX_BUILD_GUI=OFF \
        -DHARVIX_BUILD_TESTS=OFF -DHARVIX_BUILD_BENCH=OFF >/dev/null
      cmake --build "$BUILD_DIR" -j"$(nproc)" --target harvix-cli >/dev/null
    fi
    CLI=$BUILD_DIR/src/harvix-cli
  fi
  [[ -x $CLI ]] || die "no harvix-cli at $CLI"
  CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
}

# --- temp folder, cleanup -----------------------------------------------------
stop_pid() { # pid signal: stops one process we started, and waits for it
  local pid=$1 sig=$2
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill "-$sig" "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  local rc=$?
  stop_pid "$RUN_PID" TERM
  stop_pid "$NGINX_PID" QUIT
  # A failed check keeps the folder for a look; an interrupt does not.
  if [[ ${KEEP:-0} == 1 ]] || ((rc != 0 && rc < 128)); then echo "kept $WORK" >&2; else rm -rf "$WORK"; fi
  exit "$rc"
}
bench_workdir() {
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  NG=$WORK/nginx
  NGINX_PID=
  RUN_PID=
  trap cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# --- nginx ----------------------------------------------------------------------
free_port() {
  if command -v python3 >/dev/null; then
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
    return
  fi
  local p
  for _ in $(seq 100); do
    p=$((20000 + RANDOM % 40000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
  done
  die "no free port found"
}

answers() { "$WGET2" "${WGET2_PLAIN[@]}" --tries=1 --timeout=1 -q -O /dev/null "$1" 2>/dev/null; }

# root probe-path [prepare]; the config takes these too, when set:
#   NGINX_ACCESS_LOG   the access_log value (default: off)
#   NGINX_MORE_TYPES   more lines for the types block
#   NGINX_MORE_SERVER  more lines for the server block
bench_start_nginx() {
  local root=$1 probe=$2 prepare=${3:-} attempt up user_line
  mkdir -p "$NG/logs" "$NG/tmp"
  for attempt in 1 2 3 4 5; do
    PORT=$(free_port)
    if [[ -n $prepare ]]; then "$prepare"; fi
    user_line=
    # As root the workers would switch to "nobody", who cannot read the temp folder.
    [[ $(id -u) -eq 0 ]] && user_line="user $(id -un) $(id -gn);"
    {
      cat <<EOF
$user_line
worker_processes 1;
daemon off;
pid $NG/nginx.pid;
error_log $NG/logs/error.log warn;
events { worker_connections 512; }
http {
  access_log ${NGINX_ACCESS_LOG:-off};
  client_body_temp_path $NG/tmp/body;
  proxy_temp_path $NG/tmp/proxy;
  fastcgi_temp_path $NG/tmp/fastcgi;
  uwsgi_temp_path $NG/tmp/uwsgi;
  scgi_temp_path $NG/tmp/scgi;
  types {
    text/html html;
    text/css css;
    application/javascript js;
    image/gif gif;
EOF
      [[ -z ${NGINX_MORE_TYPES:-} ]] || printf '%s\n' "$NGINX_MORE_TYPES"
      cat <<EOF
  }
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$PORT;
    root $root;
EOF
      [[ -z ${NGINX_MORE_SERVER:-} ]] || printf '%s\n' "$NGINX_MORE_SERVER"
      cat <<EOF
  }
}
EOF
    } >"$NG/nginx.conf"
    HOME=$WORK "$NGINX" -p "$NG/" -e "$NG/logs/error.log" -c "$NG/nginx.conf" &
    NGINX_PID=$!
    up=0
    for _ in $(seq 50); do
      kill -0 "$NGINX_PID" 2>/dev/null || break
      if HOME=$WORK answers "http://127.0.0.1:$PORT/$probe"; then up=1; break; fi
      sleep 0.1
    done
    ((up)) && break
    stop_pid "$NGINX_PID" TERM
    NGINX_PID=
    echo "nginx did not answer on port $PORT (attempt $attempt):" >&2
    tail -3 "$NG/logs/error.log" >&2 || true
  done
  [[ -n $NGINX_PID ]] || die "nginx would not start"
}
