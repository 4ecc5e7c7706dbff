#!/usr/bin/env bash
# Writes a picture of each dialog of the desktop interface into docs/screenshots/: every dialog
# in English and French, the Welcome and Install Options also in Arabic (right to left) and at
# 200% (QT_SCALE_FACTOR=2). Builds tests/ui/qt/screenshots.cc, makes a sample installation source
# (its launcher picture, its read-me, its courses for the lists) and a machine of its own to
# install into, and runs the dialogs on a virtual X server. Look at each picture before
# committing them: nothing cut off, nothing overlapping.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target qt-screenshots make-sample-source engine_luc
work=$(mktemp -d "${TMPDIR:-/tmp}/nuvel-shots-XXXXXX")
trap 'rm -rf "$work"' EXIT
./build/tools/make-sample-source "$work/source" >/dev/null
out=docs/screenshots
mkdir -p "$out" "$work/root/home" "$work/root/tmp" "$work/root/opt/Nuvel"
# The download server refuses at once, so that no run waits for a name look-up.
printf '[Records]\r\ndownloadaddress=http://127.0.0.1:1/softwareupdates/courses2\r\n' \
  >"$work/root/opt/Nuvel/records.ini"
# The server list of the student login dialog.
cp "$work/source/install/data/versions.ini" "$work/root/opt/Nuvel/VERSION2M.INI"
shoot() {
  env -u WAYLAND_DISPLAY NUVEL_SYSROOT="$work/root" HOME="$work/root/home" \
    TMPDIR="$work/root/tmp" XDG_RUNTIME_DIR="$work/root/tmp" "$@" \
    xvfb-run -a -s "-screen 0 1280x1024x24" ./build/tests/ui/qt-screenshots "${args[@]}" "$out" \
    build/data/engine.luc "$work/source/install/data/Nuvel.jpg" "$work/source"
}
args=()
shoot
args=(--scaled)
shoot QT_SCALE_FACTOR=2
