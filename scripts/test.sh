#!/usr/bin/env bash
# Builds everything and runs every test. With FUZZ=1 it also builds the libFuzzer targets with
# clang and runs each for a bounded time. Set QUENBRIL_SKIP_INSTALL=1 to skip the package step.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh

build=${BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure --timeout 120 -j "$(nproc)"

if [ "${FUZZ:-0}" = 1 ]; then
    ./scripts/fuzz.sh
fi
