#!/usr/bin/env bash
# End to end for the desktop program's bench: `fieldkit --bench 1,2` on a virtual X display,
# COM1 and COM2 each a lodestar-sim board on a pseudo-terminal; COM2's board refuses a page of
# the application code for good. Upgrade all is pressed from the keyboard as a technician
# would. The "Bench finished" box must come (its text is checked by the desktop tests); COM1's
# flash must hold `fieldkit-cli image`'s image byte for byte; COM2's pane must show its message
# with its hint (copied out of the pane from the keyboard); the history must hold a record of
# each port with its ESN. With FIELDKIT_E2E_RUNNER set to Wine, the same for fieldkit.exe, with
# Wine's COM1 and COM2 mapped to the emulators' pseudo-terminals. With FIELDKIT_SCREENSHOTS=DIR
# it saves the bench's screenshots there, named with FIELDKIT_SCREENSHOT_PREFIX in front.
# Usage: desktop_bench_e2e.sh FIELDKIT FIELDKIT_CLI LODESTAR_SIM CLIPBOARD_TEXT EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
on_virtual_display "$0" "$@"
fieldkit=$1 cli=$2 sim=$3 clipboard=$4 examples=$5 work=$6
# Under Wine the programs are run through it, and the COM ports are Wine's own.
run=(${FIELDKIT_E2E_RUNNER:-})
unset QT_QPA_PLATFORM FIELDKIT_COM1 FIELDKIT_COM2 FIELDKIT_COM3 FIELDKIT_COM4

desktop_work_folder "$examples" "$work"
if [ ${#run[@]} -gt 0 ]; then
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine_prefix_with_com_ports "${run[0]}" "$work" 2
  history_file='C:\bench-history.jsonl'
  history_path="$WINEPREFIX/drive_c/bench-history.jsonl"
else
  export FIELDKIT_COM1=$work/lodestar.line FIELDKIT_COM2=$work/lodestar-2.line
  history_file=$work/history.jsonl
  history_path=$history_file
fi

pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; wait "$pid" 2> /dev/null || true; done
  pids=()
}
trap 'stop_all; [ -z "${wineserver:-}" ] || "$wineserver" -k > /dev/null 2>&1 || true' EXIT

# COM1's parameter block opens with its ESN, 0x0A0B0C0D, and the ESN's complement.
params=0D0C0B0AF2F3F4F5$(printf '%02X' $(seq 109 152))
# Paced as a real cable when screenshots are taken, so one catches the boards under way.
pace=()
[ -z "${FIELDKIT_SCREENSHOTS:-}" ] || pace=(--baud 115200)
"${run[@]}" "$cli" image --out expected.bin --band-edge 746000000 --variant-flag 0x80 --param-block "$params" --yes \
  < /dev/null > image.log 2>&1
"$sim" "${pace[@]}" --link "$work/lodestar.line" --band-edge 746000000 --variant-flag 0x80 --version R07.10.00 \
  --param-block "$params" --dump-flash flash-1.bin > sim-1.log 2>&1 &
pids+=($!)
"$sim" "${pace[@]}" --link "$work/lodestar-2.line" --version R07.10.00 --esn 0x12345678 --fail-page-writes 99@0xA8000 \
  > sim-2.log 2>&1 &
pids+=($!)
wait_for 5 test -e lodestar.line
wait_for 5 test -e lodestar-2.line

window() { timeout "$2" xdotool search --sync --onlyvisible --name "$1" 2> /dev/null | head -n 1; }
shot() { # file name, window id
  [ -n "${FIELDKIT_SCREENSHOTS:-}" ] || return 0
  sleep 0.5
  import -frame -window "$2" "$FIELDKIT_SCREENSHOTS/$1.png"
  echo "screenshot: $1.png"
}
copied() { "$clipboard" 2> /dev/null || true; }

FIELDKIT_HISTORY=$history_file "${run[@]}" "$fieldkit" --bench 1,2 > fieldkit.log 2>&1 &
pids+=($!)
main=$(window "^FieldKit Bench$" 60 || true)
check "the bench window appears" test -n "$main"
[ -n "$main" ] || { cat fieldkit.log; exit 1; }
xdotool windowactivate --sync "$main" 2> /dev/null || true
shot "${FIELDKIT_SCREENSHOT_PREFIX:-}bench" "$main"
xdotool key --clearmodifiers ctrl+u
if [ -n "${FIELDKIT_SCREENSHOTS:-}" ]; then
  sleep 12
  shot "${FIELDKIT_SCREENSHOT_PREFIX:-}bench-upgrading" "$main"
fi
finished=$(window "^Bench finished$" 240 || true)
check "the Bench finished box comes" test -n "$finished"
if [ -n "$finished" ]; then
  shot "${FIELDKIT_SCREENSHOT_PREFIX:-}bench-finished" "$finished"
  xdotool windowactivate --sync "$finished" 2> /dev/null || true
  xdotool key --clearmodifiers Return
  # A warning may follow: a record not written, or an answer time that points at a slow adapter.
  if warning=$(window "^Warning$" 3); then
    xdotool windowactivate --sync "$warning" 2> /dev/null || true
    xdotool key --clearmodifiers Return
  fi
fi
# Alt+2 takes the keyboard to COM2's pane, where its message is selected and copied.
gone() { ! xdotool search --onlyvisible --name "$1" > /dev/null 2>&1; }
wait_for 20 gone "^(Bench finished|Warning)$" || true
xdotool windowactivate --sync "$main" 2> /dev/null || true
shot "${FIELDKIT_SCREENSHOT_PREFIX:-}bench-after" "$main"
copy_pane() {
  xdotool key --clearmodifiers --delay 100 alt+2 ctrl+a ctrl+c
  copied > pane.txt
  grep -q . pane.txt
}
wait_for 10 copy_pane || true
cat pane.txt
check "COM2's pane shows its message" grep -q "^Failed to write to application code area\.$" pane.txt
check "COM2's pane shows its hint" grep -q "^Hint: the board refused a page of the application code on every try" pane.txt

xdotool key --clearmodifiers alt+F4
check "the program ends when its idle window is closed" wait_for 20 bash -c "! kill -0 ${pids[2]} 2> /dev/null"
stop_all
check "COM1 application region in flash" cmp -s <(region expected.bin 0 80) <(region flash-1.bin 160 80)
check "COM1 boot region in flash" cmp -s <(region expected.bin 92 4) <(region flash-1.bin 252 4)
check "a record for COM1 with its ESN and success" \
  grep -q '"port":"COM1".*"esn":168496141,.*"result":"success"' "$history_path"
check "a record for COM2 with its ESN and its failure" \
  grep -q '"port":"COM2".*"esn":305419896,.*"result":"failure","failure_kind":"application_write"' "$history_path"
check "two records" test "$(wc -l < "$history_path")" -eq 2

echo "$failures failed"
test "$failures" -eq 0
