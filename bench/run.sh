#!/usr/bin/env bash
# Times the copy engine and the archive expansion against their references on the same data,
# the download of one large file and a forced-download installation against curl (and unzip)
# from an nginx on loopback, and the copy registry against a std::set, then prints one table
# with median times, ratios and the peak memory of our runs.
#
#   bench/run.sh                 build (Release, -DNUVEL_BUILD_BENCHMARKS=ON) and run
#   RUNS=9 bench/run.sh          timed runs per side (default 7)
#   BUILD_DIR=... bench/run.sh   build folder (default build-bench; configured when it has no
#                                build.ninja yet)
#   ONLY=desktop bench/run.sh    only the two desktop measurements below
#
# The desktop interface (when the build has Qt; offscreen, no display needed): the start-up of
# nuvel-setup to its Welcome on the sample source, timed by hyperfine (the test seam
# NUVEL_TEST_CLOSE_FIRST_DIALOG closes the Welcome once it is drawn; target < 300 ms), and the
# largest pause of the event loop during a copy (bench_gui_gap installs every course of a sample
# source of GUI_MB [1000] MB through the flow while a timer ticks; target <= 100 ms).
#
# Sizes (defaults in brackets): BIG_FILES [2000] BIG_MB [500] SMALL_FILES [20000]
# SMALL_KB [4, the mean file size] ZIP_FILES [1500] ZIP_TREE_MB [450: a quarter text-like, it
# zips to about 300 MB] DOWNLOAD_MB [1024] INSTALL_MB [600: the sample source's content; the
# installation takes one course in all its languages, about a third of it].
#
# The page cache cannot be dropped without privileges, so both sides run warm: one untimed run
# of each first, then timed runs that alternate which side goes first. The disk is synced before
# every run, so no run pays for another's write-back. Every run writes a fresh destination.
# The copies of large files are deleted after each run, so that the next run's page cache comes
# from memory already in use (on a virtual machine, memory touched for the first time is slow
# and makes the timings drift). The copies of the many small files are made first and kept
# until the script ends: on ext4, creating files within a minute or so of many deletions is
# several times slower, and by how much depends on where the new folder lands (the inode
# allocator reads every recently deleted inode it passes over).
#
# For the same reason the whole run happens on a fresh ext4 file system of its own when the
# script can make one (run as root, mkfs.ext4 and loop devices available): an 8 GB sparse image
# in the temporary folder, mounted for the run and removed afterwards. Deletions elsewhere on the
# machine's disk then cannot slow one side down. BENCH_FS=tmp skips this and works in the
# temporary folder itself (about 3 GB with the defaults).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$ROOT/build-bench}
RUNS=${RUNS:-7}
BIG_FILES=${BIG_FILES:-2000}
BIG_MB=${BIG_MB:-500}
SMALL_FILES=${SMALL_FILES:-20000}
SMALL_KB=${SMALL_KB:-4}
ZIP_FILES=${ZIP_FILES:-1500}
ZIP_TREE_MB=${ZIP_TREE_MB:-450}
DOWNLOAD_MB=${DOWNLOAD_MB:-1024}
INSTALL_MB=${INSTALL_MB:-600}
GUI_MB=${GUI_MB:-1000}
MEMORY_TARGET_MB=64

if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DNUVEL_BUILD_BENCHMARKS=ON -DNUVEL_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$BUILD_DIR" bench_copy bench_registry bench_download nuvel-setup make-sample-source \
  >/dev/null
HAVE_QT=""
if ninja -C "$BUILD_DIR" -t targets all | grep -q '^bench_gui_gap:'; then
  ninja -C "$BUILD_DIR" bench_gui_gap >/dev/null
  HAVE_QT=yes
fi
BENCH="$BUILD_DIR/bench/bench_copy"
REGISTRY="$BUILD_DIR/bench/bench_registry"
DOWNLOADER="$BUILD_DIR/bench/bench_download"

