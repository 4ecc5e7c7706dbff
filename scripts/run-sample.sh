#!/usr/bin/env bash
# The main job: builds nuvel-setup and runs it on an installation source inside a throw-away
# sysroot, then shows where everything landed and prints the log it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-sample-XXXXXX")
mkdir -p "$work/source" "$work/home" "$work/tmp"
export NUVEL_SYSROOT="$work" HOME="$work/home" TMPDIR="$work/tmp"
status=0
./build/setup/nuvel-setup --source "$work/source" --ui script || status=$?
echo "nuvel-setup exited with status $status"
echo "sysroot:     $work"
echo "system folder: $work/opt/Nuvel"
echo "log:         $work/opt/Nuvel/Nuvel_log.txt"
echo "----- Nuvel_log.txt -----"
tr -d '\r' < "$work/opt/Nuvel/Nuvel_log.txt"
exit $status
