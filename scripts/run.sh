#!/usr/bin/env bash
# Installs the packages and builds everything. (Starting the remote against the server stand-in
# joins this script once both programs exist.)
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${QUENBRIL_SKIP_INSTALL:-0}" = 1 ] || ./scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
echo "Built into $build/."
