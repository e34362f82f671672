# What the end-to-end scripts share; sourced by each of them.

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
