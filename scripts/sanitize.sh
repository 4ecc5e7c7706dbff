#!/usr/bin/env bash
# Builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/, runs every test under them, then runs each fuzz target for
# NUVEL_FUZZ_SECONDS seconds (default 60) from the seeds fuzz/make-seeds.sh writes.
# Fails on the first sanitizer report, test failure or fuzzer crash; a crashing input is kept
# in build-sanitize/fuzz-findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
seconds=${NUVEL_FUZZ_SECONDS:-60}
build=build-sanitize
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Leaks end a test as any other report; the tests' own child processes run sanitized too.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

phase() { printf '\n== %s (%s)\n' "$1" "$(date -u +%T)"; }
started=$SECONDS
phase "sanitizer build"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNUVEL_SANITIZE=ON -DNUVEL_BUILD_FUZZERS=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "built in $((SECONDS - started)) s"

started=$SECONDS
phase "tests under the sanitizers"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 900
echo "tests ran in $((SECONDS - started)) s"

phase "fuzzing, ${seconds} s per target"
corpus=$build/fuzz-corpus
findings=$build/fuzz-findings
rm -rf "$corpus" "$findings"
mkdir -p "$findings"
bash fuzz/make-seeds.sh "$build" "$corpus"
status=0
for target in profile_fuzz answers_fuzz messages_fuzz source_files_fuzz expand_fuzz \
    server_list_fuzz login_reply_fuzz comp_reply_fuzz records_fuzz; do
  log=$build/$target.log
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-fuzz-XXXXXX")
  if TMPDIR=$scratch "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 60 "$log"
  fi
  rm -rf "$scratch"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "$target: $result after ${runs:-?} executions"
done
exit $status
