#!/usr/bin/env bash
# A bench of four boards against one board, in one run: four lodestar-sim boards paced at
# 115200 baud on four pseudo-terminals, upgraded at once by `fieldkit-cli upgrade --port 1
# --port 2 --port 3 --port 4`, against a single paced upgrade of the same firmware. Prints
# both times, their ratio (target: at most 1.10), the CPU time fieldkit-cli used, and whether
# every board's flash holds, byte for byte, the image `fieldkit-cli image` builds for it.
# When the desktop program is built and xvfb-run and xdotool are there, the same four boards
# are then upgraded DESKTOP_ROUNDS times (default 3) by each front end in turn: by the command
# line, and by `fieldkit --bench 1,2,3,4` on a virtual display (from Ctrl+U to the "Bench
# finished" box). Prints every time, the medians and their ratio (target: at most 1.05).
# Needs GNU time (/usr/bin/time).
# Usage: scripts/bench-four-boards.sh [build directory, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
cli=$build/cli/fieldkit-cli
sim=$build/sim/lodestar-sim
for tool in "$cli" "$sim"; do
  [ -x "$tool" ] || { echo "bench-four-boards: no $tool; build it first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "bench-four-boards: needs GNU time (/usr/bin/time)" >&2; exit 1; }

work=$(mktemp -d /tmp/fieldkit-bench.XXXXXX)
sim_pids=()
cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
cp examples/* "$work/"
cd "$work"

baud=115200
limit=1.10
desktop_limit=1.05
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }
# Four different boards: band edge, variant flag and parameter block of their own, so each
# flash must hold an image of its own. The version differs from AppConfig.ini's: no question.
band_edges=(403000000 746000000 136000000 851000000)
variant_flags=(0x00 0x80 0x00 0x80)
params() { printf '%02X' $(seq $((16 * $1 + 1)) $((16 * $1 + 52))); }

start_board() { # name, board index
  local name=$1 index=$2
  "$sim" --link "$work/board-$name" --baud "$baud" --version R07.10.00 \
    --band-edge "${band_edges[$index]}" --variant-flag "${variant_flags[$index]}" \
    --param-block "$(params "$index")" --dump-flash "$work/flash-$name.bin" > "$work/sim-$name.log" 2>&1 &
  sim_pids+=($!)
  for _ in $(seq 100); do [ -e "$work/board-$name" ] && return; sleep 0.05; done
  echo "bench-four-boards: lodestar-sim did not start: $(cat "$work/sim-$name.log")" >&2
  exit 1
}
# Stops the emulators; sim_cpu is the CPU time they used together, in seconds.
stop_boards() {
  local ticks=0
  for pid in "${sim_pids[@]}"; do
    ticks=$((ticks + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
    kill "$pid"; wait "$pid" || true
  done
  sim_cpu=$(calc "$ticks / $(getconf CLK_TCK)")
  sim_pids=()
}
region() { dd if="$1" bs=4096 skip="$2" count="$3" status=none | od -An -v -tx1; }
byte_exact() { # name, board index
  "$cli" image --out "$work/expected-$1.bin" --band-edge "${band_edges[$2]}" --variant-flag "${variant_flags[$2]}" \
    --param-block "$(params "$2")" --yes > /dev/null
  # Application: image offset 0, flash 0xA0000; boot: image offset 0x5C000, flash 0xFC000.
  cmp -s <(region "$work/expected-$1.bin" 0 80) <(region "$work/flash-$1.bin" 160 80) &&
    cmp -s <(region "$work/expected-$1.bin" 92 4) <(region "$work/flash-$1.bin" 252 4)
}
echo "one board paced at $baud baud ..."
start_board single 0
FIELDKIT_COM1=$work/board-single /usr/bin/time -o time-single -f '%e %U %S' \
  "$cli" upgrade --port 1 --yes < /dev/null > cli-single.log 2>&1 || true
stop_boards
single_sim_cpu=$sim_cpu
read -r single single_user single_system < time-single

echo "four boards paced at $baud baud, at once ..."
for index in 0 1 2 3; do start_board "com$((index + 1))" "$index"; done
set +e
FIELDKIT_COM1=$work/board-com1 FIELDKIT_COM2=$work/board-com2 FIELDKIT_COM3=$work/board-com3 \
  FIELDKIT_COM4=$work/board-com4 /usr/bin/time -o time-four -f '%e %U %S' \
  "$cli" upgrade --port 1 --port 2 --port 3 --port 4 --yes < /dev/null > cli-four.log 2>&1
four_status=$?
set -e
stop_boards
four_sim_cpu=$sim_cpu
read -r four four_user four_system < time-four

ratio=$(calc "$four / $single" 3)
echo
echo "single board:        $single s (fieldkit-cli CPU $(calc "$single_user + $single_system") s, emulator CPU $single_sim_cpu s)"
echo "four boards at once: $four s (fieldkit-cli CPU $(calc "$four_user + $four_system") s, emulators CPU $four_sim_cpu s), exit status $four_status"
echo "ratio four/single:   $ratio (target at most $limit)"
sed -n '/^Port /,$p' cli-four.log
verdict=0
if byte_exact single 0; then echo "single board flash: byte-exact"; else echo "single board flash: DIFFERS"; verdict=1; fi
for index in 0 1 2 3; do
  name=com$((index + 1))
  if byte_exact "$name" "$index"; then echo "COM$((index + 1)) flash: byte-exact"; else echo "COM$((index + 1)) flash: DIFFERS"; verdict=1; fi
done
[ "$four_status" -eq 0 ] || { echo "the four-board run did not succeed:"; cat cli-four.log; verdict=1; }
awk "BEGIN { exit !($ratio <= $limit) }" || { echo "ratio above $limit"; verdict=1; }

# The desktop program's bench against the command line's, the same four paced boards.
fieldkit=$build/app/fieldkit
if [ ! -x "$fieldkit" ] || ! command -v xvfb-run > /dev/null || ! command -v xdotool > /dev/null; then
  echo "desktop bench not measured: needs $fieldkit, xvfb-run and xdotool"
  exit $verdict
fi
boards_env=(FIELDKIT_COM1="$work/board-com1" FIELDKIT_COM2="$work/board-com2" FIELDKIT_COM3="$work/board-com3"
            FIELDKIT_COM4="$work/board-com4")
# Seconds from Ctrl+U to the "Bench finished" box, and the CPU time fieldkit used, on a virtual
# display with its own window manager.
desktop_run() {
  rm -f "$work/desktop-history.jsonl"
  env "${boards_env[@]}" FIELDKIT_HISTORY="$work/desktop-history.jsonl" FIELDKIT="$fieldkit" xvfb-run -a -s "-screen 0 1100x760x24 -dpi 96" bash -euo pipefail -c '
    command -v openbox > /dev/null && { openbox > /dev/null 2>&1 & sleep 1; }
    "$FIELDKIT" --bench 1,2,3,4 > desktop.log 2>&1 &
    app=$!
    main=$(timeout 30 xdotool search --sync --onlyvisible --name "^FieldKit Bench$" | head -n 1)
    xdotool windowactivate --sync "$main" 2> /dev/null || true
    begun=$(date +%s%N)
    xdotool key --clearmodifiers ctrl+u
    # Asking the display for its windows costs it and the boards time: the box is looked for
    # only once every run is recorded, just before it comes.
    until [ "$(cat "$FIELDKIT_HISTORY" 2> /dev/null | wc -l)" -ge 4 ]; do
      sleep 0.02
      kill -0 "$app" 2> /dev/null || { echo "fieldkit ended early" >&2; exit 1; }
    done
    until xdotool search --onlyvisible --name "^Bench finished$" > /dev/null 2>&1; do sleep 0.01; done
    ended=$(date +%s%N)
    cpu=$(awk "{ print \$14 + \$15 }" "/proc/$app/stat")
    kill "$app"; wait "$app" 2> /dev/null || true
    awk "BEGIN { printf \"%.2f %.2f\n\", ($ended - $begun) / 1e9, $cpu / $(getconf CLK_TCK) }"
  '
}
median() { printf '%s\n' "$@" | sort -n | awk '{ value[NR] = $1 } END { print value[int((NR + 1) / 2)] }'; }
rounds=${DESKTOP_ROUNDS:-3}
cli_times=("$four") desktop_times=()
for round in $(seq "$rounds"); do
  if [ "$round" -gt 1 ]; then
    echo "four boards from the command line, round $round ..."
    for index in 0 1 2 3; do start_board "com$((index + 1))" "$index"; done
    env "${boards_env[@]}" /usr/bin/time -o time-cli -f '%e' "$cli" upgrade --port 1 --port 2 --port 3 --port 4 --yes \
      < /dev/null > cli-round.log 2>&1 || { echo "the command line's round $round failed"; verdict=1; }
    stop_boards
    cli_times+=("$(cat time-cli)")
  fi
  echo "four boards from the desktop program, round $round ..."
  for index in 0 1 2 3; do start_board "com$((index + 1))" "$index"; done
  read -r seconds desktop_cpu < <(desktop_run)
  stop_boards
  desktop_times+=("$seconds")
  for index in 0 1 2 3; do
    byte_exact "com$((index + 1))" "$index" || { echo "desktop round $round: COM$((index + 1)) flash DIFFERS"; verdict=1; }
  done
done
cli_median=$(median "${cli_times[@]}")
desktop_median=$(median "${desktop_times[@]}")
desktop_ratio=$(calc "$desktop_median / $cli_median" 3)
echo
echo "four boards, command line: ${cli_times[*]} s, median $cli_median s"
echo "four boards, desktop:      ${desktop_times[*]} s, median $desktop_median s (fieldkit CPU $desktop_cpu s in the last round)"
echo "ratio desktop/command line: $desktop_ratio (target at most $desktop_limit); every desktop round's flashes checked byte for byte"
awk "BEGIN { exit !($desktop_ratio <= $desktop_limit) }" || { echo "desktop ratio above $desktop_limit"; verdict=1; }
exit $verdict
