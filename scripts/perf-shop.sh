#!/usr/bin/env bash
# Prints the shop database's figures against their targets, on a PostgreSQL server of its own
# (tests/shop/pg_server.sh, from Debian's postgresql):
#   - `fieldkit-cli history push` sending 10,000 waiting records (target: at most 5 s);
#   - `fieldkit-cli fleet` over 100,000 records on 5,000 ESNs (target: at most 1 s), and with
#     --version.
# Needs a build with fieldkit-cli. Usage: scripts/perf-shop.sh [build directory, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
cli=$build/cli/fieldkit-cli
[ -x "$cli" ] || { echo "perf-shop: no $cli; build it first" >&2; exit 1; }
server=$(mktemp -d /tmp/fieldkit-perf-shop.XXXXXX)
work=$(mktemp -d /tmp/fieldkit-perf-shop-work.XXXXXX)
trap 'tests/shop/pg_server.sh stop "$server"; rm -rf "$work"' EXIT
port=$(tests/shop/pg_server.sh start "$server")
export PGPASSWORD=bench-secret
export FIELDKIT_HISTORY_DATABASE="host=127.0.0.1 port=$port user=fieldkit dbname=shop"

# History files as benches write them: a record per run, ESNs taken in turn.
make_history() { # file, records, ESNs
  python3 - "$@" <<'PY'
import json, sys, uuid
path, count, esns = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(path, "w") as out:
    for run in range(count):
        day, second = divmod(run, 86400)
        upgrade = run % 3 != 0
        out.write(json.dumps({
            "schema": 1, "id": str(uuid.uuid4()), "command": "upgrade" if upgrade else "info",
            "started": "2026-%02d-%02dT%02d:%02d:%02dZ" % (1 + day // 28, 1 + day % 28, second // 3600, second // 60 % 60, second % 60),
            "seconds": 61.5, "host": "bench-%d" % (run % 4), "bench": "bench-%d" % (run % 4), "user": "tech",
            "fieldkit": "0.1.0", "port": "COM1", "device": "/dev/ttyUSB0", "simulated": False,
            "esn": 100000 + run % esns, "board_version": "R07.12.00",
            "settings_version": "R09.00.00" if upgrade else None, "band_edge_hz": 746000000, "config_variant": 5,
            "files": [{"name": "corvo_boot.s19", "size": 40611, "sha256": "0" * 64},
                      {"name": "corvo_fwapp.s19", "size": 903421, "sha256": "1" * 64}] if upgrade else [],
            "header_checksum": "0xEC85" if upgrade else None, "questions": [],
            "result": "failure" if run % 17 == 0 else "success",
            "failure_kind": "erase_block" if run % 17 == 0 else None,
            "message": "Failed to erase block 8.\n\nPlease turn the radio off" if run % 17 == 0 else None,
            "stage": "done", "pages_written": 1536 if upgrade else 0}, separators=(",", ":")) + "\n")
PY
}

seconds() { # the command's wall time in seconds, its output discarded
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  printf '%d.%02d' $(( (end - start) / 1000000000 )) $(( (end - start) / 10000000 % 100 ))
}

make_history "$work/push.jsonl" 10000 2000
push=$(FIELDKIT_HISTORY="$work/push.jsonl" seconds "$cli" history push)
echo "history push, 10,000 waiting records:      $push s (target <= 5 s)"

make_history "$work/fleet.jsonl" 100000 5000
load=$(FIELDKIT_HISTORY="$work/fleet.jsonl" seconds "$cli" history push)
echo "history push, 100,000 waiting records:     $load s"
tests/shop/pg_server.sh sql "$server" shop "VACUUM ANALYZE fieldkit_history" > /dev/null
rows=$("$cli" fleet --format csv | tail -n +2 | wc -l)
fleet=$(seconds "$cli" fleet)
echo "fleet, 100,000 records on $rows ESNs:      $fleet s (target <= 1 s)"
version=$(seconds "$cli" fleet --version R09.00.00)
echo "fleet --version, the same records:         $version s (target <= 1 s)"