WORK=$(mktemp -d /tmp/nuvel-bench-XXXXXX)
IMAGE=""
NGINX_PID=""
cleanup() {
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; fi
  if [ -n "$IMAGE" ]; then
    umount "$WORK" 2>/dev/null || true
    rm -f "$IMAGE"
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT
FS_NOTE="the temporary folder's file system"
if [ "${BENCH_FS:-loop}" = loop ] && [ "$(id -u)" = 0 ] && command -v mkfs.ext4 >/dev/null; then
  IMAGE="$WORK.img"
  if truncate -s 8G "$IMAGE" && mkfs.ext4 -q -F -N 1000000 "$IMAGE" &&
    mount -o loop "$IMAGE" "$WORK" 2>/dev/null; then
    FS_NOTE="a fresh ext4 file system of its own"
  else
    echo "no loop file system here; running in $WORK" >&2
    rm -f "$IMAGE"
    IMAGE=""
  fi
fi

TIME_BIN=""
if [ -x /usr/bin/time ]; then TIME_BIN=/usr/bin/time; fi

# run_timed OUT_PREFIX COMMAND...: runs once; appends the wall time (s) to OUT_PREFIX.times and
# the peak resident memory (KB) to OUT_PREFIX.rss.
run_timed() {
  local prefix=$1
  shift
  local start end
  start=$(date +%s%N)
  if [ -n "$TIME_BIN" ]; then
    "$TIME_BIN" -f %M -o "$WORK/rss.tmp" "$@" >"$WORK/out.tmp"
  else
    "$@" >"$WORK/out.tmp"
  fi
  end=$(date +%s%N)
  calc "($end - $start) / 1000000000" >>"$prefix.times"
  echo >>"$prefix.times"
  if [ -n "$TIME_BIN" ]; then
    tail -n 1 "$WORK/rss.tmp" >>"$prefix.rss"
  else
    sed -n 's/.*maxrss_kb=\([0-9]*\).*/\1/p' "$WORK/out.tmp" >>"$prefix.rss"
  fi
}

# calc EXPRESSION: floating-point arithmetic without bc.
calc() { awk "BEGIN { printf \"%.4f\", $1 }"; }
# is_true EXPRESSION: exit status 0 when the comparison holds.
is_true() { awk "BEGIN { exit !($1) }"; }

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -n "$1" | tail -n 1; }

# compare TAG NAME REFERENCE_LABEL TARGET DEST_PREFIX KEEP REF_COMMAND -- OUR_COMMAND: alternates
# the two. @DEST@ in the commands becomes a fresh destination DEST_PREFIX.N for every run, which
# is deleted right after the run unless KEEP is "keep" (then it stays until the script ends).
compare() {
  local tag="$WORK/$1" name=$2 label=$3 target=$4 dest=$5 keep=$6
  shift 6
  local ref=() ours=()
  while [ "$1" != "--" ]; do ref+=("$1"); shift; done
  shift
  ours=("$@")
  rm -f "$tag".*
  local run=0
  # with_dest COMMAND...: the command with @DEST@ replaced by the next destination.
  with_dest() {
    run=$((run + 1))
    local args=() arg
    for arg in "$@"; do args+=("${arg//@DEST@/$dest.$run}"); done
    WITH_DEST=("${args[@]}")
  }
  sync
  with_dest "${ref[@]}"; "${WITH_DEST[@]}" >/dev/null
  if [ "$keep" != keep ]; then rm -rf "$dest.$run"; fi
  with_dest "${ours[@]}"; "${WITH_DEST[@]}" >/dev/null
  if [ "$keep" != keep ]; then rm -rf "$dest.$run"; fi
  for ((i = 1; i <= RUNS; i++)); do
    local order=(ref ours)
    if ((i % 2 == 0)); then order=(ours ref); fi
    for side in "${order[@]}"; do
      sync
      if [ "$side" = ref ]; then
        with_dest "${ref[@]}"; run_timed "$tag.ref" "${WITH_DEST[@]}"
      else
        with_dest "${ours[@]}"; run_timed "$tag.ours" "${WITH_DEST[@]}"
      fi
      if [ "$keep" != keep ]; then rm -rf "$dest.$run"; fi
    done
  done
  local ref_s ours_s ratio rss_kb
  ref_s=$(median "$tag.ref.times")
  ours_s=$(median "$tag.ours.times")
  ratio=$(calc "$ours_s / $ref_s")
  rss_kb=$(maximum "$tag.ours.rss")
  printf '%s|%s|%.3f|%.3f|%.2f|%s|%.1f|%s\n' "$name" "$label" "$ref_s" "$ours_s" "$ratio" \
    "$target" "$(calc "$rss_kb / 1024")" "${MEMORY_LIMIT_MB:-$MEMORY_TARGET_MB}" >>"$WORK/results"
}

