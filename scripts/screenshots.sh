#!/usr/bin/env bash
# Writes a picture of each dialog of the desktop interface into docs/screenshots/ (English and
# French): builds tests/ui/qt/screenshots.cc, takes the launcher picture from the
# sample installation source, and runs the dialogs on a virtual X server. Look at each picture
# before committing them: nothing cut off, nothing overlapping.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target qt-screenshots make-sample-source engine_luc
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-shots-XXXXXX")
trap 'rm -rf "$work"' EXIT
./build/tools/make-sample-source "$work/source" >/dev/null
out=docs/screenshots
mkdir -p "$out"
# QT_SCALE_FACTOR=2 shows the same dialogs at 200%.
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ./build/tests/ui/qt-screenshots "$out" build/data/engine.luc "$work/source/install/data/Nuvel.jpg"
