#!/usr/bin/env bash
# End to end on Windows, as far as Wine shows it, for the desktop program: fieldkit.exe under
# Wine on a virtual X display, in a folder with the firmware files, COM1 mapped (as in
# wine_cli_e2e.sh) to the Linux lodestar-sim's pseudo-terminal at 115200 baud. The upgrade
# is started from the keyboard as a technician would; the "Done" box must come, and the
# emulated flash must then hold fieldkit-cli.exe's image byte for byte.
# Prints the start-up and upgrade times. With FIELDKIT_SCREENSHOTS=DIR it also saves
# windows-main-window.png, windows-upgrading.png and windows-done-box.png there.
# Usage: wine_desktop_e2e.sh WINE FIELDKIT_EXE FIELDKIT_CLI_EXE LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
on_virtual_display "$0" "$@"
wine=$1 exe=$2 cli=$3 sim=$4 examples=$5 work=$6
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset FIELDKIT_COM1 FIELDKIT_COM2 FIELDKIT_COM3 FIELDKIT_COM4 QT_QPA_PLATFORM
shots=${FIELDKIT_SCREENSHOTS:-}

rm -rf "$work"
mkdir -p "$work"
cp "$examples"/corvo_boot.s19 "$examples"/corvo_fwapp.s19 "$examples"/AppConfig.ini "$examples"/Info.txt "$work/"
cd "$work"
work=$(pwd)
# Window frames, and the focus that the keyboard needs.
command -v openbox > /dev/null && { openbox > /dev/null 2>&1 & }

wine_prefix_with_com1 "$wine" "$work"

sim_pid="" app_pid=""
stop() {
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2> /dev/null || true
    wait "$app_pid" 2> /dev/null || true
    app_pid=""
  fi
  if [ -n "$sim_pid" ]; then
    kill -INT "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    sim_pid=""
  fi
}
trap 'stop; "$wineserver" -k > /dev/null 2>&1 || true' EXIT

# The image an upgrade writes for this board, from the command line.
params=$(printf '%02X' $(seq 101 152))
"$wine" "$cli" image --out expected.bin --band-edge 746000000 --variant-flag 0x80 --param-block "$params" --yes \
  < /dev/null > image.log 2>&1
check "image file is 0x60000 bytes" test "$(stat -c %s expected.bin)" -eq $((0x60000))

"$sim" --link "$work/lodestar.line" --baud 115200 --band-edge 746000000 --variant-flag 0x80 --version R07.10.00 \
  --param-block "$params" --dump-flash flash.bin > sim.log 2>&1 &
sim_pid=$!
wait_for 5 test -e lodestar.line

# The window whose title matches, waiting up to `seconds` for it.
window() { timeout "$2" xdotool search --sync --onlyvisible --name "$1" 2> /dev/null | head -n 1; }
shot() { # file name, window id
  [ -n "$shots" ] || return 0
  sleep 0.5
  import -frame -window "$2" "$shots/$1.png"
  echo "screenshot: $1.png"
}

started=$(date +%s%N)
"$wine" "$exe" > fieldkit.log 2>&1 &
app_pid=$!
main=$(window "Lodestar Board Upgrade Software" 60 || true)
check "the main window appears" test -n "$main"
[ -n "$main" ] || { cat fieldkit.log; exit 1; }
echo "fieldkit.exe start to a shown window: $(( ($(date +%s%N) - started) / 1000000 )) ms"
xdotool windowactivate --sync "$main" 2> /dev/null || true
shot windows-main-window "$main"

begun=$(date +%s%N)
xdotool key --clearmodifiers ctrl+u
if [ -n "$shots" ]; then
  sleep 8
  shot windows-upgrading "$main"
fi
done_box=$(window "^Done$" 240 || true)
elapsed=$(( ($(date +%s%N) - begun) / 1000000 ))
check "the Done box comes" test -n "$done_box"
echo "paced 115200-baud upgrade from fieldkit.exe under Wine: $(awk "BEGIN { printf \"%.2f\", $elapsed / 1000 }") s"
if [ -n "$done_box" ]; then
  check "the Done box says so" bash -c "xdotool getwindowname '$done_box' | grep -qx Done"
  shot windows-done-box "$done_box"
  xdotool windowactivate --sync "$done_box" 2> /dev/null || true
  xdotool key --clearmodifiers Return
fi
# Closing the idle window asks nothing: the program ends by itself.
xdotool windowactivate --sync "$main" 2> /dev/null || true
xdotool key --clearmodifiers alt+F4
check "the program ends when its window is closed" wait_for 20 bash -c "! kill -0 $app_pid 2> /dev/null"
stop

check "application region in flash" cmp -s <(region expected.bin 0 80) <(region flash.bin 160 80)
check "boot region in flash" cmp -s <(region expected.bin 92 4) <(region flash.bin 252 4)

echo "$failures failed"
test "$failures" -eq 0
