#!/usr/bin/env bash
# End to end: a bench of boards upgraded at once by `fieldkit-cli upgrade --port 1 --port 2
# ...`, each port a lodestar-sim board of its own on a pseudo-terminal. A board that fails
# leaves the others byte-exact; questions of two boards are asked in turn while a third board
# goes on; Ctrl+C with four runs in flight tells every board where it stands.
# Usage: cli_bench_e2e.sh FIELDKIT_CLI LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
cli=$1 sim=$2 examples=$3 work=$4
# Job control, as in the technician's shell: a shell without it starts background jobs with
# SIGINT and SIGQUIT ignored, and the program keeps a signal it inherited as ignored.
set -m

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"

sim_pids=()
cleanup() { for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done; true; }
trap cleanup EXIT
start_board() { # port, emulator options...: COM<port> is that board until stop_boards
  local port=$1; shift
  rm -f "flash-$port.bin"
  "$sim" --link "$work/board-$port" --dump-flash "$work/flash-$port.bin" "$@" > "sim-$port.log" 2>&1 &
  sim_pids+=($!)
  wait_for 5 test -e "$work/board-$port"
  export "FIELDKIT_COM$port=$work/board-$port"
}
stop_boards() {
  for pid in "${sim_pids[@]}"; do kill "$pid"; wait "$pid" || true; done
  sim_pids=()
}
flash_holds() { # flash dump, expected image
  cmp -s <(region "$2" 0 80) <(region "$1" 160 80) && cmp -s <(region "$2" 92 4) <(region "$1" 252 4)
}
summary_row() { # log, port: the port's row of the summary table
  sed -n '/^Port  *ESN/,$p' "$1" | grep "^COM$2 "
}

# Four boards of different bands and parameters; COM3 refuses the erase of row 8 and COM4's
# line is noisy.
band_edges=(0 403000000 746000000 136000000 851000000)
for port in 1 2 3 4; do
  params=$(printf '%02X' $(seq $((16 * port)) $((16 * port + 51))))
  "$cli" image --out "expected-$port.bin" --band-edge "${band_edges[$port]}" --param-block "$params" --yes > /dev/null
  extra=()
  [ "$port" -eq 3 ] && extra=(--fail-command 0x1118)
  [ "$port" -eq 4 ] && extra=(--noise 20000)
  start_board "$port" --version R07.10.00 --band-edge "${band_edges[$port]}" --param-block "$params" "${extra[@]}"
done
set +e
"$cli" upgrade --port 1 --port 2 --port 3 --port 4 < /dev/null > four.log 2>&1
status=$?
set -e
stop_boards
cat four.log
check "one failed board: exit 1" test "$status" -eq 1
for port in 1 2 4; do
  check "COM$port byte-exact beside the failed board" flash_holds "flash-$port.bin" "expected-$port.bin"
  check "COM$port succeeded in the summary" bash -c "[[ '$(summary_row four.log $port)' =~ \ success\  ]]"
done
check "the summary names COM3 failed with its message" \
  bash -c "[[ '$(summary_row four.log 3)' =~ \ failed\ .*\ Failed\ to\ erase\ block\ 8\.$ ]]"
check "COM3's box carries its port" grep -qx "COM3: Error:" four.log
check "plain progress lines carry their port" grep -qx "COM2: Upgrading the application code" four.log

