#!/usr/bin/env bash
# Installs the Debian 12 packages FieldKit needs to build, test and run; does nothing for
# packages already there. Run as root or with sudo available. Further packages a script
# needs (the fuzzers' clang, say) may be given as arguments.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev libqt6serialport6 qt6-qpa-plugins libgl-dev
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libgcrypt20-dev libgcrypt-mingw-w64-dev
  srecord time python3 xvfb xauth imagemagick xdotool openbox help2man lintian
  g++-mingw-w64-x86-64-posix googletest wine64
  qt6-base-dev-tools dpkg-dev nsis fonts-wine
  "$@"
)

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
