#!/usr/bin/env bash
# Bad inputs a technician can give fieldkit-cli, and what each must show: the exact message,
# the exit status (1 failed, 3 declined), and no hang. docs/bad-input.md lists them all.
# Usage: cli_bad_input.sh FIELDKIT_CLI LODESTAR_SIM EXAMPLES_DIR WORK_DIR
set -uo pipefail
cli=$(realpath "$1") sim=$(realpath "$2") examples=$(realpath "$3") work=$(realpath -m "$4")

rm -rf "$work"
mkdir -p "$work"
chmod 755 "$work"
failures=0
check() { # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
# A fresh working directory with the sample firmware and settings.
fresh() {
  rm -rf "$work/dir"
  cp -r "$examples" "$work/dir"
  chmod -R a+rX "$work/dir"
}
# Runs fieldkit-cli in the working directory with no answer to any question; its output
# goes to $work/out, its exit status to $status.
run() {
  (cd "$work/dir" && timeout 60 "$@" < /dev/null > "$work/out" 2>&1)
  status=$?
}
has() { grep -qx -- "$1" "$work/out"; }
hint() { grep -q -- "^Hint: $1" "$work/out"; }
not_has() { # none of the given texts appears in the output
  local text; for text; do grep -qF -- "$text" "$work/out" && return 1; done; return 0
}
# Permission checks mean nothing to root, so they run as nobody when the test runs as root.
unprivileged=()
if [ "$(id -u)" -eq 0 ]; then
  unprivileged=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

boot_question="The boot code file (corvo_boot.s19) seems to contain errors."
app_question="The application code file (corvo_fwapp.s19) seems to contain errors."

echo "== firmware files"
fresh; rm "$work/dir/corvo_boot.s19"; run "$cli" upgrade --simulate --yes
check "missing boot file: exit 1" test "$status" -eq 1
check "missing boot file: text" has "Failed to process boot code file"
check "missing boot file: plain Ready" has "Ready"
check "missing boot file: hint names the folder" hint "corvo_boot.s19 was not found in $work/dir\. Run fieldkit-cli in the folder"

fresh; rm "$work/dir/corvo_fwapp.s19"; mkdir "$work/dir/corvo_fwapp.s19"; run "$cli" upgrade --simulate --yes
check "application file is a directory: exit 1" test "$status" -eq 1
check "application file is a directory: text" has "Failed to process application code file"
check "application file is a directory: hint" hint "corvo_fwapp.s19 is a directory, not a firmware file\."

fresh; : > "$work/dir/corvo_boot.s19"; run "$cli" upgrade --simulate
check "empty boot file: declined at end of input, exit 3" test "$status" -eq 3
check "empty boot file: question" has "$boot_question"

fresh; head -c 20000 /dev/urandom > "$work/dir/corvo_fwapp.s19"; run "$cli" upgrade --simulate
check "binary application file: exit 3" test "$status" -eq 3
check "binary application file: question" has "$app_question"

fresh; sed -i '5s/..$/00/' "$work/dir/corvo_fwapp.s19"; run "$cli" upgrade --simulate
check "bad record checksum: question" has "$app_question"
check "bad record checksum: hint names the line, before the answer" \
  grep -Pzq "Would you like to proceed anyway\?\nHint: corvo_fwapp.s19 line 5: wrong record checksum[^\n]*\n\[y/N\]" "$work/out"

# A file that contradicts itself: a second record gives the first data record's address
# another byte (the count record still agrees).
fresh; python3 - "$work/dir/corvo_fwapp.s19" <<'PY'
import sys
def record(kind, address, data, length):
    body = bytes([length + len(data) + 1]) + address.to_bytes(length, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), (0xFF - sum(body)) & 0xFF)
lines = open(sys.argv[1]).read().splitlines()
first = bytes.fromhex(lines[1][4:-2])
address, data = int.from_bytes(first[:3], "big"), bytearray(first[3:])
data[0] ^= 1
lines.insert(2, record(2, address, bytes(data), 3))
count = [i for i, line in enumerate(lines) if line.startswith("S5")][0]
lines[count] = record(5, int(lines[count][4:8], 16) + 1, b"", 2)
open(sys.argv[1], "w").write("\n".join(lines) + "\n")
PY
run "$cli" upgrade --simulate --yes
check "contradicting records: the errors question" has "$app_question"
check "contradicting records: names the address" has "Two of its records give different bytes for flash address 0xA0000."
check "contradicting records: --yes answers No" has "\\[y/N\\] n (--yes)"
check "contradicting records: exit 3" test "$status" -eq 3
check "contradicting records: hint names the line" hint "corvo_fwapp.s19 line 3: other bytes for 0xA0000 than an earlier record\\."
run "$cli" upgrade --simulate --force
check "contradicting records and --force: written" test "$status" -eq 0

