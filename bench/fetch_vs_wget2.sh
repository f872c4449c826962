#!/usr/bin/env bash
# Times `harvix-cli fetch` against wget2 over 2,000 small files that a local
# nginx serves on 127.0.0.1, in alternating rounds, and prints the median wall
# time and the peak memory (max RSS) of each.
#
#   bench/fetch_vs_wget2.sh
#
# Environment:
#   ROUNDS=5         rounds; each runs harvix-cli once and wget2 once
#   FILES=2000       number of files served and fetched
#   CONNECTIONS=5    parallel transfers for both tools
#   HARVIX_CLI=PATH  use this harvix-cli instead of building one
#   BUILD_DIR=DIR    where to build harvix-cli (default: build-fetchbench
#                    beside bench/), in Release
#   KEEP=1           keep the temp folder (its path is printed); it is also
#                    kept when a check fails
#
# Missing packages (nginx, wget2, time) are installed with apt-get when run as
# root or when sudo works without a password. Traffic goes to 127.0.0.1 only.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$HERE/.." && pwd)
ROUNDS=${ROUNDS:-5}
FILES=${FILES:-2000}
CONNECTIONS=${CONNECTIONS:-5}
BUILD_DIR=${BUILD_DIR:-$REPO/build-fetchbench}
BENCH_NAME=fetch_vs_wget2
# shellcheck source-path=SCRIPTDIR source=benchlib.sh
source "$HERE/benchlib.sh"

[[ $ROUNDS =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number"
[[ $FILES =~ ^[1-9][0-9]*$ ]] || die "FILES must be a positive number"

bench_packages
bench_cli ""
bench_workdir harvix-fetchbench

# --- the site -------------------------------------------------------------------
# FILES files in 20 folders: 40% .html, 20% each .gif, .css and .js, of 1 to
# 20 KB, named f<N>.<ext> so every name is unique.
say "making $FILES files"
SITE=$WORK/site
mkdir -p "$SITE"
blob=$(head -c 16000 /dev/urandom | base64 -w0)   # ~21 KB of text
EXPECT_BYTES=0
: >"$WORK/paths.txt"
for ((i = 0; i < FILES; i++)); do
  case $((i % 10)) in
    0 | 1 | 2 | 3) ext=html head='<!DOCTYPE html><html><body><p>' ;;
    4 | 5) ext=gif head='GIF89a' ;;
    6 | 7) ext=css head='/* css */ ' ;;
    *) ext=js head='// js ' ;;
  esac
  size=$((1024 + (i * 7919) % 19457))
  dir=d$((i % 20))
  mkdir -p "$SITE/$dir"
  printf '%s%s' "$head" "${blob:0:size-${#head}}" >"$SITE/$dir/f$i.$ext"
  echo "$dir/f$i.$ext" >>"$WORK/paths.txt"
  EXPECT_BYTES=$((EXPECT_BYTES + size))
done

# --- nginx ----------------------------------------------------------------------
bench_start_nginx "$SITE" "$(head -1 "$WORK/paths.txt")"
say "nginx (pid $NGINX_PID) serves $SITE on 127.0.0.1:$PORT"

sed "s|^|http://127.0.0.1:$PORT/|" "$WORK/paths.txt" >"$WORK/urls.txt"
mapfile -t URLS <"$WORK/urls.txt"
say "urls.txt: ${#URLS[@]} URLs, $(wc -c <"$WORK/urls.txt") bytes on harvix-cli's command line"

# --- checking a run -------------------------------------------------------------
# One checksum over the files' contents, taken in the order of their names,
# whatever folders they were saved in.
content_sum() {
  find "$1" -type f -regextype posix-extended -regex '.*/f[0-9]+\.(html|gif|css|js)' -printf '%f %p\n' |
    sort | cut -d' ' -f2- | xargs -d '\n' cat | md5sum | cut -d' ' -f1
}
EXPECT_SUM=$(content_sum "$SITE")

# Counts the fetched files by name (f<N>.<ext>), their bytes and contents;
# other files in the output folder are reported, not counted.
check_output() {
  local tool=$1 out=$2 count bytes others
  count=$(find "$out" -type f -regextype posix-extended -regex '.*/f[0-9]+\.(html|gif|css|js)' | wc -l)
  bytes=$(find "$out" -type f -regextype posix-extended -regex '.*/f[0-9]+\.(html|gif|css|js)' -printf '%s\n' |
    awk '{ s += $1 } END { print s + 0 }')
  others=$(find "$out" -type f -regextype posix-extended ! -regex '.*/f[0-9]+\.(html|gif|css|js)' | wc -l)
  ((others == 0)) || echo "   note: $tool left $others other files in its output folder" >&2
  ((count == FILES)) || die "$tool produced $count files, not $FILES (see $out)"
  ((bytes == EXPECT_BYTES)) || die "$tool's files hold $bytes bytes, not $EXPECT_BYTES"
  [[ $(content_sum "$out") == "$EXPECT_SUM" ]] || die "$tool's files differ from the served ones (see $out)"
}

