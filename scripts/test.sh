#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite without a display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
QT_QPA_PLATFORM=offscreen ctest --preset default
