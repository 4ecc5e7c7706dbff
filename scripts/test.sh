#!/usr/bin/env bash
# Builds and runs every test (unit and scenario tests through CTest).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
