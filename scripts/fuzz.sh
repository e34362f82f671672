#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and UBSan on) and runs
# each for a fixed time on its seed corpus in fuzz/corpus/, then prints one line per target.
# New corpus entries and findings stay in the build directory; a finding's input is what
# tests/regressions/ replays once its cause is understood.
#
# Usage: scripts/fuzz.sh [SECONDS per target, default 60] [TARGET ...]
#   targets: srecord_loader link_answers board_requests settings board_options history_reader
#            (default: all)
#   FIELDKIT_FUZZ_BUILD=dir   build directory (default build-fuzz)
# Exit status: 0 when no target found anything, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(srecord_loader link_answers board_requests settings board_options history_reader)
build=${FIELDKIT_FUZZ_BUILD:-build-fuzz}

scripts/install-deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DFIELDKIT_FUZZ=ON -DFIELDKIT_BUILD_TESTS=OFF \
  -DFIELDKIT_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
found=0
summary=()
for target in "${targets[@]}"; do
  work="$build/fuzz-work/$target"
  mkdir -p "$work/corpus" "$work/findings"
  echo "== $target: ${seconds} s"
  # New inputs go to the first corpus directory; the seeds in the tree are only read.
  # Fork mode keeps fuzzing after a finding, so one run can collect several.
  set +e
  "$build/fuzz/fuzz_$target" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "fuzz/corpus/$target" > "$work/log" 2>&1
  set -e
  runs=$(grep -oE '^#[0-9]+' "$work/log" | tail -n 1 | tr -d '#')
  coverage=$(grep -oE 'cov: [0-9]+' "$work/log" | tail -n 1 | cut -d' ' -f2)
  findings=$(find "$work/findings" -type f | wc -l)
  found=$((found + findings))
  summary+=("$(printf '%-16s %10s runs  coverage %5s  corpus %5s  findings %s' "$target" "${runs:-?}" \
    "${coverage:-?}" "$(find "$work/corpus" -type f | wc -l)" "$findings")")
  find "$work/findings" -type f -printf '   finding: %p\n'
done

echo
printf '%s\n' "${summary[@]}"
echo "logs and findings: $build/fuzz-work/<target>/"
[ "$found" -eq 0 ]
