#!/usr/bin/env bash
# Mirrors a generated site of 2,000 pages (bench/mirror_site.py) that a local
# nginx serves on 127.0.0.1 with `harvix-cli get` and with `wget2 --mirror`,
# in alternating rounds, and prints per tool the median wall time, CPU time,
# peak memory and what was saved; then checks harvix-cli's copy: every page
# and image of the site saved, and no broken link between the saved pages.
#
#   bench/mirror_bench.sh
#
# Environment:
#   ROUNDS=3         rounds; each runs harvix-cli once and wget2 once
#   CONNECTIONS=5    parallel transfers for both tools
#   HARVIX_CLI=PATH  use this harvix-cli instead of building one
#   BUILD_DIR=DIR    where to build harvix-cli (default: build-mirrorbench
#                    beside bench/), in Release
#   KEEP=1           keep the temp folder (its path is printed); it is also
#                    kept when a check fails
#   ZIP=0            leave out the zip-mode run of harvix-cli (harvix-cli get
#                    --zip, timed the same way; its archive is unpacked with
#                    unzip and checked like the folder copy)
#
# Missing packages (nginx, wget2, time) are installed with apt-get when run as
# root or when sudo works without a password. Traffic goes to 127.0.0.1 only.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$HERE/.." && pwd)
ROUNDS=${ROUNDS:-3}
ZIP=${ZIP:-1}
CONNECTIONS=${CONNECTIONS:-5}
BUILD_DIR=${BUILD_DIR:-$REPO/build-mirrorbench}
GEN=$HERE/mirror_site.py
BENCH_NAME=mirror_bench
# shellcheck source-path=SCRIPTDIR source=benchlib.sh
source "$HERE/benchlib.sh"

[[ $ROUNDS =~ ^[1-9][0-9]*$ ]] || die "ROUNDS must be a positive number"
[[ $CONNECTIONS =~ ^[1-9][0-9]*$ ]] || die "CONNECTIONS must be a positive number"
PYTHON=$(command -v python3) || die "python3 not found"
[[ -f $GEN ]] || die "no $GEN"

bench_packages
bench_cli mirror_bench-build.log
bench_workdir harvix-mirrorbench
FAILED=0

# --- nginx and the site ---------------------------------------------------------
SITE=$WORK/site/root
# The site holds absolute links to its origin, so it is made for the port.
make_site() {
  ORIGIN=http://127.0.0.1:$PORT
  rm -rf "$WORK/site"
  mkdir -p "$WORK/site"
  say "making the site for $ORIGIN: $("$PYTHON" "$GEN" generate --origin "$ORIGIN" --out "$SITE")"
}
NGINX_ACCESS_LOG=$NG/logs/access.log
NGINX_MORE_TYPES='    image/jpeg jpg;
    image/png png;'
# A static root answers "list.html?page=2" with list.html: the query plays
# no part in finding the file.
NGINX_MORE_SERVER='    index index.html;'
bench_start_nginx "$SITE" index.html make_site
say "nginx (pid $NGINX_PID) serves the site on 127.0.0.1:$PORT"

# The query pages come back as list.html itself.
HOME=$WORK "$WGET2" "${WGET2_PLAIN[@]}" --tries=1 --timeout=2 -q -O "$WORK/query.html" \
  "$ORIGIN/sec01/list.html?page=2&sort=name" 2>/dev/null ||
  die "nginx did not answer a query page"
cmp -s "$WORK/query.html" "$SITE/sec01/list.html" || die "nginx did not answer list.html?page=2 with list.html"

# --- the rounds -----------------------------------------------------------------
RESULTS=$WORK/results.txt
: >"$RESULTS"
: >"$WORK/checks.txt"
access_lines() { wc -l <"$NG/logs/access.log"; }
now() { date +%s.%N; }
# folder start: seconds from start to the newest file's last change
last_write() {
  find "$1" -type f -printf '%T@\n' | sort -n | tail -1 | awk -v s="$2" '{ printf "%.2f", $1 - s }'
}

# tool round copy-folder: checks a copy, appends the figures to checks.txt.
# Examples of what is wrong are shown in round 1 only.
check_copy() {
  local tool=$1 r=$2 copy=$3 figures quiet=()
  ((r == 1)) || quiet=(--quiet)
  [[ -d $copy ]] || { echo "   $tool saved no folder $copy" >&2; FAILED=1; return; }
  figures=$("$PYTHON" "$GEN" check "${quiet[@]}" --site "$SITE" --origin "$ORIGIN" --tool "$tool" "$copy") ||
    die "the check of $tool's copy failed"
  echo "$tool $r $figures" >>"$WORK/checks.txt"
  echo "   $figures" >&2
}