# --yes never writes what FieldKit itself calls damaged or incompatible: the question is
# shown, answered No with a hint naming --force, and the board is never touched. --force
# goes on, after printing the question.
fresh; head -c 20000 /dev/urandom > "$work/dir/corvo_boot.s19"; run "$cli" upgrade --simulate --yes
check "--yes and a damaged file: exit 3" test "$status" -eq 3
check "--yes and a damaged file: answered No" has "\\[y/N\\] n (--yes)"
check "--yes and a damaged file: hint names --force" hint ".*--force only to write anyway"
check "--yes and a damaged file: board untouched" not_has "Verifying the option board" "Erasing flash blocks"
run "$cli" upgrade --simulate --force
check "--force and a damaged file: asked, then done" has "\\[y/N\\] y (--force)"
check "--force and a damaged file: exit 0" test "$status" -eq 0

fresh; run "$cli" upgrade --simulate --yes --sim-option="--version X03.1"
check "--yes and an incompatible board: exit 3" test "$status" -eq 3
check "--yes and an incompatible board: the question" has "The Lodestar board is flashed with firmware version X03.1."
check "--yes and an incompatible board: nothing erased" not_has "Erasing flash blocks"
run "$cli" upgrade --simulate --force --sim-option="--version X03.1"
check "--force and an incompatible board: exit 0" test "$status" -eq 0

# Both files as a Windows tool saves them: blanks at line ends, CR LF, a DOS end-of-file
# byte after the last record. No question, and the very image the clean files give.
fresh; run "$cli" image --out clean.bin
for file in corvo_boot.s19 corvo_fwapp.s19; do
  sed -i 's/$/ \t \r/' "$work/dir/$file"; printf '\032' >> "$work/dir/$file"
done
run "$cli" image --out windows.bin
check "Windows-style firmware files: image without a question, exit 0" test "$status" -eq 0
check "Windows-style firmware files: no question" not_has "Question:"
check "Windows-style firmware files: the same image as the clean files" cmp -s "$work/dir/clean.bin" "$work/dir/windows.bin"
run "$cli" upgrade --simulate --yes
check "Windows-style firmware files: upgrade done, exit 0" test "$status" -eq 0
check "Windows-style firmware files: upgrade asks about no file" not_has "$boot_question" "$app_question"

fresh; chmod 000 "$work/dir/corvo_boot.s19"; run "${unprivileged[@]}" "$cli" upgrade --simulate --yes
check "unreadable boot file: exit 1" test "$status" -eq 1
check "unreadable boot file: text" has "Failed to process boot code file"
check "unreadable boot file: hint" hint "corvo_boot.s19 cannot be read: Permission denied\."

echo "== settings"
fresh; sed -i 's/^PortNumber=.*/PortNumber=COM0/' "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "COM0: warning" has "No valid COM port setting found in .ini file.  Using default of COM1."
check "COM0: COM1 used" grep -q "(COM1)$" "$work/out"
check "COM0: the command still runs" test "$status" -eq 0

fresh; sed -i 's/^PortNumber=.*/PortNumber=COM123/' "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "COM123: warning" has "No valid COM port setting found in .ini file.  Using default of COM1."

fresh; printf '[serialPORT]\r\n  portnumber = "com3"  \r\n' > "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "odd case, quotes and CR LF: COM3" grep -q "(COM3)$" "$work/out"

fresh; { head -c 3000 /dev/urandom; printf '\0'; } > "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "garbage settings: defaults, COM1" grep -q "(COM1)$" "$work/out"
check "garbage settings: hint" hint "AppConfig.ini holds NUL bytes, so it is not read as text"

