#!/usr/bin/env bash
# fieldkit-cli.exe under Wine and a shop database on the Linux side: the Windows build's libpq
# and socket wait push a bench's records to a PostgreSQL server over 127.0.0.1, read them
# back, and refuse a connection that asks for TLS, which this build does not have.
# Usage: wine_shop_e2e.sh WINE FIELDKIT_CLI_EXE PG_SERVER_SCRIPT WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
wine=$1 cli=$2 pg_server=$3 work=$4
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

start_shop_server "$pg_server" fieldkit-wine-shop "$work"
work=$(realpath "$work")
export FIELDKIT_HISTORY_DATABASE="host=127.0.0.1 port=$port user=fieldkit dbname=shop"
# The history as Windows names it: Wine's drive Z: is the Linux root.
export FIELDKIT_HISTORY="Z:${work//\//\\}\\history.jsonl"
run() { # log file, then the arguments of fieldkit-cli.exe; sets $status
  local log=$1; shift
  set +e
  (cd "$work" && "$wine" "$cli" "$@" < /dev/null > "$log.raw" 2>&1)
  status=$?
  set -e
  tr -d '\r' < "$log.raw" > "$log"
}

{
  echo '{"schema":1,"id":"0b9f6f5e-3c1a-4e2b-9a7d-1f2e3d4c5b6a","command":"upgrade","started":"2026-03-01T09:00:00Z","host":"WINBENCH","bench":"windows","esn":257,"board_version":"R07.12.00","settings_version":"R09.00.00","result":"success","message":null,"pages_written":1536}'
  echo '{"schema":1,"command":"info","started":"2026-03-02T09:00:00Z","host":"WINBENCH","esn":514,"board_version":"R07.12.00","result":"success"}'
} > "$work/history.jsonl"

run "$work/push.log" history push
cat "$work/push.log"
check "push exits 0" test "$status" -eq 0
check "push says how many it sent" grep -qx "Sent 2 records to the shop database." "$work/push.log"
run "$work/again.log" history push
check "a second push sends nothing" grep -q "^Nothing waited" "$work/again.log"

run "$work/records.json" history --database --format json
check "history --database exits 0" test "$status" -eq 0
check "both records, once each" test "$(grep -c '"id"' "$work/records.json")" -eq 2
run "$work/fleet.csv" fleet --format csv
cat "$work/fleet.csv"
check "fleet: radio 257 upgraded to R09.00.00 at the Windows bench, its record sent long after" \
  grep -qE "^257,R09.00.00,written,2026-03-01T09:00:00Z,[^,]+,arrived [0-9]+ d late,windows,upgrade,success," "$work/fleet.csv"
check "fleet: radio 514 read on R07.12.00" grep -qE "^514,R07.12.00,read,2026-03-02T09:00:00Z,[^,]+,[^,]*,WINBENCH,info," "$work/fleet.csv"

FIELDKIT_HISTORY_DATABASE="$FIELDKIT_HISTORY_DATABASE sslmode=require" run "$work/tls.log" history push
cat "$work/tls.log"
check "sslmode=require: exits 1" test "$status" -eq 1
check "sslmode=require: refused, saying why" grep -q "asks for sslmode=require, but this FieldKit was built without TLS" "$work/tls.log"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
