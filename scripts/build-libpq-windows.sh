#!/usr/bin/env bash
# Cross-builds libpq, PostgreSQL's client library, for 64-bit Windows with MinGW-w64 from
# Debian's own postgresql-15 source package, for fieldkit-cli.exe's shop database. The result
# (include/ and the static libraries in lib/) is kept outside the checkout, in
# ${XDG_CACHE_HOME:-~/.cache}/fieldkit/libpq-15-windows, where the windows preset finds it;
# the script does nothing when it is there already.
#
# Built without OpenSSL: the Windows programs refuse the sslmode values that need TLS
# (require, verify-ca, verify-full) rather than connect unencrypted.
#
#   scripts/build-libpq-windows.sh                 build it (or find it built)
#   scripts/build-libpq-windows.sh --archives DIR  take it from DIR's archive when its checksum
#                                                  holds, else build it
set -euo pipefail
. "$(dirname "$0")/third-party-cache.sh"
archives=""
while [ $# -gt 0 ]; do
  case "$1" in
    --archives) archives=${2:?--archives needs a folder}; shift ;;
    *) echo "build-libpq-windows.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
cache="${XDG_CACHE_HOME:-$HOME/.cache}/fieldkit"
prefix="$cache/libpq-15-windows"
[ -f "$prefix/built" ] && exit 0
[ -n "$archives" ] && seed_from_archive "$archives" "$prefix" built && exit 0

work="$cache/libpq-15-windows.work"
rm -rf "$work" "$prefix"
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial"
machine_source_lists "$work/apt"
apt_options=("${apt_source_options[@]}"
             -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt" -o "APT::Sandbox::User=root")
echo "== libpq for Windows: fetching Debian's postgresql-15 source"
apt-get "${apt_options[@]}" -qq update
# The security update may be announced before its source reaches the mirror: fall back to the
# newest version that is there.
cd "$work"
fetched=""
for version in $(apt-cache "${apt_options[@]}" showsrc postgresql-15 | sed -n 's/^Version: //p' | sort -rV | uniq); do
  if apt-get "${apt_options[@]}" -qq --download-only source "postgresql-15=$version" > /dev/null 2>&1; then
    fetched=$version
    break
  fi
done
[ -n "$fetched" ] || { echo "build-libpq-windows.sh: no postgresql-15 source could be fetched" >&2; exit 1; }
dpkg-source -x --no-check postgresql-15_"${fetched#*:}".dsc source > /dev/null

echo "== libpq for Windows: building postgresql-15 $fetched"
cd source
./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix --prefix="$prefix" \
  --without-readline --without-zlib --without-icu --without-openssl > "$work/configure.log"
make -s -C src/interfaces/libpq -j"$(nproc)" > "$work/make.log" 2>&1

mkdir -p "$prefix/include" "$prefix/lib"
cp src/interfaces/libpq/libpq-fe.h src/interfaces/libpq/libpq-events.h src/include/postgres_ext.h \
   src/include/pg_config_ext.h "$prefix/include/"
# On Windows libpq's make leaves an import library for its DLL; fieldkit-cli.exe links the
# library's own objects instead (without the DLL's version resource), and the two helper
# libraries they need.
x86_64-w64-mingw32-ar crs "$prefix/lib/libpq.a" $(ls src/interfaces/libpq/*.o | grep -v libpqrc.o)
# libpq brings a small pthread emulation of its own, whose names clash with the C++ runtime's
# winpthreads in one static exe: libpq keeps its own under names of its own.
renames=()
for name in pthread_self pthread_setspecific pthread_getspecific pthread_mutex_init pthread_mutex_lock pthread_mutex_unlock; do
  renames+=(--redefine-sym "$name=pq_$name")
done
x86_64-w64-mingw32-objcopy "${renames[@]}" "$prefix/lib/libpq.a"
cp src/common/libpgcommon_shlib.a src/port/libpgport_shlib.a "$prefix/lib/"
echo "$fetched" > "$prefix/built"
rm -rf "$work"
echo "== libpq for Windows: $prefix"