# tool round secs user sys rss rc requests last: one line of RESULTS and one
# on the terminal.
record() {
  echo "$*" >>"$RESULTS"
  printf '   round %d  %-10s %6.2f s (last write %5.2f s)  cpu %5.2f s  %6d KB  %5d requests  exit %d\n' \
    "$2" "$1" "$3" "$9" "$(awk -v u="$4" -v s="$5" 'BEGIN { print u + s }')" "$6" "$8" "$7" >&2
}

# round [zip]: harvix-cli into the personal intranet, or into a zip archive
run_harvix() {
  local r=$1 mode=${2:-} tool=harvix run rc=0 before start copy extra=()
  [[ $mode == zip ]] && tool=harvixzip extra=(--zip)
  run=$WORK/runs/$tool-$r
  mkdir -p "$run/home" "$run/config" "$run/data" "$run/xdg" "$run/temp"
  local envs=(HOME="$run/home" HARVIX_CONFIG_DIR="$run/config" HARVIX_HOME="$run/data"
    XDG_CONFIG_HOME="$run/xdg/config" XDG_DATA_HOME="$run/xdg/data" XDG_CACHE_HOME="$run/xdg/cache")
  # Files of a zip-mode run pass through the temp folder: one of its own.
  [[ $mode == zip ]] && env "${envs[@]}" "$CLI" settings "Temp Folder" "$run/temp" >/dev/null
  before=$(access_lines)
  start=$(now)
  (cd "$run" && exec env "${envs[@]}" \
    "$TIME" -f "%e %U %S %M" -o "$run/time.txt" \
    "$CLI" get "$ORIGIN/index.html" --pace 0 --connections "$CONNECTIONS" "${extra[@]}" \
    </dev/null >"$run/stdout.txt" 2>"$run/stderr.txt") &
  RUN_PID=$!
  wait "$RUN_PID" || rc=$?
  RUN_PID=
  copy="$run/home/My Intranet/127.0.0.1"
  if [[ $mode == zip ]]; then
    local archive
    archive=$(find "$run/data/Downloads" -name '*.zip' | head -1)
    [[ -n $archive ]] || die "harvix-cli --zip made no archive in round $r (see $run)"
    unzip -tq "$archive" >/dev/null || { echo "   unzip -t rejects $archive" >&2; FAILED=1; }
    copy=$run/unzipped
    unzip -q -o "$archive" -d "$copy" || die "unzip could not unpack $archive"
    echo "   archive $(basename "$archive"): $(unzip -Z1 "$archive" | wc -l) entries, $(du -k "$archive" | cut -f1) KB" >&2
  fi
  if ((rc != 0)); then
    tail -3 "$run/stderr.txt" >&2
    ((rc == 1)) || die "harvix-cli exited $rc in round $r (see $run)"
    echo "   harvix-cli finished with errors (exit 1) in round $r" >&2
    FAILED=1
  fi
  read -r secs user sys rss <"$run/time.txt"
  # The unpacked copy carries the archive's times: the archive's own counts.
  local written=$copy
  [[ $mode == zip ]] && written=$run/data/Downloads
  record "$tool" "$r" "$secs" "$user" "$sys" "$rss" "$rc" $(($(access_lines) - before)) \
    "$( [[ -d $written ]] && last_write "$written" "$start" || echo 0)"
  echo "   $(tail -1 "$run/stderr.txt")" >&2
  check_copy "$tool" "$r" "$copy"
  if ((r == 1)); then
    echo "   harvix-cli folders after round 1: $(cd "$run" && find home config data xdg -maxdepth 2 | tr '\n' ' ')" >&2
  fi
}

