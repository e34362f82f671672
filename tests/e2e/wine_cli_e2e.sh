#!/usr/bin/env bash
# End to end on Windows, as far as Wine shows it: fieldkit-cli.exe under Wine talks to the
# Linux lodestar-sim through Wine's COM1, which a Wine prefix of the test's own maps to the
# emulator's pseudo-terminal, so the Windows serial channel carries every request.
# Usage: wine_cli_e2e.sh WINE FIELDKIT_CLI_EXE LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -euo pipefail
source "$(dirname "$(realpath "$0")")/checks.sh"
wine=$1 cli=$2 sim=$3 examples=$4 work=$5
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset FIELDKIT_COM1 FIELDKIT_COM2 FIELDKIT_COM3 FIELDKIT_COM4

rm -rf "$work"
cp -r "$examples" "$work"
cd "$work"
work=$(pwd)

# COM1 is the emulator's link.
wine_prefix_with_com1 "$wine" "$work"
# The program's output without the CR that Windows puts before every line end.
# Into a file, not a pipe: Wine's own background processes inherit the output and would
# hold a pipe open.
run() { # log file, then the arguments of fieldkit-cli.exe; sets $status
  local log=$1; shift
  set +e
  "$wine" "$cli" "$@" < /dev/null > "$log.raw" 2>&1
  status=$?
  set -e
  tr -d '\r' < "$log.raw" > "$log"
}

sim_pid=""
stop_board() {
  if [ -n "$sim_pid" ]; then
    kill -INT "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}
trap 'stop_board; "$wineserver" -k > /dev/null 2>&1 || true' EXIT
start_board() { # emulator options
  stop_board
  rm -f lodestar.line sim.log
  "$sim" --link "$work/lodestar.line" "$@" > sim.log 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do [ -e lodestar.line ] && break; sleep 0.05; done
}

# Settings as a Windows editor saves them: CR LF line ends.
sed -i 's/$/\r/' AppConfig.ini

# The image an upgrade writes for this board, in binary: exactly 0x60000 bytes.
params=$(printf '%02X' $(seq 101 152))
run image.log image --out expected.bin --band-edge 746000000 --variant-flag 0x80 --param-block "$params" --yes
check "image exits 0" test "$status" -eq 0
check "image file is 0x60000 bytes" test "$(stat -c %s expected.bin)" -eq $((0x60000))
# A name that is not ASCII keeps its characters (the manifest's UTF-8 code page).
run image-utf8.log image --out "Prüfung-€.bin" --band-edge 746000000 --variant-flag 0x80 --param-block "$params" --yes
check "a non-ASCII output name is kept" cmp -s expected.bin "Prüfung-€.bin"

# Board information through COM1.
start_board --esn 0x80000000 --version-hex 41423120202000
run info.log info --port 1
cat info.log
check "info exits 0" test "$status" -eq 0
check "info shows the ESN" grep -qx "Lodestar Board ESN: -2147483648" info.log
check "info shows the version" grep -qx "Lodestar Board Firmware Version: AB1   " info.log

# A whole upgrade; the flash the emulator dumps must hold the image, byte for byte.
start_board --band-edge 746000000 --variant-flag 0x80 --version R07.10.00 --param-block "$params" --dump-flash flash.bin
run upgrade.log upgrade
stop_board
cat upgrade.log
check "upgrade exits 0" test "$status" -eq 0
check "upgrade reports its time" grep -q "^Ready - Took 0 minutes and [0-9]* seconds" upgrade.log
check "upgrade asked nothing" bash -c '! grep -q "^Question:" upgrade.log'
check "no progress redrawn in place in a file" bash -c '! grep -q "\.\]" upgrade.log.raw || ! grep -q $'"'"'\r\['"'"' upgrade.log.raw'
check "application region in flash" cmp -s <(region expected.bin 0 80) <(region flash.bin 160 80)
check "boot region in flash" cmp -s <(region expected.bin 92 4) <(region flash.bin 252 4)

# A board that refuses the erase: the exact message, exit 1.
start_board --fail-command 0x1118 --version R07.10.00
run erase.log upgrade --yes
stop_board
check "erase failure exits 1" test "$status" -eq 1
check "erase failure message" grep -qx "Failed to erase block 8." erase.log
check "erase failure advice" grep -qx "Please turn the radio off and back on." erase.log

# The version in the CR LF settings file read whole: the board has it, the question comes,
# end of input answers No: exit 3.
start_board --version R07.12.00
run declined.log upgrade
stop_board
check "declined question exits 3" test "$status" -eq 3
check "declined question text" grep -q "^firmware version R07.12.00.$" declined.log

# A COM port mapped in the settings file to a Windows port that does not exist.
printf '[SerialDevices]\r\nCOM2=COM231\r\n' >> AppConfig.ini
run missing.log info --port 2
cat missing.log
check "missing port exits 1" test "$status" -eq 1
check "missing port message" grep -qx "Failed to open serial port" missing.log
check "missing port hint" grep -q "^Hint: COM2 is COM231, which does not exist" missing.log

# The emulated board in the same process.
run simulate.log upgrade --simulate --sim-option="--version R07.10.00"
check "upgrade --simulate exits 0" test "$status" -eq 0
check "upgrade --simulate reports its time" grep -q "^Ready - Took 0 minutes and [0-9]* seconds" simulate.log

echo "$failures failed"
test "$failures" -eq 0
