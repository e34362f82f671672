#!/usr/bin/env bash
# End to end: fieldkit-cli against the emulated board on a pseudo-terminal, through the real
# serial code. After a successful upgrade the board's flash must hold the image that
# `fieldkit-cli image` builds for the same board, byte for byte.
# Usage: cli_upgrade_e2e.sh FIELDKIT_CLI EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
cli=$1 examples=$2 work=$3

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"
# Every upgrade and board read below leaves one record here.
export FIELDKIT_HISTORY="$work/history/history.jsonl"

# A board of band 2 with the variant flag set, and parameters of its own.
board="--band-edge 746000000 --variant-flag 0x80 --version R07.10.00"
params=$(printf '%02X' $(seq 101 152))

"$cli" image --out expected.bin --band-edge 746000000 --variant-flag 0x80 --param-block "$params" --yes > image.log
check "image reports configVariant 5" grep -q "configVariant: 5" image.log

set +e
"$cli" upgrade --simulate --sim-option="$board --param-block $params --dump-flash flash.bin" < /dev/null > upgrade.log 2>&1
status=$?
set -e
cat upgrade.log
check "upgrade exits 0" test "$status" -eq 0
check "upgrade reports its time" grep -q "^Ready - Took 0 minutes and [0-9]* seconds" upgrade.log
check "upgrade asked nothing" bash -c '! grep -q "^Question:" upgrade.log'
check "a quick line gets no latency hint" bash -c '! grep -q "adapter holds them back" upgrade.log'
check "application region in flash" cmp -s <(region expected.bin 0 80) <(region flash.bin 160 80)
check "boot region in flash" cmp -s <(region expected.bin 92 4) <(region flash.bin 252 4)

# A board that fails the erase of row 8: the exact message with its advice, exit 1. Its
# answers come 16 ms late, as through a USB adapter at its default latency, but a run that
# stopped after a few answers gets no hint about them.
set +e
"$cli" upgrade --simulate --sim-option="--fail-command 0x1118 --latency 16" --yes > erase.log 2>&1
status=$?
set -e
check "erase failure exits 1" test "$status" -eq 1
check "erase failure message" grep -qx "Failed to erase block 8." erase.log
check "erase failure advice" grep -qx "Please turn the radio off and back on." erase.log
check "erase failure ends with Ready" grep -qx "Ready" erase.log
check "a few slow answers give no latency hint" bash -c '! grep -q "adapter holds them back" erase.log'

# The boot code written, then its verify refused, through that adapter: a board that takes one
# request at a time waits for every answer, and the hint says so, naming the device as it is;
# a board that keeps several on the line hides the latency, and no hint comes.
# (Their records go elsewhere: the history checked below holds the other runs.)
set +e
FIELDKIT_HISTORY="$work/latency-history.jsonl" "$cli" upgrade --simulate \
  --sim-option="--fail-command 0x3000 --latency 16 --protocol 1" --yes > slow.log 2>&1
FIELDKIT_HISTORY="$work/latency-history.jsonl" "$cli" upgrade --simulate \
  --sim-option="--fail-command 0x3000 --latency 16" --yes > hidden.log 2>&1
set -e
check "slow answers give the latency hint" grep -Eq "^Hint: the board's answers took [0-9]+\.[0-9] ms on average" slow.log
check "the hint names the device as it is" grep -Eq "/dev/pts/[0-9]+ is no USB serial adapter of its own" slow.log
check "a board that holds several requests hides the latency" bash -c '! grep -q "adapter holds them back" hidden.log'
check "both stop at the verify" bash -c 'grep -qx "Failed to verify boot code integrity." slow.log && grep -qx "Failed to verify boot code integrity." hidden.log'

# A bad emulator option is bad usage: one line naming it, exit 2.
set +e
"$cli" upgrade --simulate --sim-option="--noise often" --yes > badoption.log 2>&1
status=$?
set -e
check "a bad emulator option exits 2" test "$status" -eq 2
check "in one line that names it" bash -c 'test "$(wc -l < badoption.log)" -eq 1 && grep -q "^--sim-option: --noise" badoption.log'

# The same version on board and in the settings, answered No at end of input: exit 3.
sed -i 's/^Version=.*/Version=R07.12.00/' AppConfig.ini
set +e
"$cli" upgrade --simulate --sim-option="--version R07.12.00" < /dev/null > declined.log 2>&1
status=$?
set -e
check "declined question exits 3" test "$status" -eq 3
check "declined question text" grep -q "^firmware version R07.12.00.$" declined.log

# Board information, and a board that does not answer the ping.
"$cli" info --simulate --sim-option="--esn 0x80000000 --version-hex 41423120202000" > info.log 2>&1
check "info shows the ESN as a signed number" grep -qx "Lodestar Board ESN: -2147483648" info.log
check "info keeps trailing spaces" grep -qx "Lodestar Board Firmware Version: AB1   " info.log
set +e
"$cli" info --simulate --sim-option=--no-ping > noping.log 2>&1
status=$?
set -e
check "no ping exits 1" test "$status" -eq 1
check "no ping message" grep -qx "Please switch the radio to a Lodestar zone." noping.log