run_wget2() {
  local r=$1 run=$WORK/runs/wget2-$1 rc=0 before start copy
  mkdir -p "$run/out" "$run/home"
  before=$(access_lines)
  start=$(now)
  (cd "$run" && exec env HOME="$run/home" "$TIME" -f "%e %U %S %M" -o "$run/time.txt" \
    "$WGET2" "${WGET2_PLAIN[@]}" --no-tls-resume \
    --mirror --convert-links --page-requisites --no-parent --max-threads="$CONNECTIONS" -q -P "$run/out" \
    "$ORIGIN/index.html" </dev/null >"$run/stdout.txt" 2>"$run/stderr.txt") &
  RUN_PID=$!
  wait "$RUN_PID" || rc=$?
  RUN_PID=
  ((rc == 0)) || { tail -3 "$run/stderr.txt" >&2; echo "   wget2 exited $rc in round $r" >&2; }
  copy=$(find "$run/out" -mindepth 1 -maxdepth 1 -type d | head -1)
  read -r secs user sys rss <"$run/time.txt"
  record wget2 "$r" "$secs" "$user" "$sys" "$rss" "$rc" $(($(access_lines) - before)) \
    "$( [[ -n $copy ]] && last_write "$copy" "$start" || echo 0)"
  check_copy wget2 "$r" "${copy:-$run/out/none}"
  local stray
  stray=$(find "$run/home" -type f | wc -l)
  ((stray == 0)) || echo "   note: wget2 wrote $stray files into its HOME" >&2
}

say "$ROUNDS rounds, $CONNECTIONS connections each"
for ((r = 1; r <= ROUNDS; r++)); do
  run_harvix "$r"
  ((ZIP)) && run_harvix "$r" zip
  run_wget2 "$r"
  # The last round's copies stay (for KEEP=1); earlier ones go.
  if ((r > 1)); then
    rm -rf "$WORK/runs/harvix-$((r - 1))/home" "$WORK/runs/wget2-$((r - 1))/out" \
      "$WORK/runs/harvixzip-$((r - 1))/unzipped" "$WORK/runs/harvixzip-$((r - 1))/temp"
  fi
done

# --- the tables -----------------------------------------------------------------
median() { sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column_of() { awk -v t="$1" -v c="$2" '$1 == t { print $c }' "$RESULTS"; }
# tool name: the figure from the last round's check
figure() { awk -v t="$1" -v k="$2" '$1 == t { for (i = 3; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) v = kv[2] } } END { print v + 0 }' "$WORK/checks.txt"; }
same_every_round() { # tool key: "" or a note when the rounds differ
  awk -v t="$1" -v k="$2" '$1 == t { for (i = 3; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) s[kv[2]] = 1 } }
    END { n = 0; for (x in s) n++; if (n > 1) print " (differs between rounds)" }' "$WORK/checks.txt"
}

TOOLS=(harvix wget2)
((ZIP)) && TOOLS=(harvix harvixzip wget2)
declare -A MED CPU RSS
for t in "${TOOLS[@]}"; do
  MED[$t]=$(column_of "$t" 3 | median)
  CPU[$t]=$(awk -v t="$t" '$1 == t { print $4 + $5 }' "$RESULTS" | median)
  RSS[$t]=$(column_of "$t" 6 | sort -n | tail -1)
done
pages_total=$(grep -c '\.html$' "$SITE.files")
images_total=$(grep -cE '\.(gif|jpg|png)$' "$SITE.files")
queries_total=$(wc -l <"$SITE.queries")

echo
echo "mirror of $ORIGIN/index.html: $(wc -l <"$SITE.files") files ($pages_total pages, $images_total images," \
  "1 style sheet, 1 script, $(du -sk "$SITE" | cut -f1) KB on disk) and $queries_total query-string links to" \
  "list pages; $CONNECTIONS connections, $ROUNDS rounds"
printf '%-11s %9s %11s %11s %9s %13s %7s %7s %7s %7s %9s\n' tool "wall (s)" "min-max" "last write" "cpu (s)" \
  "max RSS (KB)" files pages images queries requests
for t in "${TOOLS[@]}"; do
  name=$t; [[ $t == harvix ]] && name=harvix-cli; [[ $t == harvixzip ]] && name=harvix-zip
  range="$(column_of "$t" 3 | sort -n | head -1)-$(column_of "$t" 3 | sort -n | tail -1)"
  printf '%-11s %9.2f %11s %11.2f %9.2f %13d %7d %7d %7d %7d %9d\n' "$name" "${MED[$t]}" "$range" \
    "$(column_of "$t" 9 | median)" "${CPU[$t]}" "${RSS[$t]}" \
    "$(figure "$t" files)" "$(figure "$t" pages)" "$(figure "$t" images)" "$(figure "$t" query_pages)" \
    "$(column_of "$t" 8 | median)"
done
echo "(wall, last write, cpu (user+sys): medians; last write: seconds from the start to the newest file's"
echo " last change; max RSS: the highest; files ... queries: last round; pages: .html files other than query"
echo " pages; queries: files saved for query-string URLs; requests: median of nginx's access log lines)"
awk -v hw="${MED[harvix]}" -v ww="${MED[wget2]}" -v hc="${CPU[harvix]}" -v wc="${CPU[wget2]}" \
  -v hr="${RSS[harvix]}" -v wr="${RSS[wget2]}" 'BEGIN {
  printf "ratios harvix-cli/wget2: wall %s, cpu %s, max RSS %s\n",
    (ww > 0 ? sprintf("%.2f", hw / ww) : "n/a"), (wc > 0 ? sprintf("%.2f", hc / wc) : "n/a"),
    (wr > 0 ? sprintf("%.2f", hr / wr) : "n/a") }'
