#!/usr/bin/env bash
# Installs what is needed, builds, and runs a whole upgrade of the sample firmware in
# examples/ (version R07.12.00) against an emulated board that carries R07.10.00. Extra
# arguments go to `fieldkit-cli upgrade`, e.g. to show a failure:
#   scripts/demo.sh --sim-option='--fail-page-writes 3@0xA0000'
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
cd examples
exec ../build/default/cli/fieldkit-cli upgrade --simulate --sim-option="--version R07.10.00" "$@"
