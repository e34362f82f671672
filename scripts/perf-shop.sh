#!/usr/bin/env bash
# Prints the shop database's figures beside their targets, on a PostgreSQL server of its own
# (tests/shop/pg_server.sh, from Debian's postgresql), and the start-up cost of the commands
# that name no database:
#   - `history push` of 100,000 waiting records (target: under 5 s);
#   - `history push` on a history of 100,000 records with nothing new, and with one new record
#     as after a run, the whole process; and the push inside a run, by bench/shop_bench
#     (target: under 50 ms);
#   - `fleet` over 100,000 records on 5,000 radios, with --version, --all and --failures
#     (target: under 1 s);
#   - `fieldkit-cli image` against srec_cat on the sample application file, whole processes,
#     run in pairs (target: at least 1.8 times faster).
# With a second build directory (of an earlier FieldKit, say), its figures are printed beside.
# Needs builds with fieldkit-cli, and srec_cat (Debian package srecord) for the last figure.
# Usage: scripts/perf-shop.sh [BUILD_DIR [EARLIER_BUILD_DIR]]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
builds=("$(realpath "${1:-build/default}")")
[ -n "${2:-}" ] && builds+=("$(realpath "$2")")
for build in "${builds[@]}"; do
  [ -x "$build/cli/fieldkit-cli" ] || { echo "perf-shop: no $build/cli/fieldkit-cli; build it first" >&2; exit 1; }
done
server=$(mktemp -d /tmp/fieldkit-perf-shop.XXXXXX)
work=$(mktemp -d /tmp/fieldkit-perf-shop-work.XXXXXX)
trap 'tests/shop/pg_server.sh stop "$server"; rm -rf "$work"' EXIT
port=$(tests/shop/pg_server.sh start "$server")
export PGPASSWORD=bench-secret

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "load at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

# A history as benches write it: a record per run, ESNs taken in turn, one run in 17 failed.
make_history() { # file, records, ESNs
  python3 - "$@" <<'PY'
import json, sys, uuid
path, count, esns = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
with open(path, "w") as out:
    for run in range(count):
        day, second = divmod(run, 86400)
        upgrade = run % 3 != 0
        failed = run % 17 == 0
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
            "result": "failure" if failed else "success",
            "failure_kind": "erase_block" if failed else None,
            "message": "Failed to erase block 8.\n\nPlease turn the radio off" if failed else None,
            "stage": "erasing" if failed else "done", "pages_written": 1536 if upgrade and not failed else 0},
            separators=(",", ":")) + "\n")
PY
}

milliseconds() { # the median wall time of RUNS runs of the command, output discarded, each after PREPARE
  local runs=$1 prepare=$2; shift 2
  for _ in $(seq "$runs"); do
    local start end
    $prepare
    start=$(date +%s%N)
    "$@" > /dev/null 2>&1
    end=$(date +%s%N)
    echo $(( (end - start) / 1000000 ))
  done | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'
}
seconds() { awk -v ms="$1" 'BEGIN { printf "%.2f s", ms / 1000 }'; }

make_history "$work/history.jsonl" 100000 5000
make_history "$work/runs.jsonl" 100 100 # a run's record, appended before each push of one new record
one_more() { head -n 1 "$work/runs.jsonl" >> "$FIELDKIT_HISTORY" && sed -i 1d "$work/runs.jsonl"; }
declare -A figure
for index in "${!builds[@]}"; do
  cli=${builds[$index]}/cli/fieldkit-cli
  database=shop_$index
  tests/shop/pg_server.sh sql "$server" postgres "CREATE DATABASE $database OWNER fieldkit" > /dev/null
  export FIELDKIT_HISTORY_DATABASE="host=127.0.0.1 port=$port user=fieldkit dbname=$database"
  export FIELDKIT_HISTORY="$work/history-$index.jsonl"
  cp "$work/history.jsonl" "$FIELDKIT_HISTORY"
  figure[push,$index]=$(seconds "$(milliseconds 1 : "$cli" history push)")
  figure[nothing,$index]="$(milliseconds 9 : "$cli" history push) ms"
  figure[one,$index]="$(milliseconds 9 one_more "$cli" history push) ms"
  # The push inside a run, without the process around it (a build with Google Benchmark).
  bench=${builds[$index]}/bench/shop_bench
  if [ -x "$bench" ]; then
    medians=$("$bench" --benchmark_format=csv 2>/dev/null | awk -F, '/_median/ { printf "%s=%.2f ms\n", $1, $3 }')
    figure[run-nothing,$index]=$(echo "$medians" | sed -n 's/.*NothingNew.*_median"*=//p')
    figure[run-one,$index]=$(echo "$medians" | sed -n 's/.*OneNewRecord.*_median"*=//p')
  else
    figure[run-nothing,$index]="-"
    figure[run-one,$index]="-"
  fi
  tests/shop/pg_server.sh sql "$server" "$database" "VACUUM ANALYZE fieldkit_history" > /dev/null
  # An earlier FieldKit's fleet takes neither --all nor --failures: its figure is left empty.
  for report in "fleet --version R09.00.00" "fleet --all" "fleet --failures"; do
    if (cd "$work" && $cli $report > /dev/null 2>&1); then
      figure[$report,$index]=$(seconds "$(cd "$work" && milliseconds 5 : $cli $report)")
    else
      figure[$report,$index]="-"
    fi
  done
done
if [ "${#builds[@]}" -gt 1 ]; then
  printf '%-58s %-14s %-14s %s\n' "" "this build" "earlier build" "target"
else
  printf '%-58s %-14s %s\n' "" "this build" "target"
fi
row() { # title, key, target
  if [ "${#builds[@]}" -gt 1 ]; then
    printf '%-58s %-14s %-14s %s\n' "$1" "${figure[$2,0]}" "${figure[$2,1]}" "$3"
  else
    printf '%-58s %-14s %s\n' "$1" "${figure[$2,0]}" "$3"
  fi
}
row "history push, 100,000 waiting records" push "under 5 s"
row "history push, nothing new, history of 100,000 records" nothing "under 50 ms"
row "history push, one new record, history of 100,000 records" one "under 50 ms"
row "a run's push, nothing new (in the run, no process)" run-nothing "under 50 ms"
row "a run's push of its own record (in the run, no process)" run-one "under 50 ms"
row "fleet --version, 100,000 records on 5,000 radios" "fleet --version R09.00.00" "under 1 s"
row "fleet --all, the same" "fleet --all" "under 1 s"
row "fleet --failures, the same" "fleet --failures" "under 1 s"

# The whole process of each, in pairs, so that both meet the same load; the median ratio.
if command -v srec_cat > /dev/null; then
  for index in "${!builds[@]}"; do
    cli=${builds[$index]}/cli/fieldkit-cli
    ratio=$(cd examples && for _ in $(seq 41); do
      a=$(date +%s%N); "$cli" image --out "$work/image.bin" > /dev/null; b=$(date +%s%N)
      srec_cat corvo_fwapp.s19 -o "$work/srec.bin" -binary; c=$(date +%s%N)
      awk -v image=$((b - a)) -v srec=$((c - b)) 'BEGIN { printf "%.3f\n", srec / image }'
    done | sort -n | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')
    libraries=$(ldd "$cli" | wc -l)
    echo "fieldkit-cli image against srec_cat (${builds[$index]#$root/}): ${ratio}x faster, median of 41 pairs; $libraries shared libraries (target: at least 1.8x)"
  done
else
  echo "srec_cat is not installed (Debian package srecord): fieldkit-cli image not compared"
fi
echo "load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
