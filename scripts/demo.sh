#!/usr/bin/env bash
# Installs what the demo needs, builds the command line and the emulator, and runs a whole
# upgrade of the sample firmware in examples/ (version R07.12.00) against an emulated board
# that carries R07.10.00. Extra arguments go to `fieldkit-cli upgrade`, e.g. to show a failure:
#   scripts/demo.sh --sim-option='--fail-page-writes 3@0xA0000'
# The desktop program, the tests and what they need come with scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --demo
build=build/demo
mkdir -p "$build"
# Only the two programs: no tests, benchmarks or desktop program to configure or build.
if ! cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DFIELDKIT_BUILD_TESTS=OFF \
  -DFIELDKIT_BUILD_BENCHMARKS=OFF -DFIELDKIT_BUILD_DESKTOP=OFF > "$build/configure.log" 2>&1; then
  cat "$build/configure.log" >&2
  exit 1
fi
cmake --build "$build" --target fieldkit-cli lodestar-sim
cd examples
exec "../$build/cli/fieldkit-cli" upgrade --simulate --sim-option="--version R07.10.00" "$@"
