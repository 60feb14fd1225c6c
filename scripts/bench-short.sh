#!/usr/bin/env bash
# Runs every benchmark program of a build (BUILD_DIR, default build) in its short mode
# ("--short": a second or two each), so that none of them rots unnoticed. A crash, a time-out
# or a non-zero exit fails the run; the figures are printed for people to read, never checked.
# The programs that need a service start it as the tests do (a dummy JACK server, xvfb-run) or
# say why they skip. Those that start an X server (xvfb-run -a can race for a display) or use
# the stand-in's port 57576 run one after the other; the rest run two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
limit=${BENCH_TIMEOUT:-120}
logs=$(mktemp -d /tmp/quenbril-bench-short-XXXXXX)
# The figures, without the log lines of every connection and device.
export QUENBRIL_LOG=${QUENBRIL_LOG:-warning}
trap 'rm -rf "$logs"' EXIT

mapfile -t programs < <(find "$build/bench" -path '*/CMakeFiles' -prune -o -type f -executable \
    -print | sort)
if [ ${#programs[@]} -eq 0 ]; then
    echo "bench-short: no benchmark programs in $build/bench (built with QUENBRIL_BUILD_BENCH=ON?)"
    exit 1
fi

# One program: its output to a log of its own, then a line with its status and time.
run_one() {
    local program=$1 logs=$2 limit=$3
    local name start status
    name=$(basename "$program")
    start=$SECONDS
    status=0
    timeout --kill-after=10 "$limit" "$program" --short >"$logs/$name.log" 2>&1 </dev/null ||
        status=$?
    echo "$status $((SECONDS - start)) $name" >"$logs/$name.status"
}
export -f run_one

alone=()
shared=()
for program in "${programs[@]}"; do
    if grep -q --binary-files=text 'xvfb-run' "$program" ||
        { grep -q --binary-files=text 'quenbril-simserver' "$program" &&
            grep -q --binary-files=text -- '57576' "$program"; }; then
        alone+=("$program")
    else
        shared+=("$program")
    fi
done
printf '%s\n' "${shared[@]}" | xargs -P 2 -I{} bash -c 'run_one "$1" "$2" "$3"' _ {} "$logs" "$limit"
for program in "${alone[@]}"; do run_one "$program" "$logs" "$limit"; done

failed=0
for program in "${programs[@]}"; do
    name=$(basename "$program")
    read -r status seconds _ <"$logs/$name.status"
    echo "--- $name --short: exit $status after $seconds s"
    sed 's/^/    /' "$logs/$name.log"
    if [ "$status" != 0 ]; then
        failed=1
        if [ "$status" = 124 ] || [ "$status" = 137 ]; then
            echo "    (timed out after $limit s)"
        elif [ "$status" -gt 128 ]; then
            echo "    (killed by signal $((status - 128)))"
        fi
    fi
done
if [ "$failed" != 0 ]; then
    echo "bench-short: a benchmark failed"
    exit 1
fi
echo "bench-short: ${#programs[@]} benchmarks ran"
