#!/usr/bin/env bash
# Installs the packages, builds everything and starts the monitoring-server stand-in in the
# foreground (Ctrl-C stops it). Arguments go to the stand-in (see --help), e.g. --channels 32.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
build=${BUILD_DIR:-build}
echo "Built into $build/. Starting the server stand-in: point a remote at address 127.0.0.1 (a"
echo "remote's manual address always uses port 57576; the lines below say how to reach another port)."
exec "$build/simserver/quenbril-simserver" "$@"
