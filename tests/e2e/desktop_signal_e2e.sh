#!/usr/bin/env bash
# End to end: the desktop program on a virtual X display, an upgrade started with Ctrl+U
# against lodestar-sim on a pseudo-terminal, and a signal from outside the window (the
# terminal it was started from closed, `kill`, a session logging out) at several points.
# Before the erase the upgrade stops at its next safe point, writes nothing and is recorded
# "interrupted"; from the erase on it finishes and is recorded; a second SIGTERM ends the
# program at once; an open box is closed as its No. The exit status is what fieldkit-cli gives
# for the same ending, and in the end the board's flash is byte for byte the image
# `fieldkit-cli image` builds (after a whole upgrade by fieldkit-cli where the run stopped).
# Usage: desktop_signal_e2e.sh FIELDKIT FIELDKIT_CLI LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
on_virtual_display "$0" "$@"
fieldkit=$1 cli=$2 sim=$3 examples=$4 work=$5
unset FIELDKIT_COM1 FIELDKIT_COM2 FIELDKIT_COM3 FIELDKIT_COM4 QT_QPA_PLATFORM
# Job control, as in the technician's shell: a shell without it starts background jobs with
# SIGINT and SIGQUIT ignored, and the program keeps a signal it inherited as ignored.
set -m

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"
export XDG_RUNTIME_DIR="$PWD/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# Window frames, and the focus that the keyboard needs.
command -v openbox > /dev/null && { openbox > /dev/null 2>&1 & }

params=$(printf '%02X' $(seq 21 72))
"$cli" image --out expected.bin --band-edge 136000000 --param-block "$params" > image.log

# name, the signals sent (one after the other), where to send them (idle: the window just
# shown; box:TITLE once that box is open; a request the board's log shows, say `write 0x111A`),
# how long to let the run go on past it, then the exit status and the record expected
# (none, success, interrupted-before, interrupted-programming)
signal_at() {
  local name=$1 signals=$2 marker=$3 after=$4 expected=$5 result=$6 version=R07.10.00 status
  # The board with the settings' version asks whether to flash anyway.
  [[ $marker == box:* ]] && version=R07.12.00
  "$sim" --link "$name.board" --band-edge 136000000 --param-block "$params" --version "$version" \
    --request-log "$name.requests" --dump-flash "$name.flash" > "$name.sim.log" 2>&1 &
  local board=$!
  wait_for 5 test -e "$name.board"
  export FIELDKIT_COM1="$PWD/$name.board" FIELDKIT_HISTORY="$PWD/$name.history.jsonl"

  "$fieldkit" > "$name.out" 2> "$name.err" &
  local app=$!
  local main
  main=$(timeout 30 xdotool search --sync --onlyvisible --name "Lodestar Board Upgrade Software" | head -n 1)
  xdotool windowactivate --sync "$main" 2> /dev/null || true
  case "$marker" in
  idle) ;;
  box:*)
    xdotool key --clearmodifiers ctrl+u
    timeout 30 xdotool search --sync --onlyvisible --name "${marker#box:}" > /dev/null ;;
  *)
    xdotool key --clearmodifiers ctrl+u
    wait_for 60 grep -q "^$marker " "$name.requests" ;;
  esac
  sleep "$after"
  for signal in $signals; do
    kill "-$signal" "$app"
    sleep 0.2
  done
  set +e
  wait "$app"
  status=$?
  set -e
  check "$name: exit status $expected" test "$status" -eq "$expected"
  case "$result" in
  interrupted-before)
    check "$name: nothing written" grep -qx "fieldkit: Interrupted before the erase: nothing was written to the board, and its firmware is as it was." "$name.err" ;;
  interrupted-programming)
    check "$name: the board is in programming mode" grep -qx "Switch the radio off and on before using it." "$name.err" ;;
  esac
  check "$name: the record" python3 -c '
import json, sys
result, = sys.argv[1:]
records = [json.loads(line) for line in sys.stdin]
if result == "none":
    assert records == [], records
else:
    assert len(records) == 1 and records[0]["result"] == result.split("-")[0], records
    stage = {"before": ("connecting", "reading_board"), "programming": ("programming_mode",)}.get(result.partition("-")[2])
    assert stage is None or records[0]["stage"] in stage, records
    assert (records[0]["pages_written"] == 0) == result.startswith("interrupted"), records
    assert records[0]["questions"] == [], records' "$result" < <("$cli" history --format json)

  board_ends_whole "$cli" "$name" "$result" "$board"
}

signal_at idle HUP idle 0 129 none
signal_at question TERM "box:^Warning$" 0 143 interrupted-before
signal_at before-erase TERM "read 0x0D00" 0 143 interrupted-before
signal_at programming-mode HUP "write 0x1201" 0 129 interrupted-programming
signal_at after-erase TERM "write 0x111A" 0.3 0 success
signal_at second-term "TERM TERM" "write 0x111A" 0.3 143 none

echo "$failures failed"
test "$failures" -eq 0
