#!/usr/bin/env bash
# Runs N drives of drive.sh at once (each in its own namespaces) and prints their summaries.
# Usage: many.sh [N] [drive.sh args...]    e.g. many.sh 3 --seconds 120 --build build-asan
# Environment BUILD / SECONDS pass through to each drive; each drive's logs go to BASE/drive-K
# (BASE=${OUT:-build/jack-drive/many-<time>-<pid>}). Exit 0 when every drive passed.
env_seconds=$SECONDS
here=$(cd "$(dirname "$0")" && pwd)
n=3
if [[ ${1:-} =~ ^[0-9]+$ ]]; then n=$1; shift; fi
base=${OUT:-$here/../../build/jack-drive/many-$(date +%Y%m%d-%H%M%S)-$$}
mkdir -p "$base"
pids=()
trap 'for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; done; wait; exit 143' INT TERM
for ((k = 1; k <= n; k++)); do
    env SECONDS="$env_seconds" OUT= "$here/drive.sh" --out "$base/drive-$k" "$@" > "$base/drive-$k.txt" 2>&1 &
    pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
for ((k = 1; k <= n; k++)); do tail -1 "$base/drive-$k.txt"; done
echo "logs: $base"
exit $rc