# Two boards with the version of AppConfig.ini ask whether to flash anyway; COM3 has another
# version and goes on while they wait. The answers come one line at a time through a FIFO.
for port in 1 2; do start_board "$port"; done
start_board 3 --version R07.10.00
rm -f answers && mkfifo answers
"$cli" upgrade --port 1 --port 2 --port 3 < answers > asked.log 2>&1 &
cli_pid=$!
exec 3> answers
questions() { # count
  [ "$(grep -c "^COM[12]: Question:" asked.log)" -eq "$1" ]
}
check "the first question is asked" wait_for 30 questions 1
check "COM3 finishes while the question waits" wait_for 30 test -s flash-3.bin
check "the second board waits its turn" questions 1
first=$(sed -n 's/^COM\([12]\): Question:$/\1/p' asked.log | head -n 1)
echo y >&3
check "the second question follows the answer" wait_for 30 questions 2
echo n >&3
exec 3>&-
set +e
wait "$cli_pid"
status=$?
set -e
stop_boards
cat asked.log
second=$((3 - first))
check "a declined board and no failure: exit 3" test "$status" -eq 3
check "the first asked (COM$first) answered Yes succeeded" bash -c "[[ '$(summary_row asked.log "$first")' =~ \ success\  ]]"
check "the second asked (COM$second) answered No is declined" bash -c "[[ '$(summary_row asked.log "$second")' =~ \ declined\  ]]"
check "COM3 succeeded" bash -c "[[ '$(summary_row asked.log 3)' =~ \ success\  ]]"

# Ctrl+C with four paced runs writing: every run stops at its next safe point, every port
# is closed and every board is told where it stands.
for port in 1 2 3 4; do start_board "$port" --version R07.10.00 --baud 115200; done
"$cli" upgrade --port 1 --port 2 --port 3 --port 4 < /dev/null > interrupted.log 2>&1 &
cli_pid=$!
writing() { [ "$(grep -c '^COM[1-4]: Upgrading the boot code$' interrupted.log)" -eq 4 ]; }
check "four runs in flight" wait_for 60 writing
kill -INT "$cli_pid"
ended() { ! kill -0 "$cli_pid" 2>/dev/null; }
check "the bench ends soon after Ctrl+C" wait_for 10 ended
set +e
wait "$cli_pid"
status=$?
set -e
stop_boards
cat interrupted.log
check "interrupted: exit 130" test "$status" -eq 130
for port in 1 2 3 4; do
  check "COM$port is told its flash was erased" \
    grep -qx "COM$port: Interrupted after the board's flash was erased: the board holds no whole firmware now." interrupted.log
  check "COM$port is interrupted in the summary" bash -c "[[ '$(summary_row interrupted.log $port)' =~ \ interrupted\  ]]"
done

# Ctrl+C while one board's question waits and the other's waits its turn: neither run
# records a question nobody answered.
export FIELDKIT_HISTORY="$work/cut-short.jsonl"
for port in 1 2; do start_board "$port"; done
rm -f cut-answers && mkfifo cut-answers
"$cli" upgrade --port 1 --port 2 < cut-answers > cut-short.log 2>&1 &
cli_pid=$!
exec 4> cut-answers
asking() { [ "$(grep -c "^COM[12]: Question:" cut-short.log)" -eq 1 ]; }
check "one question is shown" wait_for 30 asking
kill -INT "$cli_pid"
set +e
wait "$cli_pid"
status=$?
set -e
exec 4>&-
stop_boards
cat cut-short.log
check "cut short: exit 130" test "$status" -eq 130
check "two interrupted records without questions" \
  test "$(grep -c '"questions":\[\].*"result":"interrupted"' "$FIELDKIT_HISTORY")" -eq 2

# Firmware files that cannot be used: no board is touched, and every port's run is recorded
# with the cause.
export FIELDKIT_HISTORY="$work/unusable.jsonl"
mv corvo_boot.s19 corvo_boot.s19.away
set +e
"$cli" upgrade --simulate --port 1 --port 3 < /dev/null > unusable.log 2>&1
status=$?
set -e
mv corvo_boot.s19.away corvo_boot.s19
cat unusable.log
check "unusable firmware files: exit 1" test "$status" -eq 1
for port in 1 3; do
  check "COM$port recorded with the file's failure and message" \
    grep -q '"port":"COM'$port'".*"result":"failure","failure_kind":"boot_file_unreadable","message":"Failed to process boot code file"' \
    "$FIELDKIT_HISTORY"
done
unset FIELDKIT_HISTORY