# desktop_benchmarks: the start-up to the Welcome and the largest event-loop pause of a copy,
# each in a machine of its own whose download server refuses at once (no name look-up).
desktop_benchmarks() {
  machine() {
    mkdir -p "$1/home" "$1/tmp" "$1/opt/Nuvel"
    printf '[Records]\r\ndownloadaddress=http://127.0.0.1:1/softwareupdates/courses2\r\n' \
      >"$1/opt/Nuvel/records.ini"
  }
  "$BUILD_DIR/tools/make-sample-source" "$WORK/desktop-src" >/dev/null
  machine "$WORK/desktop-start"
  echo "desktop: start-up to the Welcome ..." >&2
  env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen NUVEL_TEST_CLOSE_FIRST_DIALOG=1 \
    NUVEL_SYSROOT="$WORK/desktop-start" HOME="$WORK/desktop-start/home" \
    TMPDIR="$WORK/desktop-start/tmp" XDG_RUNTIME_DIR="$WORK/desktop-start/tmp" \
    hyperfine -N -w 3 -r "$((RUNS * 3))" --export-json "$WORK/start.json" \
    "$BUILD_DIR/setup/nuvel-setup --ui qt --source $WORK/desktop-src" >/dev/null 2>&1
  START_MS=$(python3 -c 'import json, sys; r = json.load(open(sys.argv[1]))["results"][0]
print("%.1f %.1f" % (r["mean"] * 1000, r["stddev"] * 1000))' "$WORK/start.json")

  echo "desktop: event-loop pauses during a copy of a $GUI_MB MB source ..." >&2
  "$BUILD_DIR/tools/make-sample-source" --force --content-mb "$GUI_MB" "$WORK/desktop-src" \
    >/dev/null
  machine "$WORK/desktop-copy"
  sync
  GAP_LINE=$(env -u DISPLAY -u WAYLAND_DISPLAY NUVEL_SYSROOT="$WORK/desktop-copy" \
    HOME="$WORK/desktop-copy/home" TMPDIR="$WORK/desktop-copy/tmp" \
    XDG_RUNTIME_DIR="$WORK/desktop-copy/tmp" "$BUILD_DIR/bench/bench_gui_gap" \
    "$WORK/desktop-src" 2>/dev/null | head -n 1)
  GAP_MB=$(du -sm "$WORK/desktop-copy/opt/Nuvel/content" | cut -f1)
  rm -rf "$WORK/desktop-copy" "$WORK/desktop-start" "$WORK/desktop-src"
}

# print_desktop: the two desktop lines of the report.
print_desktop() {
  local mean stddev gap verdict
  read -r mean stddev <<<"$START_MS"
  verdict=ok
  if is_true "$mean >= 300"; then verdict=SLOW; fi
  printf '%-48s %10s ms (sd %s)  target < 300 ms  %s\n' "desktop start-up to the Welcome" \
    "$mean" "$stddev" "$verdict"
  gap=$(sed -n 's/.*max_gap_ms=\([0-9]*\).*/\1/p' <<<"$GAP_LINE")
  verdict=ok
  if [ -z "$gap" ] || [ "$gap" -gt 100 ]; then verdict=SLOW; fi
  printf '%-48s %10s ms  target <= 100 ms  %s  (%s)\n' \
    "largest GUI pause, copying $GAP_MB MB" "${gap:-?}" "$verdict" "$GAP_LINE"
}

if [ -n "$HAVE_QT" ]; then desktop_benchmarks; fi
if [ "${ONLY:-}" = desktop ]; then
  [ -n "$HAVE_QT" ] || { echo "this build has no desktop interface" >&2; exit 1; }
  print_desktop
  exit 0
fi

echo "generating trees in $WORK ..." >&2
"$BENCH" make-tree "$WORK/big" "$BIG_FILES" $((BIG_MB * 1024 * 1024)) 1
"$BENCH" make-tree "$WORK/small" "$SMALL_FILES" $((SMALL_FILES * SMALL_KB * 1024)) 2
"$BENCH" make-tree "$WORK/ziptree" "$ZIP_FILES" $((ZIP_TREE_MB * 1024 * 1024)) 3 25
(cd "$WORK/ziptree" && zip -q -r "$WORK/archive.zip" .)
ZIP_MB=$(du -m "$WORK/archive.zip" | cut -f1)
: >"$WORK/results"

echo "copy: $SMALL_FILES small files ..." >&2
compare small "copy ${SMALL_FILES} files / $((SMALL_FILES * SMALL_KB / 1024)) MB" "cp -a" 1.10 \
  "$WORK/copy-small" keep cp -a "$WORK/small" @DEST@ -- "$BENCH" copy "$WORK/small" @DEST@
echo "copy: $BIG_FILES files, $BIG_MB MB ..." >&2
compare big "copy ${BIG_FILES} files / ${BIG_MB} MB" "cp -a" 1.10 "$WORK/copy-big" delete \
  cp -a "$WORK/big" @DEST@ -- "$BENCH" copy "$WORK/big" @DEST@
echo "expand: $ZIP_MB MB archive ..." >&2
compare expand "expand ${ZIP_MB} MB zip (${ZIP_FILES} files)" "unzip -q" 1.20 "$WORK/out" delete \
  unzip -q "$WORK/archive.zip" -d @DEST@ -- "$BENCH" expand "$WORK/archive.zip" @DEST@

# The download server: nginx on loopback serving $WORK/www.
start_nginx() {
  local port
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  mkdir -p "$WORK/nginx/temp"
  cat >"$WORK/nginx/nginx.conf" <<CONF
daemon off; master_process off; pid $WORK/nginx/nginx.pid; error_log $WORK/nginx/error.log;
events { worker_connections 64; }
http { access_log $WORK/nginx/access.log; client_body_temp_path $WORK/nginx/temp/body;
  proxy_temp_path $WORK/nginx/temp/proxy; fastcgi_temp_path $WORK/nginx/temp/fastcgi;
  uwsgi_temp_path $WORK/nginx/temp/uwsgi; scgi_temp_path $WORK/nginx/temp/scgi;
  sendfile on; server { listen 127.0.0.1:$port; root $WORK/www; } }
CONF
  nginx -e "$WORK/nginx/error.log" -p "$WORK/nginx" -c "$WORK/nginx/nginx.conf" &
  NGINX_PID=$!
  for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.1
  done
  URL="http://127.0.0.1:$port"
}
start_nginx

echo "download: $DOWNLOAD_MB MB ..." >&2
mkdir -p "$WORK/www/dl"
head -c $((DOWNLOAD_MB * 1024 * 1024)) /dev/urandom >"$WORK/www/dl/BIG.ZIP"
MEMORY_LIMIT_MB=16 compare download "download ${DOWNLOAD_MB} MB over HTTP" "curl -o" 1.05 \
  "$WORK/dl" delete curl -s --create-dirs -o @DEST@/BIG.ZIP "$URL/dl/BIG.ZIP" -- \
  sh -c 'mkdir -p "$0" && exec "$@"' @DEST@ "$DOWNLOADER" "$URL/dl" BIG.ZIP @DEST@
rm -f "$WORK/www/dl/BIG.ZIP"

echo "forced-download installation: $INSTALL_MB MB source ..." >&2
COURSES="$WORK/www/softwareupdates/courses2"
"$BUILD_DIR/tools/make-sample-source" --content-mb "$INSTALL_MB" --content-as folders \
  --download-tree "$COURSES" "$WORK/src" >/dev/null
rm -rf "$WORK/src/Nuvel/content"  # every course comes from the server
sed -i 's/^force_discless=.*/force_discless=Y\nforce_download_courses=Y/' \
  "$WORK/src/install/data/setup.ini"
cat >"$WORK/forced.answers" <<'ANSWERS'
welcome -> 1
install-options control -> 1
family select 1 -> 1
products -> 1
multi-language select 5 -> 1
install choose 5 -> 1
prompt:MSG_Message_InstallAnother -> 2
prompt:MSG_Message_AboutToInstallPT -> 2
prompt:* -> 1
ANSWERS
# ours DEST: a whole nuvel-setup run in a sysroot of its own, its records.ini naming the server.
cat >"$WORK/ours.sh" <<SCRIPT
#!/bin/sh
set -e
mkdir -p "\$1/home" "\$1/tmp" "\$1/opt/Nuvel"
printf '[Records]\r\ndownloadaddress=$URL/softwareupdates/courses2\r\n' >"\$1/opt/Nuvel/records.ini"
NUVEL_SYSROOT="\$1" HOME="\$1/home" TMPDIR="\$1/tmp" exec "$BUILD_DIR/setup/nuvel-setup" \
  --source "$WORK/src" --answers "$WORK/forced.answers"
SCRIPT
: >"$WORK/nginx/access.log"
sh "$WORK/ours.sh" "$WORK/probe" >/dev/null
ARCHIVES=$(sed -n 's#.*GET /softwareupdates/courses2/courses_d/\([^ ]*\.EXE\) .*#\1#p' \
  "$WORK/nginx/access.log" | sort -u)
[ -n "$ARCHIVES" ] || { echo "the probe installation downloaded nothing" >&2; exit 1; }
INSTALLED_MB=$(du -sm "$WORK/probe/opt/Nuvel/content" | cut -f1)
rm -rf "$WORK/probe"
# ref DEST: the same archives with curl, each unzipped into its subfolder.
{
  echo '#!/bin/sh'
  echo 'set -e'
  echo 'mkdir -p "$1/content"'
  for archive in $ARCHIVES; do
    code=${archive%.EXE}
    code=${code##*_}
    echo "curl -s --create-dirs -o \"\$1/$archive\" \"$URL/softwareupdates/courses2/courses_d/$archive\""
    echo "unzip -q -o \"\$1/$archive\" -d \"\$1/content/$code\""
    echo "rm \"\$1/$archive\""
  done
} >"$WORK/ref.sh"
compare install "forced install, $(echo $ARCHIVES | wc -w) archives, $INSTALLED_MB MB" "curl+unzip" 1.20 \
  "$WORK/inst" delete sh "$WORK/ref.sh" @DEST@ -- sh "$WORK/ours.sh" @DEST@
kill "$NGINX_PID" 2>/dev/null || true
NGINX_PID=""

echo "copy registry ..." >&2
"$REGISTRY" --benchmark_format=csv --benchmark_repetitions="$RUNS" \
  --benchmark_report_aggregates_only=true 2>/dev/null >"$WORK/registry.csv"
registry_ms() { grep "^\"$1_median\"" "$WORK/registry.csv" | cut -d, -f3; }
reg_ours=$(registry_ms BM_CopyRegistry)
reg_ref=$(registry_ms BM_ReferenceSet)

echo
printf '%-38s %-9s %10s %10s %7s %7s %14s\n' "benchmark" "reference" "ref (s)" "ours (s)" \
  "ratio" "target" "ours peak MB"
while IFS='|' read -r name label ref_s ours_s ratio target rss_mb memory_mb; do
  verdict="ok"
  if is_true "$ratio > $target"; then verdict="SLOW"; fi
  if is_true "$rss_mb >= $memory_mb"; then verdict="$verdict, MEMORY"; fi
  printf '%-38s %-9s %10s %10s %7s %7s %14s  %s\n' "$name" "$label" "$ref_s" "$ours_s" "$ratio" \
    "<= $target" "$rss_mb (< $memory_mb)" "$verdict"
done <"$WORK/results"
printf '%-38s %-9s %10.4f %10.4f %7.2f %7s %14s\n' "copy registry, 2 x 20,000 checks" "std::set" \
  "$(calc "$reg_ref / 1000")" "$(calc "$reg_ours / 1000")" "$(calc "$reg_ours / $reg_ref")" \
  "info" "-"
if [ -n "$HAVE_QT" ]; then print_desktop; fi
echo
echo "medians of $RUNS alternating warm runs on $FS_NOTE; peak memory is the largest of our" \
  "runs ($([ -n "$TIME_BIN" ] && echo "/usr/bin/time -v" || echo "getrusage"))"
