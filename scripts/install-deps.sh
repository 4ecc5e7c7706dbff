#!/usr/bin/env bash
# Installs every Debian package that building, testing and benchmarking nuvel-setup needs.
# Idempotent: packages already present are left alone, and apt is not touched at all when
# nothing is missing. Run as root (CI) or through sudo.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config
  # libraries
  zlib1g-dev libzip-dev zipcmp zipmerge ziptool libcurl4-openssl-dev libssl-dev libicu-dev
  qt6-base-dev libcpp-httplib-dev libsqlite3-dev
  # the sanitizer build and the fuzz targets (clang, its sanitizer and libFuzzer runtimes)
  clang libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev desktop-file-utils trash-cli zip unzip
  xvfb xauth hyperfine curl python3 ansible-core
  # peers started by the network tests
  nginx tinyproxy openssl
  # the Debian package and its test: lintian, the manual pages, the bash completion
  lintian man-db mandoc bash-completion
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
