#!/usr/bin/env bash
# Installs the packages (unless QUENBRIL_SKIP_INSTALL=1) and builds everything into
# ${BUILD_DIR:-build}. The run and test commands start with it.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${QUENBRIL_SKIP_INSTALL:-0}" = 1 ] || ./scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
