#!/usr/bin/env bash
# Measures FieldKit's performance figures side by side, in one run, and writes them with
# their targets to docs/performance.md:
#   - building an upgrade's image against srec_cat converting the same application file;
#   - wire bytes per payload byte of a whole upgrade, from lodestar-sim's counters;
#   - whole simulated upgrades against their floors: paced at 115200 baud, through a USB
#     adapter's latency timer of 1 ms and of 16 ms, and unpaced; for a board that keeps
#     requests in flight (protocol version 2) and for one that takes one at a time (version 1);
#   - four boards at once against one (scripts/bench-four-boards.sh);
#   - CPU time and peak memory of fieldkit-cli (the emulator runs as a separate process, so
#     its memory is not counted) and of the desktop program during an upgrade;
#   - peak memory of `fieldkit-cli history` over 100,000 records (scripts/history-memory.sh).
# Needs a build with fieldkit-cli, lodestar-sim and bench/image_bench (and app/fieldkit for
# the desktop figures), plus srec_cat, GNU time, xvfb-run and xdotool.
# Usage: scripts/perf-report.sh [build directory, default build/default] [output, default docs/performance.md]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
report=${2:-docs/performance.md}
cli=$build/cli/fieldkit-cli
sim=$build/sim/lodestar-sim
app=$build/app/fieldkit
for tool in "$cli" "$sim" "$build/bench/image_bench"; do
  [ -x "$tool" ] || { echo "perf-report: no $tool; build it first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "perf-report: needs GNU time (/usr/bin/time)" >&2; exit 1; }

work=$(mktemp -d /tmp/fieldkit-perf.XXXXXX)
sim_pid=
relay_pid=
cleanup() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null && wait "$relay_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp examples/* "$work/"

# The fixed pauses of a successful upgrade: 200 ms after the ping and after each of the
# identity, parameter and version reads, 500 ms after programming mode, 2000 ms in each
# verify and after the boot copy.
pause_floor=7.3
baud=115200
receive_buffer=$("$sim" --help | tr -s ' \n' ' ' | sed -n 's/.*--receive-buffer BYTES [^(]*(default \([0-9]*\)).*/\1/p')
load_at_start=$(cut -d' ' -f1 /proc/loadavg)
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

start_board() { # name, emulator options...
  local name=$1; shift
  rm -f "$work/flash-$name.bin"
  "$sim" --link "$work/board-$name" --dump-flash "$work/flash-$name.bin" "$@" > "$work/sim-$name.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -e "$work/board-$name" ] && return; sleep 0.05; done
  echo "perf-report: lodestar-sim did not start: $(cat "$work/sim-$name.log")" >&2
  exit 1
}
stop_board() { # name; leaves the emulator's counters in the variables below
  kill "$sim_pid"; wait "$sim_pid" || true; sim_pid=
  local log=$work/sim-$1.log
  requests=$(sed -n 's/.*requests \([0-9]*\)$/\1/p' "$log")
  read -r payload_in payload_out < <(sed -n 's/.*payload bytes in \([0-9]*\), out \([0-9]*\)/\1 \2/p' "$log")
  read -r wire_in wire_out < <(sed -n 's/.*wire bytes in \([0-9]*\), out \([0-9]*\)/\1 \2/p' "$log")
}
# A whole upgrade against an emulator started with the given options; sets elapsed, user,
# system (s) and peak (KB) of fieldkit-cli, and the emulator's counters.
upgrade() { # name, emulator options...
  local name=$1; shift
  start_board "$name" "$@"
  (cd "$work" && FIELDKIT_COM1="$work/board-$name" /usr/bin/time -o "$work/time-$name" -f '%e %U %S %M' \
    "$cli" upgrade --port 1 --yes < /dev/null > "$work/cli-$name.log" 2>&1) || true
  stop_board "$name"
  grep -q '^Ready - Took' "$work/cli-$name.log" ||
    { echo "perf-report: the $name upgrade did not succeed:" >&2; cat "$work/cli-$name.log" >&2; exit 1; }
  read -r elapsed user system peak < <(tail -n 1 "$work/time-$name")
  # Every byte in its place: the emulated flash against the image for the board.
  cmp -s <(dd if="$work/image.bin" bs=4096 count=80 status=none) \
         <(dd if="$work/flash-$name.bin" bs=4096 skip=160 count=80 status=none) &&
    cmp -s <(dd if="$work/image.bin" bs=4096 skip=92 count=4 status=none) \
           <(dd if="$work/flash-$name.bin" bs=4096 skip=252 count=4 status=none) ||
    { echo "perf-report: the $name upgrade left other bytes in the flash than the image's" >&2; exit 1; }
  hinted=$(grep -c "adapter holds them back" "$work/cli-$name.log" || true)
}

echo "image build against srec_cat ..."
image_out=$(scripts/bench-image.sh "$build")
image_ms=$(sed -n 's/^image build (median): *\([0-9.]*\) ms/\1/p' <<<"$image_out")
srec_ms=$(sed -n 's/^srec_cat application file (median): *\([0-9.]*\) ms/\1/p' <<<"$image_out")
speedup=$(calc "$srec_ms / $image_ms" 1)

# The same upgrade three times; its median run's figures stay set, the three times go to
# `spread`. The machine may be shared, so one run alone can be an outlier.
upgrade3() { # name, emulator options...; also sets hinted: runs of the three with the adapter hint
  local times=() hints=0
  for round in 1 2 3; do
    upgrade "$@"
    times+=("$elapsed $user $system $peak")
    hints=$((hints + hinted))
  done
  hinted=$hints
  read -r elapsed user system peak < <(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
  spread=$(printf '%s\n' "${times[@]}" | cut -d' ' -f1 | sort -n | paste -sd/ | sed 's|/| / |g')
}

# The image every upgrade below must leave in the flash: the emulator's default board, whose
# parameter block is its ESN and the ESN's complement, then the counting bytes 0x88 to 0xB3.
default_params=715C3A1E8EA3C5E1$(for i in $(seq 8 51); do printf '%02X' $((0x80 + i)); done)
(cd "$work" && "$cli" image --out "$work/image.bin" --band-edge 403000000 --variant-flag 0 \
  --param-block "$default_params" --yes > /dev/null)

echo "unpaced upgrades ..."
upgrade3 unpaced
unpaced_s=$elapsed unpaced_spread=$spread unpaced_cpu=$(calc "$user + $system") cli_peak_mb=$(calc "$peak / 1024" 1)
wire_ratio=$(calc "($wire_in + $wire_out) / ($payload_in + $payload_out)" 3)
wire_total=$((wire_in + wire_out)) payload_total=$((payload_in + payload_out)) answers=$requests
echo "upgrades at $baud baud ..."
upgrade3 paced --baud "$baud"
paced_s=$elapsed paced_spread=$spread paced_cpu=$(calc "$user + $system")
# What the payload itself needs: the fixed pauses and the data the requests carry, at 10 bits
# a byte. Answers travel the other way at the same time on a full-duplex line.
payload_floor=$(calc "$pause_floor + $payload_in * 10 / $baud")
line_floor=$(calc "$pause_floor + $wire_in * 10 / $baud")
paced_payload_in=$payload_in paced_wire_in=$wire_in paced_wire_out=$wire_out
echo "upgrades at $baud baud through an adapter's latency timer of 1 and 16 ms ..."
upgrade3 latency1 --baud "$baud" --latency 1
latency1_s=$elapsed latency1_spread=$spread
upgrade3 latency16 --baud "$baud" --latency 16
latency16_s=$elapsed latency16_spread=$spread latency16_hinted=$hinted

echo "a board of protocol version 1, one request at a time ..."
upgrade3 v1paced --baud "$baud" --protocol 1
v1_s=$elapsed v1_spread=$spread
v1_wire_total=$((wire_in + wire_out))
wire_floor=$(calc "$pause_floor + $v1_wire_total * 10 / $baud")
upgrade3 v1latency1 --baud "$baud" --latency 1 --protocol 1
v1latency1_s=$elapsed v1latency1_spread=$spread
upgrade3 v1latency16 --baud "$baud" --latency 16 --protocol 1
v1latency16_s=$elapsed v1latency16_spread=$spread v1latency16_hinted=$hinted

echo "four boards at once against one ..."
four_out=$(scripts/bench-four-boards.sh "$build") || { echo "$four_out" >&2; echo "perf-report: the bench failed" >&2; exit 1; }
four_single=$(sed -n 's/^single board: *\([0-9.]*\) s.*/\1/p' <<<"$four_out")
four_all=$(sed -n 's/^four boards at once: *\([0-9.]*\) s.*/\1/p' <<<"$four_out")
four_ratio=$(sed -n 's/^ratio four\/single: *\([0-9.]*\).*/\1/p' <<<"$four_out")
four_exact=$(grep -c "flash: byte-exact" <<<"$four_out" || true)
# The same four boards from the desktop program's bench against the command line's.
desktop_bench_cli=$(sed -n 's/^four boards, command line: .* median \([0-9.]*\) s$/\1/p' <<<"$four_out")
desktop_bench_s=$(sed -n 's/^four boards, desktop: .* median \([0-9.]*\) s .*/\1/p' <<<"$four_out")
desktop_bench_ratio=$(sed -n 's/^ratio desktop\/command line: *\([0-9.]*\).*/\1/p' <<<"$four_out")

# Where the time above the floor goes when requests go one at a time: one more paced upgrade
# of a board of protocol version 1 through the soak's relay, which records every byte with its
# time on the way.
echo "upgrade at $baud baud through a recording relay ..."
start_board split --baud "$baud" --protocol 1
python3 scripts/soak.py relay "$work/board-split" "$work/host-split" "$work/trace-split" > "$work/relay.out" &
relay_pid=$!
for _ in $(seq 100); do [ -e "$work/host-split" ] && break; sleep 0.05; done
(cd "$work" && FIELDKIT_COM1="$work/host-split" "$cli" upgrade --port 1 --yes < /dev/null > "$work/cli-split.log" 2>&1) || true
kill "$relay_pid"; wait "$relay_pid" || true; relay_pid=
stop_board split
read -r host_s board_s < <(python3 scripts/soak.py turnarounds "$work/trace-split" "$baud")

# The desktop program: an emulator of its own, the window on a virtual X display, the
# upgrade started with its keyboard command (Ctrl+U) and the program closed once the
# emulator has dumped its flash after the finish command.
desktop_row="| fieldkit (desktop), whole upgrade | **not measured**: $app was not built | | |"
if [ -x "$app" ] && command -v xvfb-run > /dev/null && command -v xdotool > /dev/null; then
  echo "desktop upgrade ..."
  # Another version than the settings name, so that no question stops the run.
  start_board desktop --version R07.13.00
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    work=$1 app=$2
    cd "$work" && FIELDKIT_COM1="$work/board-desktop" /usr/bin/time -o "$work/time-desktop" -f "%e %U %S %M" \
      "$app" > "$work/app.log" 2>&1 &
    timer=$!
    window=$(xdotool search --sync --onlyvisible --name "Lodestar Board Upgrade" | head -n 1)
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    xdotool key --clearmodifiers ctrl+u
    for _ in $(seq 600); do [ -e "$work/flash-desktop.bin" ] && break; sleep 0.1; done
    sleep 1
    xdotool key Return   # the success box
    sleep 0.5
    # Without a window manager the focus does not come back by itself after the box.
    xdotool windowfocus --sync "$window"
    xdotool key --clearmodifiers ctrl+e
    for _ in $(seq 100); do kill -0 "$timer" 2>/dev/null || break; sleep 0.1; done
    if kill -0 "$timer" 2>/dev/null; then
      echo "the Exit command did not end the program" >> "$work/app.log"
      pkill -TERM -P "$timer"
    fi
    wait "$timer"' _ "$work" "$app" || true
  stop_board desktop
  if [ -e "$work/flash-desktop.bin" ] && [ -s "$work/time-desktop" ]; then
    read -r d_elapsed d_user d_system d_peak < <(tail -n 1 "$work/time-desktop")
    desktop_row="| fieldkit (desktop), whole upgrade with start and exit | $(calc "$d_user + $d_system") s CPU in ${d_elapsed} s, peak $(calc "$d_peak / 1024" 1) MB | none given (the command line's: < 32 MB) | |"
  else
    desktop_row="| fieldkit (desktop), whole upgrade | **not measured**: the upgrade did not run to its end under xvfb ($(tail -n 1 "$work/app.log" 2>/dev/null)) | | |"
  fi
fi

echo "history listing ..."
history_out=$(scripts/history-memory.sh "$build")
history_file=$(sed -n 's/^history file: \(.*\) (.*$/\1/p' <<<"$history_out")
history_formats=$(sed -n 's/^\(table\|csv\|json\): .* in \([0-9.]*\) s, peak \([0-9.]*\) MiB = \([0-9.]*\)x the file$/\1 \3 MiB (\4x, \2 s)/p' <<<"$history_out" | paste -sd ';' | sed 's/;/; /g')
history_worst=$(sed -n 's/.* = \([0-9.]*\)x the file$/\1/p' <<<"$history_out" | sort -n | tail -n 1)

verdict() { awk "BEGIN { print ($1) ? \"met\" : \"**missed**\" }"; }
if [ -n "$desktop_bench_ratio" ]; then
  desktop_bench_row="| four boards from the desktop bench against the command line's, at ${baud} baud (scripts/bench-four-boards.sh, medians) | ${desktop_bench_s} s against ${desktop_bench_cli} s: ${desktop_bench_ratio}x; every flash byte-exact | <= 1.05x | $(verdict "$desktop_bench_ratio <= 1.05") |"
else
  desktop_bench_row="| four boards from the desktop bench against the command line's | not measured (needs fieldkit, xvfb-run and xdotool) | <= 1.05x | |"
fi
{
  cat <<EOF
# Performance

Measured by \`scripts/perf-report.sh\`, all figures from one run, side by side. Rerun it after a
change that could matter (link, flash, image, emulator) and commit the new file.
Each upgrade figure is the median of three runs, all three shown; on a machine shared with
other work they differ by several percent from run to run, the paced ones most. After every
upgrade the script compares the emulated board's flash with the image \`fieldkit-cli image\`
builds for it, and stops at the first byte out of place: every run below left it byte-exact.

Run on $(date '+%Y-%m-%d %H:%M %Z'), build \`$(basename "$build")\` ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")),
$(nproc) CPUs ($(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)), load average ${load_at_start} at the start and
$(cut -d' ' -f1 /proc/loadavg) at the end. The paced figures are line time, which the load hardly changes.

| What | Measured | Target | |
|---|---|---|---|
| image build from the sample files (bench/image_bench, median) | ${image_ms} ms | < 5 ms | $(verdict "$image_ms < 5") |
| srec_cat converting the application file alone (median) | ${srec_ms} ms | | |
| image build against srec_cat | ${speedup}x faster | >= 5x | $(verdict "$speedup >= 5") |
| wire bytes per payload byte, whole upgrade | ${wire_total} / ${payload_total} = ${wire_ratio} | <= 1.092 | $(verdict "$wire_ratio <= 1.092") |
| upgrade at ${baud} baud (median of ${paced_spread} s) | ${paced_s} s against the payload floor of ${payload_floor} s: $(calc "$paced_s / $payload_floor" 3)x; against the requests' own line time ${line_floor} s: $(calc "$paced_s / $line_floor" 3)x | within 6 % of the payload floor (<= 1.06x) | $(verdict "$paced_s / $payload_floor <= 1.06") |
| upgrade at ${baud} baud, adapter latency 1 ms (median of ${latency1_spread} s) | ${latency1_s} s | | |
| upgrade at ${baud} baud, adapter latency 16 ms (median of ${latency16_spread} s) | ${latency16_s} s: $(calc "$latency16_s / $latency1_s" 3)x the run at 1 ms; adapter hint given in ${latency16_hinted} of the 3 runs | <= 1.2x | $(verdict "$latency16_s / $latency1_s <= 1.2") |
| four boards at once against one, at ${baud} baud (scripts/bench-four-boards.sh) | ${four_all} s against ${four_single} s: ${four_ratio}x; ${four_exact} of 5 flashes byte-exact | <= 1.10x | $(verdict "$four_ratio <= 1.10 && $four_exact == 5") |
${desktop_bench_row}
| unpaced upgrade, pseudo-terminal at full speed (median of ${unpaced_spread} s) | ${unpaced_s} s against the pause floor of ${pause_floor} s: $(calc "$unpaced_s / $pause_floor" 3)x, $(calc "$unpaced_s - $pause_floor") s above it | | |
| fieldkit-cli, unpaced upgrade | ${unpaced_cpu} s CPU in ${unpaced_s} s, peak ${cli_peak_mb} MB | < 32 MB | $(verdict "$cli_peak_mb < 32") |
| fieldkit-cli, upgrade at ${baud} baud | ${paced_cpu} s CPU in ${paced_s} s | | |
${desktop_row}
| fieldkit-cli history over ${history_file} (scripts/history-memory.sh), peak memory by format | ${history_formats} | < 2x the file's size | $(verdict "$history_worst < 2") |

## A board of protocol version 1: one request at a time

The same upgrade against \`lodestar-sim --protocol 1\`, a board that says nothing about its
receive buffer: FieldKit waits for each answer before the next request, as it always has.

| What | Measured | |
|---|---|---|
| upgrade at ${baud} baud (median of ${v1_spread} s) | ${v1_s} s: $(calc "$v1_s / $payload_floor" 3)x the payload floor, $(calc "$v1_s / $wire_floor" 3)x the floor of both directions one after the other (${wire_floor} s) | |
| upgrade at ${baud} baud, adapter latency 1 ms (median of ${v1latency1_spread} s) | ${v1latency1_s} s | |
| upgrade at ${baud} baud, adapter latency 16 ms (median of ${v1latency16_spread} s) | ${v1latency16_s} s: $(calc "$v1latency16_s / $v1latency1_s" 3)x the run at 1 ms; adapter hint given in ${v1latency16_hinted} of the 3 runs | |
| time above the floor at ${baud} baud, split (one run through a recording relay) | fieldkit-cli from each answer to its next frame, fixed pauses left out: ${host_s} s ($(calc "$host_s / $answers * 1000") ms a request, the relay's two hops included); emulator from each frame to its answer beyond the line time of both: ${board_s} s ($(calc "$board_s / $answers * 1000") ms a request) | |

How the floors are made:

- Pause floor: the fixed pauses of a successful upgrade, ${pause_floor} s (200 ms after the ping
  and after each of the identity, parameter and version reads, 500 ms after programming mode,
  2000 ms in each of the two verifies and after the boot copy).
- Payload floor at ${baud} baud: the pause floor plus the data the requests carry
  (\`lodestar-sim\`'s "payload bytes in", ${paced_payload_in} bytes) at 10 bits a byte,
  $(calc "$paced_payload_in * 10 / $baud") s: $(calc "$pause_floor + $paced_payload_in * 10 / $baud") s in all. The requests' own line time adds their framing:
  ${paced_wire_in} bytes, $(calc "$paced_wire_in * 10 / $baud") s. The emulator paces each direction on its
  own, as a full-duplex line does (\`--baud\`), so the answers (${paced_wire_out} bytes) cross
  while the next requests do, as long as the board holds them.
- The board holds ${receive_buffer} bytes of requests by default (\`--receive-buffer\`), more than three
  pages' writes: enough to keep the line busy while an adapter holds the answers back.
- \`--latency\` acts as the latency timer of a USB adapter on the host's side: what the board
  sends is held until the timer runs out (counted from the first byte it holds) or a USB packet
  of 62 bytes fills. Many adapters keep 16 ms by default. \`fieldkit-cli upgrade\` times the
  answers it waited for on an idle line and, when they cost the run at least a second at a
  mean above 4 ms, hints at how to set the adapter's latency timer to 1 ms (README, Windows).
- Floor of both directions one after the other, for a board of protocol version 1: the pause
  floor plus every byte of frames and answers, ${v1_wire_total} bytes: $(calc "$v1_wire_total * 10 / $baud") s.
- The split: the floor counts neither side's own time. What a paced run of a one-at-a-time
  board spends above it is the host's turnaround (from an answer's arrival to the next frame)
  and the emulator's, ${answers} times each. The relay forwards in both directions, so its own
  time shows in the host's figure.
- Four boards: \`scripts/bench-four-boards.sh\` upgrades four paced boards at once with
  \`upgrade --port 1 --port 2 --port 3 --port 4\` against one alone, and compares every flash
  with its image; then the same four boards from the desktop program's bench against the
  command line's, three rounds each, every flash compared again. The desktop time runs from
  Ctrl+U to the "Bench finished" box; a pane's page progress reaches the window at most ten
  times a second, so four boards do not wake it a few hundred times a second.
- Wire bytes per payload byte: every byte on the line both ways (\`lodestar-sim\` counters
  "wire bytes in, out") over the data the requests and answers carry ("payload bytes in, out").
  A page costs 287 wire bytes for 263 payload bytes (docs/link-protocol.md).
- Peak memory is the maximum resident set size that GNU time reports (%M); CPU time is user
  plus system time.
- History: \`scripts/history-memory.sh\` writes a history of records as upgrades and board reads
  write them (seven upgrades to three board reads, one run in ten failed, names beyond ASCII
  among the benches) and lists it in each format to /dev/null; the program alone, before it
  reads anything, takes about 15 MB of it.
EOF
} > "$report"
echo "written to $report"
cat "$report"