fresh; printf '[SerialPort]\nPortNumber: COM3\n' > "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "a line that is no key: COM1" grep -q "(COM1)$" "$work/out"
check "a line that is no key: hint" \
  hint "AppConfig.ini line 2 is neither a \\[section\\], a key=value nor a comment, and is not read\\."

# As Windows editors save it: "UTF-8 with BOM", and "Unicode" (UTF-16 with its mark).
fresh; printf '\357\273\277[SerialPort]\r\nPortNumber=COM3\r\n' > "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "UTF-8 with a byte order mark: COM3" grep -q "(COM3)$" "$work/out"
run "$cli" ports
check "UTF-8 with a byte order mark: ports names COM3" grep -q "^  COM3 .*<- selected in AppConfig.ini$" "$work/out"
fresh; { printf '\377\376'; sed 's/$/\r/' "$examples/AppConfig.ini" | iconv -f UTF-8 -t UTF-16LE; } > "$work/dir/AppConfig.ini"
run "$cli" upgrade --simulate
check "UTF-16 settings: the version is read and asked about" has "The Lodestar board is already flashed with"
check "UTF-16 settings: no hint" not_has "Hint: AppConfig.ini"

fresh; sed -i 's/^PortNumber=.*/PortNumber=4/' "$work/dir/AppConfig.ini"; run "$cli" info --simulate
check "PortNumber=4: COM1, as it always was" grep -q "(COM1)$" "$work/out"
check "PortNumber=4: hint" hint "PortNumber=4 in AppConfig.ini is not of the form COMn; using COM1\."

fresh; sed -i 's/^PortNumber=.*/PortNumber=COM2/' "$work/dir/AppConfig.ini"; chmod 000 "$work/dir/AppConfig.ini"
run "${unprivileged[@]}" "$cli" info --simulate
check "unreadable settings: read as missing, COM1" grep -q "(COM1)$" "$work/out"
check "unreadable settings: hint" hint "AppConfig.ini cannot be read (Permission denied); its settings are not used\."

fresh; rm "$work/dir/AppConfig.ini"; run "$cli" upgrade --simulate
check "missing settings: version UNDEFINED, so no question, success" test "$status" -eq 0
check "missing settings: settings file not created" test ! -e "$work/dir/AppConfig.ini"

echo "== ports"
fresh; run env FIELDKIT_COM2=/nonexistent/ttyUSB9 "$cli" info --port 2
check "missing device: exit 1" test "$status" -eq 1
check "missing device: text" has "Failed to open serial port"
check "missing device: hint" hint "COM2 is /nonexistent/ttyUSB9, which does not exist"

for device in /dev/null "$work" "$examples/Info.txt"; do
  fresh; run env FIELDKIT_COM1="$device" "$cli" upgrade --yes
  check "$device as a port: text" has "Failed to open serial port"
  check "$device as a port: hint" hint "$device is not a serial port"
done

"$sim" --link "$work/board" > "$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/board" ] && break; sleep 0.1; done
fresh; run env FIELDKIT_COM1="$work/board" "${unprivileged[@]}" "$cli" info
check "port without permission: text" has "Failed to open serial port"
check "port without permission: hint" hint "no permission to open $work/board"
kill "$sim_pid"; wait "$sim_pid"

echo "== board answers"
fresh; run "$cli" upgrade --simulate --yes --sim-option="--noise 3"
check "garbage from the board: exit 1" test "$status" -eq 1
check "garbage from the board: zone message" has "Please switch the radio to a Lodestar zone."
check "garbage from the board: no valid request reached it, so nothing came back" hint "nothing came back on COM1"

# A device that sends every byte back (a loopback plug, or the wrong device) answers, but
# never as a board does.
python3 - "$work/echo" <<'PY' &
import os, pty, sys, tty
controller, device = pty.openpty()
tty.setraw(device)
os.symlink(os.ttyname(device), sys.argv[1])
while True:
    os.write(controller, os.read(controller, 4096))
PY
echo_pid=$!
for _ in $(seq 50); do [ -e "$work/echo" ] && break; sleep 0.1; done
fresh; run env FIELDKIT_COM1="$work/echo" "$cli" info
check "a line that echoes: exit 1" test "$status" -eq 1
check "a line that echoes: zone message" has "Please switch the radio to a Lodestar zone."
check "a line that echoes: hint" hint "COM1 ($work/echo) answered, but not as a Lodestar board does"
kill "$echo_pid"; wait "$echo_pid" 2>/dev/null