# A hang-up with four runs past the erase lets every one finish; a reader that goes away
# (`| head -3`) changes nothing. Each bench leaves one record per port.
bench_records() { # history file, result: every record of the file has it, one per port
  [ "$(FIELDKIT_HISTORY="$1" "$cli" history --format json | grep -c "\"result\":\"$2\"")" -eq 4 ] &&
    [ "$(FIELDKIT_HISTORY="$1" "$cli" history --format json | wc -l)" -eq 4 ]
}
for port in 1 2 3 4; do start_board "$port" --version R07.10.00 --baud 115200; done
FIELDKIT_HISTORY="$work/hang-up.jsonl" "$cli" upgrade --port 1 --port 2 --port 3 --port 4 < /dev/null > hang-up.log 2>&1 &
cli_pid=$!
hung_writing() { [ "$(grep -c '^COM[1-4]: Upgrading the boot code$' hang-up.log)" -eq 4 ]; }
check "hang-up: four runs in flight" wait_for 60 hung_writing
kill -HUP "$cli_pid"
set +e
wait "$cli_pid"
status=$?
set -e
stop_boards
check "hang-up after the erase: every board finishes, exit 0" test "$status" -eq 0
check "hang-up: four records, each a success" bench_records "$work/hang-up.jsonl" success
for port in 1 2 3 4; do
  start_board "$port" --version R07.10.00 --band-edge "${band_edges[$port]}" \
    --param-block "$(printf '%02X' $(seq $((16 * port)) $((16 * port + 51))))"
done
set +e
FIELDKIT_HISTORY="$work/piped.jsonl" "$cli" upgrade --port 1 --port 2 --port 3 --port 4 < /dev/null 2>&1 | head -3 > piped.log
status=${PIPESTATUS[0]}
set -e
stop_boards
check "closed pipe: exit 0" test "$status" -eq 0
check "closed pipe: three lines shown" test "$(wc -l < piped.log)" -eq 3
check "closed pipe: four records, each a success" bench_records "$work/piped.jsonl" success
for port in 1 2 3 4; do
  check "closed pipe: COM$port byte-exact" flash_holds "flash-$port.bin" "expected-$port.bin"
done

# --simulate puts a board behind every port, and --sim-option applies to all of them.
set +e
"$cli" upgrade --simulate --port 2 --port 4 --yes --sim-option="--fail-command 0x1201" < /dev/null > simulated.log 2>&1
status=$?
set -e
check "two simulated boards refusing programming mode: exit 1" test "$status" -eq 1
check "two emulated boards" test "$(grep -c '^Emulated Lodestar board on ' simulated.log)" -eq 2
check "both failed" test "$(grep -c ' failed .*Failed to switch to programming mode$' simulated.log)" -eq 2

# A box of a bench port carries the hint a single run gives.
set +e
"$cli" upgrade --simulate --port 1 --port 2 --yes --sim-option=--no-ping < /dev/null > silent.log 2>&1
set -e
check "each silent board's box has its hint" test "$(grep -c '^Hint: nothing came back on COM[12] ' silent.log)" -eq 2

# Bad usage: a port out of range, or one port twice.
set +e
"$cli" upgrade --port 1 --port 5 > range.log 2>&1
range_status=$?
"$cli" upgrade --port 2 --port 1 --port 2 > twice.log 2>&1
twice_status=$?
set -e
check "--port 5: exit 2" test "$range_status" -eq 2
check "--port 5 named" grep -q "^--port: Value 5 not in range 1 to 4" range.log
check "a repeated port: exit 2" test "$twice_status" -eq 2
check "the repeated port named" grep -q "^--port: COM2 is given twice" twice.log

# Two ports that name one device (a link to the other's pseudo-terminal): refused before
# either is opened, the board untouched.
start_board 1
ln -sf "$(readlink -f "$work/board-1")" alias
set +e
FIELDKIT_COM2="$work/alias" "$cli" upgrade --port 1 --port 2 --yes < /dev/null > alias.log 2>&1
status=$?
set -e
stop_boards
check "one device under two ports: exit 2" test "$status" -eq 2
check "the same device named" grep -q "^--port: COM2 ($work/alias) is the same device as COM1 ($work/board-1)" alias.log
check "the board saw no request" grep -qx "lodestar-sim: requests 0" sim-1.log

echo "$failures failed"
test "$failures" -eq 0
