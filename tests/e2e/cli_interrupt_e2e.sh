#!/usr/bin/env bash
# End to end: Ctrl+C (SIGINT), SIGTERM, a hang-up (SIGHUP) or a reader that goes away (a
# closed pipe) in the middle of an upgrade against the emulated board. Ctrl+C and SIGTERM
# stop at a safe point, close the port, say where the board stands and exit 130 or 143; a
# hang-up does the same (129) before the erase and lets the upgrade finish after it; a closed
# pipe never changes the run. Every run leaves one record with its result, and in the end the
# board's flash is byte for byte the image `fieldkit-cli image` builds (after a whole upgrade
# where the run stopped).
# Usage: cli_interrupt_e2e.sh FIELDKIT_CLI LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
cli=$1 sim=$2 examples=$3 work=$4

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"

params=$(printf '%02X' $(seq 11 62))
"$cli" image --out expected.bin --band-edge 136000000 --param-block "$params" > image.log

# name, signal (PIPE: `| head -3`), the status line to wait for, how long to let the run go on
# past it, then the exit status and the record's result expected
interrupt_at() {
  local name=$1 signal=$2 marker=$3 after=$4 expected=$5 result=$6 status
  # Answers delayed a little, so each step lasts long enough to be interrupted inside it.
  "$sim" --link "$name.board" --latency 3 --band-edge 136000000 --param-block "$params" \
    --dump-flash "$name.flash" > "$name.sim.log" 2>&1 &
  local board=$!
  for _ in $(seq 1 100); do [ -e "$name.board" ] && break; sleep 0.05; done
  export FIELDKIT_COM1="$PWD/$name.board" FIELDKIT_HISTORY="$PWD/$name.history.jsonl"

  set +e
  if [ "$signal" = PIPE ]; then
    "$cli" upgrade --port 1 --yes < /dev/null 2> "$name.err" | head -3 > "$name.out"
    status=${PIPESTATUS[0]}
  else
    "$cli" upgrade --port 1 --force < /dev/null > "$name.out" 2> "$name.err" &
    local upgrade=$!
    for _ in $(seq 1 400); do grep -q "^$marker" "$name.out" 2>/dev/null && break; sleep 0.05; done
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
  esac
  check "$name: one record, ${result%-*}" python3 -c '
import json, sys
records = [json.loads(line) for line in sys.stdin]
result, = sys.argv[1:]
assert len(records) == 1 and records[0]["result"] == result.split("-")[0], records
written = records[0]["stage"] not in ("loading_files", "connecting", "reading_board")
assert written == (result != "interrupted-before"), records
assert (records[0]["pages_written"] == 0) == (result == "interrupted-before"), records' "$result" \
    < <("$cli" history --format json)

  if [ "$result" != success ]; then
    # The port is free again, and a whole upgrade puts the board right.
    set +e
    "$cli" upgrade --port 1 --force < /dev/null > "$name.rerun.out" 2>&1
    status=$?
    set -e
    check "$name: the next upgrade succeeds" test "$status" -eq 0
  fi
  kill -TERM "$board"
  wait "$board" || true
  check "$name: application region byte-exact" cmp -s <(region expected.bin 0 80) <(region "$name.flash" 160 80)
  check "$name: boot region byte-exact" cmp -s <(region expected.bin 92 4) <(region "$name.flash" 252 4)
}

interrupt_at before-erase INT "Verifying the option board" 0.1 130 interrupted-before
interrupt_at boot-code INT "Upgrading the boot code" 0.3 130 interrupted-after
interrupt_at application TERM "Upgrading the application code" 1 143 interrupted-after
interrupt_at hang-up-before-erase HUP "Verifying the option board" 0.1 129 interrupted-before
interrupt_at hang-up-after-erase HUP "Upgrading the boot code" 0.3 0 success
interrupt_at closed-pipe PIPE "" 0 0 success

echo "$failures failed"
test "$failures" -eq 0