if ((ZIP)); then
  awk -v zw="${MED[harvixzip]}" -v hw="${MED[harvix]}" 'BEGIN {
    printf "ratio harvix-cli --zip / harvix-cli (folder): wall %s\n", (hw > 0 ? sprintf("%.2f", zw / hw) : "n/a") }'
  echo "harvix-cli --zip copy (unpacked, last round): missing pages $(figure harvixzip missing_pages)," \
    "images $(figure harvixzip missing_images); broken links $(figure harvixzip broken)," \
    "leaving $(figure harvixzip outside)"
fi
echo "exit codes: harvix-cli $(column_of harvix 7 | tr '\n' ' ')| wget2 $(column_of wget2 7 | tr '\n' ' ')"

echo
echo "harvix-cli's copy (last round)                         found   expected"
row() { printf '  %-50s %7s %10s%s\n' "$1" "$2" "$3" "$4"; }
row "site pages saved (missing: $(figure harvix missing_pages))" "$((pages_total - $(figure harvix missing_pages)))" \
  "$pages_total" "$(same_every_round harvix missing_pages)"
row "site images saved (missing: $(figure harvix missing_images))" "$((images_total - $(figure harvix missing_images)))" \
  "$images_total" "$(same_every_round harvix missing_images)"
row "style sheet and script missing" "$(figure harvix missing_other)" 0 ""
row "query-string URLs saved as pages" "$(figure harvix query_urls)" "$queries_total" "$(same_every_round harvix query_urls)"
row "other .html files (folder links, ...)" "$(figure harvix extra_pages)" "" ""
row "other files" "$(figure harvix extra_files)" "" ""
row "links (href/src) checked in saved pages" "$(figure harvix links)" "" "$(same_every_round harvix links)"
row "  broken (relative, no such file)" "$(figure harvix broken)" 0 "$(same_every_round harvix broken)"
row "  leaving the copy" "$(figure harvix outside)" 0 ""
row "  relative with a query, left as they were" "$(figure harvix query_links)" "" "$(same_every_round harvix query_links)"
row "  root-relative, left as they were" "$(figure harvix root_relative)" 0 ""
row "  absolute to the served site, left as they were" "$(figure harvix absolute_home)" 0 ""
row "  absolute elsewhere" "$(figure harvix absolute_other)" "" ""
echo "wget2's copy, same check: broken $(figure wget2 broken), leaving $(figure wget2 outside)," \
  "root-relative $(figure wget2 root_relative), absolute to the site $(figure wget2 absolute_home)," \
  "with a query $(figure wget2 query_links);" \
  "missing pages $(figure wget2 missing_pages), images $(figure wget2 missing_images)," \
  "query URLs $(figure wget2 query_urls)/$queries_total"

for k in missing_pages missing_images missing_other broken outside root_relative absolute_home; do
  ((FAILED == 0)) || break
  awk -v k="$k" '$1 == "harvix" || $1 == "harvixzip" { for (i = 3; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k && kv[2] != 0) bad = 1 } }
    END { exit bad }' "$WORK/checks.txt" || FAILED=1
done
missing_q=$(figure harvix missing_queries)
((missing_q == 0)) || echo "note: harvix-cli did not save $missing_q of the $queries_total query-string URLs (see the examples of round 1)"
if ((FAILED)); then
  echo "mirror_bench: harvix-cli's copy failed a check (examples above)" >&2
  exit 1
fi
