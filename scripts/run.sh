#!/usr/bin/env bash
# Installs the packages, builds everything and runs the demo: the server stand-in and the remote
# connected to it (scripts/demo.sh; Ctrl-C stops both). Arguments go to the demo, e.g.
# --seconds 30 or --channels 32.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
exec ./scripts/demo.sh "$@"