fresh; run "$cli" upgrade --simulate --yes --sim-option="--latency 3000"
check "answers later than every try: zone message" has "Please switch the radio to a Lodestar zone."

fresh; run "$cli" info --simulate --sim-option="--dead-after 40"
check "cable pulled after the version read: exit 1" test "$status" -eq 1
check "cable pulled after the version read: text" has "Failed to read ESN"

fresh; run "$cli" upgrade --simulate --yes --sim-option="--dead-after 300"
check "cable pulled at the first page: boot write message with advice" \
  has "Failed to write to boot code temporary storage area."
check "cable pulled at the first page: advice" has "Please turn the radio off and back on."

echo "== sample firmware and the history"
# The sample files reach the emulated board only: one that answers as a real board does is
# refused before anything is written, and the refusal is recorded.
"$sim" --link "$work/real" --real-board --dump-flash "$work/real.bin" > "$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/real" ] && break; sleep 0.1; done
fresh; run env FIELDKIT_COM1="$work/real" FIELDKIT_HISTORY="$work/history.jsonl" "$cli" upgrade --force
kill "$sim_pid"; wait "$sim_pid"
check "sample firmware for a real board: exit 1" test "$status" -eq 1
check "sample firmware for a real board: text" has "Nothing was written to the board."
check "sample firmware for a real board: names the files" grep -q "^corvo_boot.s19 and corvo_fwapp.s19 are sample firmware" "$work/out"
check "sample firmware for a real board: flash untouched" cmp -s "$work/real.bin" <(head -c 1048576 /dev/zero | tr '\0' '\377')
check "sample firmware for a real board: recorded" grep -q '"failure_kind":"sample_firmware"' "$work/history.jsonl"
fresh; run "$cli" image --out "$work/sample.bin"
check "sample firmware still builds an image" test "$status" -eq 0

# Rewrites that keep the samples' bytes are refused alike: a neutral S0 before the marked one,
# the mark split across two S0 records, and the files through objcopy, which writes the file's
# name as their only S0 and cuts the data into records of its own.
for rewrite in neutral-header split-mark objcopy; do
  fresh
  for name in corvo_boot.s19 corvo_fwapp.s19; do
    if [ "$rewrite" = objcopy ]; then
      objcopy -I srec -O srec "$work/dir/$name" "$work/dir/$name.new"
    else
      python3 - "$work/dir/$name" "$rewrite" > "$work/dir/$name.new" <<'PY'
import sys
def header(text):
    body = bytes([len(text) + 3, 0, 0]) + text.encode()
    return "S0%s%02X" % (body.hex().upper(), (0xFF - sum(body)) & 0xFF)
lines = open(sys.argv[1]).read().splitlines()
name = sys.argv[1].rsplit("/", 1)[-1]
if sys.argv[2] == "neutral-header":
    lines.insert(0, header(name))
else:
    lines[0:1] = [header(name + " FIELDKIT SAMPLE,"), header(" NEVER FOR A RADIO")]
print("\n".join(lines))
PY
    fi
    mv "$work/dir/$name.new" "$work/dir/$name"
  done
  "$sim" --link "$work/real" --real-board --dump-flash "$work/real.bin" > "$work/sim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$work/real" ] && break; sleep 0.1; done
  run env FIELDKIT_COM1="$work/real" "$cli" upgrade --force
  kill "$sim_pid"; wait "$sim_pid"
  check "samples rewritten ($rewrite): no question about the files" not_has "seems to contain errors"
  check "samples rewritten ($rewrite): refused" grep -q "^corvo_boot.s19 and corvo_fwapp.s19 are sample firmware" "$work/out"
  check "samples rewritten ($rewrite): exit 1" test "$status" -eq 1
  check "samples rewritten ($rewrite): flash untouched" cmp -s "$work/real.bin" <(head -c 1048576 /dev/zero | tr '\0' '\377')
done

for history in /proc/self/mem "$work"; do
  fresh; run env FIELDKIT_HISTORY="$history" "$cli" history
  check "unreadable history $history: exit 1" test "$status" -eq 1
  check "unreadable history $history: text" grep -q "^Error: the history cannot be read: $history: " "$work/out"
done

echo "$failures failed"
test "$failures" -eq 0
