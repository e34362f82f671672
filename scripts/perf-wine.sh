#!/usr/bin/env bash
# Prints the Windows build's performance figures under Wine: a paced 115200-baud upgrade of
# the sample firmware by fieldkit-cli.exe against lodestar-sim through Wine's COM1, against its
# floor (the fixed pauses plus the wire time of every byte both ways, as scripts/perf-report.sh
# reckons it natively), and the time fieldkit-cli.exe takes to print --help in a warm prefix.
# It measures the program as the zip ships it, without its debug information.
# Needs both builds: build/windows (preset windows) and build/default (for lodestar-sim).
# Usage: scripts/perf-wine.sh [extra lodestar-sim options, e.g. --latency 16]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
cli=$root/build/windows/cli/fieldkit-cli.exe
sim=$root/build/default/sim/lodestar-sim
for tool in "$cli" "$sim" "$wine"; do
  [ -x "$tool" ] || { echo "perf-wine: no $tool; build it first" >&2; exit 1; }
done
pause_floor=7.3 # as in scripts/perf-report.sh
baud=115200
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

work=$(mktemp -d /tmp/fieldkit-perf-wine.XXXXXX)
sim_pid=
export WINEPREFIX=$work/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$wineserver" -k > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
cp examples/* "$work/"
x86_64-w64-mingw32-strip -o "$work/fieldkit-cli.exe" "$cli"
cli=$work/fieldkit-cli.exe
cd "$work"
unset FIELDKIT_COM1
"$wine" wineboot -i > /dev/null 2>&1
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$work/board" /f > /dev/null
"$wineserver" -k > /dev/null 2>&1 || true
"$wineserver" -w
"$wineserver" -p > /dev/null 2>&1

"$wine" "$cli" --help > /dev/null # warms the prefix
help_ms=()
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  "$wine" "$cli" --help > /dev/null
  help_ms+=($(( ($(date +%s%N) - start) / 1000000 )))
done
help_median=$(printf '%s\n' "${help_ms[@]}" | sort -n | sed -n 3p)

"$sim" --link "$work/board" --baud "$baud" --version R07.10.00 "$@" > sim.log 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e board ] && break; sleep 0.05; done
start=$(date +%s%N)
"$wine" "$cli" upgrade --port 1 --yes < /dev/null > upgrade.log 2>&1 || true
elapsed=$(calc "($(date +%s%N) - $start) / 1e9")
kill -INT "$sim_pid"; wait "$sim_pid" || true; sim_pid=
grep -q '^Ready - Took' upgrade.log || { echo "perf-wine: the upgrade did not succeed:" >&2; cat upgrade.log >&2; exit 1; }
read -r wire_in wire_out < <(sed -n 's/.*wire bytes in \([0-9]*\), out \([0-9]*\)/\1 \2/p' sim.log)
floor=$(calc "$pause_floor + ($wire_in + $wire_out) * 10 / $baud")

echo "fieldkit-cli.exe --help under Wine (warm prefix, median of 5): ${help_median} ms (runs: ${help_ms[*]})"
echo "paced $baud-baud upgrade under Wine${*:+ (lodestar-sim $*)}: ${elapsed} s, floor ${floor} s, $(calc "$elapsed / $floor") x floor"
tail -n 3 upgrade.log | tr -d '\r'
