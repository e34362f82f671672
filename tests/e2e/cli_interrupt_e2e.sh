#!/usr/bin/env bash
# End to end: Ctrl+C (SIGINT), SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, a hang-up
# (SIGHUP) or a reader that goes away (a closed pipe) in the middle of an upgrade against the
# emulated board. A request to end stops at a safe point, closes the port, says where the board
# stands (untouched, in programming mode, or erased) and exits 128 + the signal's number; a
# hang-up does the same (129) before the erase and lets the upgrade finish after it, and under
# `nohup` changes nothing; a closed pipe never changes the run. Every run leaves one record
# with its result, and in the end the board's flash is byte for byte the image
# `fieldkit-cli image` builds (after a whole upgrade where the run stopped). Last, `info` that
# hangs up while the board answers shows and records what it read.
# Usage: cli_interrupt_e2e.sh FIELDKIT_CLI LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
cli=$1 sim=$2 examples=$3 work=$4
# Job control, as in the technician's shell: a shell without it starts background jobs with
# SIGINT and SIGQUIT ignored, and the program keeps a signal it inherited as ignored.
set -m

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"

params=$(printf '%02X' $(seq 11 62))
"$cli" image --out expected.bin --band-edge 136000000 --param-block "$params" > image.log

# name, signal (PIPE: `| head -3`), where to send it (the status line to wait for, or log: and
# a request the board's log shows), how long to let the run go on past it, then the exit
# status and the record's result expected, and what the run is started under (nohup)
interrupt_at() {
  local name=$1 signal=$2 marker=$3 after=$4 expected=$5 result=$6 launcher=${7:-} status
  # Answers delayed a little, so each step lasts long enough to be interrupted inside it.
  "$sim" --link "$name.board" --latency 3 --band-edge 136000000 --param-block "$params" \
    --request-log "$name.requests" --dump-flash "$name.flash" > "$name.sim.log" 2>&1 &
  local board=$!
  for _ in $(seq 1 100); do [ -e "$name.board" ] && break; sleep 0.05; done
  export FIELDKIT_COM1="$PWD/$name.board" FIELDKIT_HISTORY="$PWD/$name.history.jsonl"

  set +e
  if [ "$signal" = PIPE ]; then
    "$cli" upgrade --port 1 --yes < /dev/null 2> "$name.err" | head -3 > "$name.out"
    status=${PIPESTATUS[0]}
  else
    $launcher "$cli" upgrade --port 1 --force < /dev/null > "$name.out" 2> "$name.err" &
    local upgrade=$!
    if [[ $marker == log:* ]]; then
      wait_for 20 grep -q "^${marker#log:} " "$name.requests"
    else
      wait_for 20 grep -q "^$marker" "$name.out"
    fi
    sleep "$after"
    kill "-$signal" "$upgrade"
    wait "$upgrade"
    status=$?
  fi
  set -e
  check "$name: exit status $expected" test "$status" -eq "$expected"
  check "$name: no error box" bash -c "! grep -q '^Error:' '$name.err'"
  case "$result" in
  interrupted-before)
    check "$name: nothing written" grep -q "^Interrupted before the erase: nothing was written to the board" "$name.err" ;;
  interrupted-after)
    check "$name: board needs a restart" grep -qx "Switch the radio off and on, and run the upgrade again." "$name.err" ;;
  interrupted-programming)
    check "$name: board in programming mode" grep -qx "Switch the radio off and on before using it." "$name.err" ;;
  esac
  check "$name: one record, ${result%-*}" python3 -c '
import json, sys
records = [json.loads(line) for line in sys.stdin]
result, = sys.argv[1:]
assert len(records) == 1 and records[0]["result"] == result.split("-")[0], records
written = records[0]["stage"] not in ("loading_files", "connecting", "reading_board", "programming_mode")
assert written == (result not in ("interrupted-before", "interrupted-programming")), records
assert (records[0]["stage"] == "programming_mode") == (result == "interrupted-programming"), records
assert (records[0]["pages_written"] == 0) == (not written), records' "$result" \
    < <("$cli" history --format json)

  board_ends_whole "$cli" "$name" "$result" "$board"
}

interrupt_at before-erase INT "Verifying the option board" 0.1 130 interrupted-before
interrupt_at boot-code INT "Upgrading the boot code" 0.3 130 interrupted-after
interrupt_at application TERM "Upgrading the application code" 1 143 interrupted-after
interrupt_at hang-up-before-erase HUP "Verifying the option board" 0.1 129 interrupted-before
interrupt_at hang-up-after-erase HUP "Upgrading the boot code" 0.3 0 success
interrupt_at closed-pipe PIPE "" 0 0 success
interrupt_at quit QUIT "Upgrading the boot code" 0.3 131 interrupted-after
interrupt_at user1 USR1 "Verifying the option board" 0.1 138 interrupted-before
interrupt_at user2 USR2 "Upgrading the application code" 1 140 interrupted-after
interrupt_at alarm ALRM "Verifying the option board" 0.1 142 interrupted-before
# in the pause after the switch to programming mode, before the erase
interrupt_at programming-mode TERM "log:write 0x1201" 0 143 interrupted-programming
interrupt_at nohup-hang-up HUP "Verifying the option board" 0.1 0 success nohup

# `info` hung up while the board answers its reads, slowly: what it read is shown and recorded.
"$sim" --link info.board --latency 100 > info.sim.log 2>&1 &
board=$!
wait_for 5 test -e info.board
export FIELDKIT_COM1="$PWD/info.board" FIELDKIT_HISTORY="$PWD/info.history.jsonl"
"$cli" info --port 1 < /dev/null > info.out 2> info.err &
info=$!
sleep 0.2
check "info: still reading when the terminal hangs up" kill -HUP "$info"
set +e
wait "$info"
status=$?
set -e
kill -TERM "$board"
wait "$board" || true
check "info: exit status 0" test "$status" -eq 0
check "info: the version is shown" grep -qx "Lodestar Board Firmware Version: R07.12.00" info.out
check "info: one record, success, with the version" python3 -c '
import json, sys
records = [json.loads(line) for line in sys.stdin]
assert len(records) == 1 and records[0]["result"] == "success" and records[0]["board_version"] == "R07.12.00", records' \
  < <("$cli" history --format json)

echo "$failures failed"
test "$failures" -eq 0