# A port whose device does not exist: the system's text and a hint.
set +e
FIELDKIT_COM2=/nonexistent/ttyUSB9 "$cli" info --port 2 > missing.log 2>&1
status=$?
set -e
check "missing device exits 1" test "$status" -eq 1
check "missing device message" grep -qx "Failed to open serial port" missing.log
check "missing device hint" grep -q "^Hint: COM2 is /nonexistent/ttyUSB9, which does not exist" missing.log

# The history: one record per run above, in order, read back as the stored JSON Lines.
set +e
"$cli" history --format json > history.json 2> history.err
status=$?
set -e
check "history exits 0" test "$status" -eq 0
check "history skipped nothing" test ! -s history.err
check "one record per run, each correct" python3 - history.json "$(sha256sum corvo_boot.s19 | cut -d' ' -f1)" \
  "$(sha256sum corvo_fwapp.s19 | cut -d' ' -f1)" "$(sed -n 's/^header checksum: //p' image.log)" <<'PY'
import json, sys
lines = open(sys.argv[1]).read().splitlines()
boot, app, header = sys.argv[2:5]
records = [json.loads(line) for line in reversed(lines)]  # newest first on screen
expected = [("upgrade", "success", None), ("upgrade", "failure", "erase_block"), ("upgrade", "declined", None),
            ("info", "success", None), ("info", "failure", "ping"), ("info", "failure", "open_port")]
assert [(r["command"], r["result"], r["failure_kind"]) for r in records] == expected, records
for r in records:
    assert r["schema"] == 1 and r["port"] in ("COM1", "COM2") and r["started"].endswith("Z"), r
    assert r["simulated"] == (r["device"] != "/nonexistent/ttyUSB9"), r
for r in records[:3]:
    assert [(f["name"], f["sha256"]) for f in r["files"]] == [("corvo_boot.s19", boot), ("corvo_fwapp.s19", app)], r
success, erase, declined, info, noping, missing = records
assert success["header_checksum"] == header and success["pages_written"] == 1075, success
assert success["board_version"] == "R07.10.00" and success["esn"] is None, success
assert success["band_edge_hz"] == 746000000 and success["config_variant"] == 5, success
assert erase["message"].startswith("Failed to erase block 8.\n\nPlease turn the radio off") and erase["pages_written"] == 0, erase
assert declined["questions"] == [{"kind": "already_flashed", "answer": "no"}] and declined["message"] is None, declined
assert info["esn"] == 2147483648 and info["board_version"] == "AB1   " and info["band_edge_hz"] is None, info
assert noping["esn"] is None and noping["message"].startswith("Failed to communicate with the option board."), noping
assert missing["device"] == "/nonexistent/ttyUSB9" and missing["message"] == "Failed to open serial port", missing
PY

# Reading it: filters, formats, usage errors, a torn line.
check "history --esn as info shows it" test "$("$cli" history --esn -2147483648 --format json | wc -l)" -eq 1
check "history --failed" test "$("$cli" history --failed --format json | wc -l)" -eq 3
check "history --since tomorrow is empty" test "$("$cli" history --since 2999-01-01 --format json | wc -l)" -eq 0
check "history csv header and rows" test "$("$cli" history --format csv |
  python3 -c 'import csv, sys; print(len(list(csv.reader(sys.stdin))))')" -eq 7
check "history table" bash -c "'$cli' history | grep -q '^TIME .* MESSAGE\$'"
for bad in "--format xml" "--esn twelve" "--since yesterday"; do
  set +e; "$cli" history $bad > /dev/null 2>&1; status=$?; set -e
  check "history $bad is bad usage" test "$status" -eq 2
done
printf '{"schema":1,"command":"upgr' >> "$FIELDKIT_HISTORY"
set +e; "$cli" history > /dev/null 2> torn.err; status=$?; set -e
check "torn line: exit 0" test "$status" -eq 0
check "torn line: a note" grep -q "^Note: 1 line of .* is not a whole record and was skipped.$" torn.err
set +e; FIELDKIT_HISTORY="$work" "$cli" history > /dev/null 2>&1; status=$?; set -e
check "history that is a folder: exit 1" test "$status" -eq 1

# A history that cannot be written does not change the upgrade's outcome.
set +e
FIELDKIT_HISTORY="$work" "$cli" upgrade --simulate --sim-option="$board" --yes < /dev/null > unrecorded.log 2>&1
status=$?
set -e
check "unrecorded upgrade exits 0" test "$status" -eq 0
check "unrecorded upgrade warns" grep -q "^Warning: This upgrade was not recorded in the history: .*Is a directory$" unrecorded.log

echo "$failures failed"
test "$failures" -eq 0
