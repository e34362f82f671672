#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh default
QT_QPA_PLATFORM=offscreen ctest --preset default -j "$(nproc)"
