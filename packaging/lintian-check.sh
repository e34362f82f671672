#!/bin/sh
# Builds the Debian package from the build tree given and has lintian check it: any error or
# warning fails. Exits 77 (skipped) where lintian is not installed.
set -eu
build=$1
work=$2
command -v lintian >/dev/null 2>&1 || { echo "lintian is not installed: not checked"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
package=$(ls "$work"/fieldkit_*.deb)
echo "lintian $package"
lintian --fail-on error,warning "$package"
