#!/usr/bin/env bash
# Builds the Debian package of nuvel-setup: a release build with Debian's compiler and hardening
# flags (dpkg-buildflags) in build-deb/ (NUVEL_DEB_BUILD_DIR), without the tests, packed by CPack.
# Everything goes to standard error except the last line of standard output: the absolute path
# of the one .deb made.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${NUVEL_DEB_BUILD_DIR:-build-deb}

bash scripts/install-deps.sh >&2

# The changelog's date is the last commit's, so the same commit packs the same files.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Release without CMake's own -O3: the optimisation level is dpkg-buildflags' choice.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DNUVEL_BUILD_TESTS=OFF \
  "${launcher[@]}" >&2
cmake --build "$dir" -j "${NUVEL_JOBS:-$(nproc)}" >&2

rm -f "$dir"/nuvel-setup_*.deb
(cd "$dir" && cpack -G DEB) >&2
debs=("$root/$dir"/nuvel-setup_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "build-deb: expected one package in $dir, found: ${debs[*]}" >&2
  exit 1
fi
echo "${debs[0]}"