# --- the rounds -----------------------------------------------------------------
RESULTS=$WORK/results.txt
: >"$RESULTS"
run_harvix() {
  local r=$1 run=$WORK/runs/harvix-$1 rc=0
  mkdir -p "$run/out" "$run/home" "$run/config" "$run/data" "$run/xdg"
  (cd "$run" && env HOME="$run/home" HARVIX_CONFIG_DIR="$run/config" HARVIX_HOME="$run/data" \
    XDG_CONFIG_HOME="$run/xdg/config" XDG_DATA_HOME="$run/xdg/data" XDG_CACHE_HOME="$run/xdg/cache" \
    "$TIME" -f "%e %M" -o "$run/time.txt" \
    "$CLI" fetch "${URLS[@]}" --pace 0 --connections "$CONNECTIONS" --out "$run/out" \
    </dev/null >"$run/stdout.txt" 2>"$run/stderr.txt") || rc=$?
  if ((rc != 0)); then
    tail -5 "$run/stderr.txt" >&2
    grep -q "Argument list too long" "$run/stderr.txt" &&
      die "harvix-cli could not be started with ${#URLS[@]} URLs on its command line (ARG_MAX)"
    die "harvix-cli exited $rc in round $r (see $run)"
  fi
  check_output harvix-cli "$run/out"
  read -r secs rss <"$run/time.txt"
  echo "harvix $secs $rss" >>"$RESULTS"
  printf '   round %d  harvix-cli  %6.2f s  %7d KB   %s\n' "$r" "$secs" "$rss" "$(tail -1 "$run/stderr.txt")" >&2
  if ((r == 1)); then
    echo "   harvix-cli state outside --out after round 1:" >&2
    (cd "$run" && find home config data xdg -type f -printf '     %p (%s bytes)\n' | head -20) >&2
  fi
}
run_wget2() {
  local r=$1 run=$WORK/runs/wget2-$1 rc=0
  mkdir -p "$run/out" "$run/home"
  (cd "$run" && env HOME="$run/home" "$TIME" -f "%e %M" -o "$run/time.txt" \
    "$WGET2" "${WGET2_PLAIN[@]}" --no-tls-resume \
    --max-threads="$CONNECTIONS" -q -i "$WORK/urls.txt" -P "$run/out" \
    </dev/null >"$run/stdout.txt" 2>"$run/stderr.txt") || rc=$?
  ((rc == 0)) || { tail -5 "$run/stderr.txt" >&2; die "wget2 exited $rc in round $r"; }
  check_output wget2 "$run/out"
  read -r secs rss <"$run/time.txt"
  echo "wget2 $secs $rss" >>"$RESULTS"
  printf '   round %d  wget2       %6.2f s  %7d KB\n' "$r" "$secs" "$rss" >&2
  local stray
  stray=$(find "$run/home" -type f | wc -l)
  ((stray == 0)) || echo "   note: wget2 wrote $stray files into its HOME" >&2
}

say "$ROUNDS rounds, $CONNECTIONS connections each"
for ((r = 1; r <= ROUNDS; r++)); do
  run_harvix "$r"
  run_wget2 "$r"
  rm -rf "$WORK/runs/harvix-$((r - 1))/out" "$WORK/runs/wget2-$((r - 1))/out"
done

# --- the table ------------------------------------------------------------------
stats() { # tool -> "median max_rss min max"
  awk -v t="$1" '$1 == t { print $2, $3 }' "$RESULTS" | sort -n | awk '
    { s[NR] = $1; if ($2 > m) m = $2 }
    END { med = NR % 2 ? s[(NR + 1) / 2] : (s[NR / 2] + s[NR / 2 + 1]) / 2; print med, m, s[1], s[NR] }'
}
read -r h_med h_rss h_min h_max < <(stats harvix)
read -r w_med w_rss w_min w_max < <(stats wget2)
echo
echo "fetch of $FILES files ($((EXPECT_BYTES / 1024)) KB) from nginx on 127.0.0.1, $CONNECTIONS connections, $ROUNDS rounds"
printf '%-12s %12s %16s %14s\n' tool "median (s)" "min-max (s)" "max RSS (KB)"
printf '%-12s %12.2f %16s %14d\n' harvix-cli "$h_med" "$h_min-$h_max" "$h_rss"
printf '%-12s %12.2f %16s %14d\n' wget2 "$w_med" "$w_min-$w_max" "$w_rss"
awk -v h="$h_med" -v w="$w_med" 'BEGIN {
  if (w > 0) printf "ratio harvix-cli/wget2 (median wall time): %.2f\n", h / w
  else print "ratio harvix-cli/wget2: wget2 took 0.00 s, no ratio" }'
