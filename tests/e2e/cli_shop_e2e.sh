#!/usr/bin/env bash
# End to end: two benches (two history files) and one shop database, with an outage in the
# middle. Every upgrade and board read of both must appear once in `history --database` and
# the radios in `fleet`; the run during the outage succeeds, warns, and its record is sent
# by the next run.
# Usage: cli_shop_e2e.sh FIELDKIT_CLI PG_SERVER_SCRIPT EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
cli=$1 pg_server=$2 examples=$3 work=$4

start_shop_server "$pg_server" fieldkit-shop-e2e "$work"
work=$(realpath "$work")
database="host=127.0.0.1 port=$port user=fieldkit dbname=shop"
unset FIELDKIT_HISTORY_DATABASE

# North names the database in its AppConfig.ini, south through the environment.
for bench in north south; do
  cp -r "$examples" "$work/$bench"
  printf '\n[History]\nBench=%s\n' "$bench" >> "$work/$bench/AppConfig.ini"
done
printf 'Database=%s\n' "$database" >> "$work/north/AppConfig.ini"
run() { # bench, log, then the arguments of fieldkit-cli; sets $status
  local bench=$1 log=$2; shift 2
  set +e
  (cd "$work/$bench" && FIELDKIT_HISTORY="$work/$bench.jsonl" \
     FIELDKIT_HISTORY_DATABASE=$([ "$bench" = south ] && echo "$database") "$cli" "$@" < /dev/null > "$work/$log" 2>&1)
  status=$?
  set -e
}

run north north-info.log info --simulate --sim-option="--esn 0x101"
check "north: info exits 0" test "$status" -eq 0
run north north-upgrade.log upgrade --simulate --yes --sim-option="--esn 0x101"
check "north: upgrade exits 0" test "$status" -eq 0
check "north: nothing to warn about" bash -c "! grep -q '^Warning' $work/north-upgrade.log"

"$pg_server" pause "$server"
start=$(date +%s)
run south south-upgrade.log upgrade --simulate --yes --sim-option="--esn 0x202"
cat "$work/south-upgrade.log" | grep -v '^Emulated'
check "outage: the upgrade still succeeds" test "$status" -eq 0
check "outage: the upgrade says it is ready" grep -q "^Ready - Took" "$work/south-upgrade.log"
check "outage: a Warning says the record waits" grep -q "^Warning: The history was not sent to the shop database: the shop database cannot be reached: .*Its records wait on this bench" "$work/south-upgrade.log"
check "outage: the record is on the bench" grep -q '"result":"success"' "$work/south.jsonl"
"$pg_server" resume "$server"
check "outage: the run took no longer for it" test $(( $(date +%s) - start )) -lt 60

run south south-info.log info --simulate --sim-option="--esn 0x202"
check "after the outage: the next run sends what waited" test "$status" -eq 0
run north north-push.log history push
check "push: nothing waits on north" grep -q "^Nothing waited" "$work/north-push.log"

run south records.json history --database --format json
check "history --database exits 0" test "$status" -eq 0
check "every run stored once" test "$(grep -c '"id"' "$work/records.json")" -eq 4
check "no id twice" test "$(grep -o '"id": "[^"]*"' "$work/records.json" | sort -u | wc -l)" -eq 4
check "both benches" test "$(grep -o '"bench": "[a-z]*"' "$work/records.json" | sort -u | tr '\n' ' ')" = '"bench": "north" "bench": "south" '
run north records.txt history --database --esn 0x202
cat "$work/records.txt"
check "the table shows the bench" grep -q "^TIME *BENCH *COMMAND" "$work/records.txt"
check "--esn filters the shop's records: radio 0x202's upgrade and board read" test "$(grep -c '  south  ' "$work/records.txt")" -eq 2
check "--esn leaves out the other radio" test "$(grep -c '  north  ' "$work/records.txt")" -eq 0

run north fleet.csv fleet --format csv
cat "$work/fleet.csv"
check "fleet: one row per radio" test "$(grep -c '^[0-9]' "$work/fleet.csv")" -eq 2
check "fleet: radio 0x101's latest run" grep -q "^257,.*,north,upgrade,R07.12.00,R07.12.00,success," "$work/fleet.csv"
check "fleet: radio 0x202's latest run" grep -q "^514,.*,south,info,R07.12.00,,success," "$work/fleet.csv"
run north fleet-bad.log fleet --format xml
check "fleet: bad usage exits 2" test "$status" -eq 2

"$pg_server" pause "$server"
run north fleet-down.log fleet
check "fleet: an unreachable database exits 1" test "$status" -eq 1
check "fleet: and says why" grep -q "^Error: the shop database cannot be reached" "$work/fleet-down.log"
"$pg_server" resume "$server"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
