#!/usr/bin/env bash
# End to end: Ctrl+C (SIGINT) or SIGTERM in the middle of an upgrade against the emulated
# board. The command must stop at a safe point, close the port, say where the board stands
# and exit 130 or 143; the next upgrade on the same board must succeed and leave its flash
# byte for byte as the image `fieldkit-cli image` builds.
# Usage: cli_interrupt_e2e.sh FIELDKIT_CLI LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
cli=$1 sim=$2 examples=$3 work=$4

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"

params=$(printf '%02X' $(seq 11 62))
"$cli" image --out expected.bin --band-edge 136000000 --param-block "$params" > image.log

# name, signal, the status line to wait for, then how long to let the run go on past it
interrupt_at() {
  local name=$1 signal=$2 marker=$3 after=$4 status
  # Answers delayed a little, so each step lasts long enough to be interrupted inside it.
  "$sim" --link "$name.board" --latency 3 --band-edge 136000000 --param-block "$params" \
    --dump-flash "$name.flash" > "$name.sim.log" 2>&1 &
  local board=$!
  for _ in $(seq 1 100); do [ -e "$name.board" ] && break; sleep 0.05; done

  FIELDKIT_COM1="$PWD/$name.board" "$cli" upgrade --port 1 --force < /dev/null > "$name.out" 2> "$name.err" &
  local upgrade=$!
  for _ in $(seq 1 400); do grep -q "^$marker" "$name.out" 2>/dev/null && break; sleep 0.05; done
  sleep "$after"
  kill "-$signal" "$upgrade"
  set +e
  wait "$upgrade"
  status=$?
  set -e
  local expected=130
  [ "$signal" = TERM ] && expected=143
  check "$name: exit status $expected" test "$status" -eq "$expected"
  check "$name: no error box" bash -c "! grep -q '^Error:' '$name.err'"
  if [ "$marker" = "Verifying the option board" ]; then
    check "$name: nothing written" grep -q "^Interrupted before the erase: nothing was written to the board" "$name.err"
  else
    check "$name: board needs a restart" grep -qx "Switch the radio off and on, and run the upgrade again." "$name.err"
  fi

  # The port is free again, and a whole upgrade puts the board right.
  set +e
  FIELDKIT_COM1="$PWD/$name.board" "$cli" upgrade --port 1 --force < /dev/null > "$name.rerun.out" 2>&1
  status=$?
  set -e
  check "$name: the next upgrade succeeds" test "$status" -eq 0
  kill -TERM "$board"
  wait "$board" || true
  check "$name: application region byte-exact" cmp -s <(region expected.bin 0 80) <(region "$name.flash" 160 80)
  check "$name: boot region byte-exact" cmp -s <(region expected.bin 92 4) <(region "$name.flash" 252 4)
}

interrupt_at before-erase INT "Verifying the option board" 0.1
interrupt_at boot-code INT "Upgrading the boot code" 0.3
interrupt_at application TERM "Upgrading the application code" 1

echo "$failures failed"
test "$failures" -eq 0
