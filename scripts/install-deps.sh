#!/usr/bin/env bash
# Installs the Debian 12 packages FieldKit needs; does nothing for packages already there.
# Run as root or with sudo available.
#
# Usage: install-deps.sh [--demo] [PACKAGE ...]
#   --demo     only what scripts/demo.sh needs to build and run fieldkit-cli and lodestar-sim
#   PACKAGE    further packages a script needs (the fuzzers' clang, say)
set -euo pipefail

# Enough to build the command line and the emulator.
demo_packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libqt6serialport6
  libcli11-dev nlohmann-json3-dev libgcrypt20-dev libpq-dev
)
# The desktop program, the tests and benchmarks, the manual pages, the screenshots, and the
# Windows cross build with its tests under Wine and its package.
other_packages=(
  qt6-qpa-plugins libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  srecord time python3 xvfb xauth imagemagick xdotool openbox help2man lintian
  g++-mingw-w64-x86-64-posix libgcrypt-mingw-w64-dev wine64
  postgresql dpkg-dev qt6-base-dev-tools nsis fonts-wine
)

packages=("${demo_packages[@]}")
if [ "${1:-}" = "--demo" ]; then
  shift
else
  packages+=("${other_packages[@]}")
fi
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
