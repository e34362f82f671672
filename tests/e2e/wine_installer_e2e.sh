#!/usr/bin/env bash
# The Windows installer as an administrator runs it for many PCs: made by cpack, installed
# silently (/S) into a Wine prefix of its own, checked (the files under Program Files\FieldKit,
# the Start menu shortcut that starts the desktop program with --work-folder, the entry in
# the list of installed programs), then removed silently, leaving none of that behind.
# Usage: wine_installer_e2e.sh WINE BUILD_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
wine=$1 build=$2 work=$3
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

(cd "$build" && cpack -G NSIS -B "$work/package" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
setup=$(ls "$work"/package/fieldkit-*-win64-setup.exe)
echo "installer: $(basename "$setup"), $(stat -c %s "$setup") bytes"

export WINEPREFIX="$work/wine-prefix"
wineserver="$(dirname "$wine")/wineserver"
trap '"$wineserver" -k > /dev/null 2>&1 || true' EXIT
"$wine" wineboot -i > /dev/null 2>&1
folder="$WINEPREFIX/drive_c/Program Files/FieldKit"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/FieldKit/FieldKit.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\FieldKit'

"$wine" "$setup" /S < /dev/null > install.log 2>&1 || true
"$wineserver" -w
for file in fieldkit.exe fieldkit-cli.exe README-Windows.txt examples/Info.txt examples/AppConfig.ini \
            examples/corvo_boot.s19 examples/corvo_fwapp.s19 Uninstall.exe; do
  check "installed: $file" test -f "$folder/$file"
done
for program in fieldkit.exe fieldkit-cli.exe; do
  check "$program is stripped" bash -c \
    "x86_64-w64-mingw32-objdump -h '$folder/$program' > sections.txt && ! grep -q debug_info sections.txt"
done
check "Start menu shortcut FieldKit" test -f "$shortcut"
# A shortcut holds its arguments as UTF-16 text, its target as UTF-16 or ANSI text.
lnk_text() { strings -el "$shortcut"; strings "$shortcut"; }
check "the shortcut starts fieldkit.exe" bash -c "$(declare -f lnk_text); shortcut='$shortcut'; lnk_text | grep -qi 'FieldKit.fieldkit\.exe'"
check "the shortcut passes --work-folder" bash -c "strings -el '$shortcut' | grep -qx -- '--work-folder'"
"$wine" reg query "$key" > registry.log 2>&1 || true
check "listed among the installed programs" grep -q 'DisplayName.*FieldKit' registry.log
check "with its uninstaller" grep -qi 'UninstallString.*Uninstall.exe' registry.log

"$wine" "$folder/Uninstall.exe" /S < /dev/null > uninstall.log 2>&1 || true
"$wineserver" -w
# The uninstaller hands over to a copy of itself and returns at once: give it time.
wait_for 60 test ! -e "$folder/fieldkit.exe" || true
"$wineserver" -w
check "uninstalled: the programs" test ! -e "$folder/fieldkit.exe" -a ! -e "$folder/fieldkit-cli.exe"
check "uninstalled: the folder" test ! -e "$folder"
check "uninstalled: the shortcut" test ! -e "$shortcut"
check "uninstalled: the list entry" bash -c "! '$wine' reg query '$key' > /dev/null 2>&1"

echo "$failures failed"
test "$failures" -eq 0
