#!/usr/bin/env bash
# Installs the packages, builds everything and starts the monitoring-server stand-in in the
# foreground (Ctrl-C stops it). Arguments go to the stand-in (see --help), e.g. --channels 32.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${QUENBRIL_SKIP_INSTALL:-0}" = 1 ] || ./scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
echo "Built into $build/. Starting the server stand-in: point a remote at address 127.0.0.1 and"
echo "the port it prints below (57576 unless --port says otherwise)."
exec "$build/simserver/quenbril-simserver" "$@"
