#!/usr/bin/env bash
# The main job: builds nuvel-setup, writes the sample installation source, installs a course
# from it into a throw-away sysroot with the answer file in examples/, and shows where the
# installed tree and the log are.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-sample-XXXXXX")
mkdir -p "$work/home/Desktop" "$work/tmp"
./build/tools/make-sample-source "$work/source" | tail -n 1
export NUVEL_SYSROOT="$work" HOME="$work/home" TMPDIR="$work/tmp"
status=0
./build/setup/nuvel-setup --source "$work/source" --answers examples/install-one-course.answers \
  --transcript "$work/transcript.jsonl" || status=$?
echo
echo "nuvel-setup exited with status $status"
echo "installation:  $work/opt/Nuvel"
echo "records.ini:   $work/opt/Nuvel/records.ini"
echo "log:           $work/opt/Nuvel/Nuvel_log.txt"
echo "dialogs shown: $work/transcript.jsonl"
echo "desktop:       $(ls "$work/home/Desktop" | tr '\n' ' ')"
echo "----- installed tree (two levels) -----"
(cd "$work/opt/Nuvel" && find . -maxdepth 2 | sort | sed 's/^\.\///' | grep -v '^\.$')
echo "----- last lines of Nuvel_log.txt -----"
tr -d '\r' < "$work/opt/Nuvel/Nuvel_log.txt" | tail -n 25
exit $status
