# What the end-to-end scripts share; sourced by each of them.

# Runs the calling script again on a virtual X display, with the tools that drive a window
# there; does nothing when it runs on one already.
on_virtual_display() { # the script, its arguments
  [ -z "${FIELDKIT_E2E_DISPLAY:-}" ] || return 0
  for tool in xvfb-run xdotool; do
    command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh)"; exit 1; }
  done
  FIELDKIT_E2E_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1100x760x24 -dpi 96" "$@"
}

failures=0
check() { # description, then a command that must succeed
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

wait_for() { # seconds, then a command that must come true by then
  local seconds=$1; shift
  for _ in $(seq $((seconds * 20))); do "$@" && return 0; sleep 0.05; done
  return 1
}

# 4 KB blocks of a file as hex text. The application region is image offset 0, flash
# 0xA0000 (block 160), 80 blocks long; the boot region image offset 0x5C000 (block 92), flash
# 0xFC000 (block 252), 4 blocks long.
region() { dd if="$1" bs=4096 skip="$2" count="$3" status=none | od -An -v -tx1; }

# A PostgreSQL server of the test's own in a fresh WORK_DIR: sets $port and stops the server
# when the script ends; exits 77 (skipped) where Debian's postgresql is not installed.
start_shop_server() { # pg_server.sh, a name for the server's folder, WORK_DIR
  rm -rf "$3"
  mkdir -p "$3"
  server="/tmp/$2-$$"
  set +e
  port=$("$1" start "$server")
  local status=$?
  set -e
  [ "$status" -eq 77 ] && exit 77
  trap "'$1' stop '$server'" EXIT
  export PGPASSWORD=bench-secret
}

# A Wine prefix in WORK_DIR whose COM1 is WORK_DIR/lodestar.line, with one server kept running
# for the whole test: Wine's mount manager makes <prefix>/dosdevices/com1 when its server
# starts, from the registry's Ports key (or the first /dev/ttyS*). Sets WINEPREFIX and
# $wineserver.
wine_prefix_with_com1() { # wine, WORK_DIR
  export WINEPREFIX="$2/wine-prefix"
  wineserver="$(dirname "$1")/wineserver"
  "$1" wineboot -i > /dev/null 2>&1
  "$1" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$2/lodestar.line" /f > /dev/null
  "$wineserver" -k || true
  "$wineserver" -w
  "$wineserver" -p > /dev/null 2>&1
}

# After a run that may have stopped short (any result but success), a whole upgrade by
# fieldkit-cli on COM1 puts the board right; then the emulator is stopped and the flash it
# dumped to NAME.flash must hold expected.bin's regions byte for byte.
board_ends_whole() { # fieldkit-cli, NAME, the run's result, the emulator's pid
  local cli=$1 name=$2 result=$3 board=$4 status
  if [ "$result" != success ]; then
    # The port is free again, and a whole upgrade puts the board right.
    set +e
    "$cli" upgrade --port 1 --force < /dev/null > "$name.rerun.out" 2>&1
    status=$?
    set -e
    check "$name: the next upgrade succeeds" test "$status" -eq 0
  fi
  kill -TERM "$board"
  wait "$board" || true
  check "$name: application region byte-exact" cmp -s <(region expected.bin 0 80) <(region "$name.flash" 160 80)
  check "$name: boot region byte-exact" cmp -s <(region expected.bin 92 4) <(region "$name.flash" 252 4)
}
