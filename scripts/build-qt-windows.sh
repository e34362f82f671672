#!/usr/bin/env bash
# Builds the static Qt that the Windows desktop program links, from Debian 12's own qt6-base
# source with Debian's patches, cross-compiled with MinGW-w64 and driven by the host tools of
# Debian's qt6-base-dev-tools. Does nothing when a build of the same version and options is
# already in the cache folder. Prints the Qt prefix on its last line.
#
#   scripts/build-qt-windows.sh                 build (or find) it
#   scripts/build-qt-windows.sh --archives DIR  take it from DIR's archive of this very build
#                                               when its checksum holds, else build it
#   scripts/build-qt-windows.sh --print-prefix  only say where it is, or would be
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/third-party-cache.sh
archives=""
print_prefix=false
while [ $# -gt 0 ]; do
  case "$1" in
    --print-prefix) print_prefix=true ;;
    --archives) archives=${2:?--archives needs a folder}; shift ;;
    *) echo "build-qt-windows.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
toolchain=$root/cmake/mingw-w64-x86_64.cmake

# The host tools (moc, rcc, uic) must be the very version being built.
version=$(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "qt6-base-dev-tools is not installed: run scripts/install-deps.sh" >&2
  exit 1
fi

options=(
  -DCMAKE_BUILD_TYPE=Release
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DBUILD_SHARED_LIBS=OFF -DFEATURE_static_runtime=ON
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  # Bundled third-party code: the build machine's copies are Linux libraries.
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF
  # What the program does not use. Qt Test stays: the desktop tests run under Wine.
  -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_icu=OFF -DFEATURE_vulkan=OFF
  -DFEATURE_jpeg=OFF -DFEATURE_zstd=OFF
  # Debian's source leaves out the pen-tablet library the tablet events need.
  -DFEATURE_tabletevent=OFF
  # OpenGL is only really off with both switches.
  -DINPUT_opengl=no -DFEATURE_opengl=OFF
  # Direct2D stays on: without it the platform plugin misses its DirectWrite font database.
)

compiler=$(x86_64-w64-mingw32-g++-posix --version | head -n 1)
hash=$( { echo "$version"; echo "$compiler"; printf '%s\n' "${options[@]}"; cat "$toolchain"; } \
  | sha256sum | cut -c 1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/fieldkit
prefix=$cache/qt-${version%%+*}-windows-$hash

if $print_prefix; then
  echo "$prefix"
  exit 0
fi
# Written last, so a build that stopped halfway is never taken for a finished one.
marker=$prefix/fieldkit-build-complete
if [ -f "$marker" ]; then
  echo "Qt $version for Windows is already built"
  echo "$prefix"
  exit 0
fi
if [ -n "$archives" ] && seed_from_archive "$archives" "$prefix" fieldkit-build-complete; then
  echo "$prefix"
  exit 0
fi

work=$cache/qt-${version%%+*}-windows-$hash.work
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"

machine_source_lists "$work/apt"
apt_options=(
  "${apt_source_options[@]}"
  -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache"
  -o Debug::NoLocking=1 -o APT::Sandbox::User="$(id -un)"
)
apt-get "${apt_options[@]}" -qq update
# dpkg-source applies debian/patches/series while unpacking.
(cd "$work/src" && apt-get "${apt_options[@]}" -qq source "qt6-base=$version")
source_dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -n 1)
if [ ! -s "$source_dir/.pc/applied-patches" ] \
   || ! diff -q <(grep -v '^#' "$source_dir/debian/patches/series" | sed '/^$/d') "$source_dir/.pc/applied-patches" >/dev/null; then
  echo "Debian's patches were not all applied to $source_dir" >&2
  exit 1
fi

start=$(date +%s)
cmake -G Ninja -S "$source_dir" -B "$work/build" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}"
nice -n 19 ninja -C "$work/build" -j 2
steps=$(ninja -C "$work/build" -t commands | wc -l)
cmake --install "$work/build" >/dev/null
rm -rf "$work"
echo "Qt $version for Windows built: $steps steps in $(( ($(date +%s) - start) / 60 )) minutes" | tee "$marker"
echo "$prefix"
