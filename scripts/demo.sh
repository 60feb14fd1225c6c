#!/usr/bin/env bash
# Starts the server stand-in on port 57576 and the remote pointed at it, with settings of their own
# in build/demo-config (the user's own settings stay untouched): manual address 127.0.0.1, and
# continue automatically so that no dialog waits for a click. With a display the window shows;
# without one both run on a headless X server and a screenshot of its screen is saved every few
# seconds, its path printed once. Ctrl-C, --seconds or closing the window stops both. Build first
# (scripts/run.sh does).
#
# Usage: scripts/demo.sh [--seconds N] [--screenshot FILE.png] [--channels N]
set -euo pipefail
script=$(realpath "$0")
cd "$(dirname "$script")/.."
# shellcheck source=SCRIPTDIR/lib/remote-settings.sh
. "$(dirname "$script")/lib/remote-settings.sh"
build=$(realpath -m "${BUILD_DIR:-build}")
port=57576
seconds=""
channels=16
screenshot="$build/demo-screenshot.png"
shot_interval=3

usage() {
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
}
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file}"); shift 2 ;;
        --channels) channels=${2:?--channels needs a number}; shift 2 ;;
        -h | --help) usage; exit 0 ;;
        *) echo "demo.sh: unknown argument: $1" >&2; usage >&2; exit 2 ;;
    esac
done
if [ -n "$seconds" ] && ! [[ $seconds =~ ^[0-9]+$ ]]; then
    echo "demo.sh: --seconds needs a whole number" >&2
    exit 2
fi
for program in "$build/simserver/quenbril-simserver" "$build/MonitorApp/quenbril"; do
    if [ ! -x "$program" ]; then
        echo "demo.sh: $program is missing; build first (scripts/build.sh)" >&2
        exit 1
    fi
done

# Without a display the same script runs again on a headless X server, whose screen it grabs.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1000x24" env QUENBRIL_DEMO_HEADLESS=1 BUILD_DIR="$build" \
        "$script" ${seconds:+--seconds "$seconds"} --screenshot "$screenshot" --channels "$channels"
fi
headless=${QUENBRIL_DEMO_HEADLESS:-0}

# A remote's manual address always uses port 57576, so the stand-in must have it.
port_taken() {
    echo "demo.sh: port $port is taken (another stand-in or server is running?); the remote's" >&2
    echo "manual address only reaches that port. Stop the other program and try again." >&2
    exit 1
}
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    port_taken
fi

config="$build/demo-config"
write_remote_settings "$config"

server=""
remote=""
server_log=$(mktemp /tmp/quenbril-demo-server-XXXXXX.log)
stop_both() {
    local pid
    for pid in $remote $server; do kill "$pid" 2>/dev/null || true; done
    for pid in $remote $server; do wait "$pid" 2>/dev/null || true; done
    remote=""
    server=""
    rm -f "$server_log" "$screenshot.part.png"
}
trap stop_both EXIT
# Ctrl-C ends the script with a status rather than by the signal, so that xvfb-run, which waits
# for it, still stops its X server.
trap 'exit 130' INT
trap 'exit 143' TERM

"$build/simserver/quenbril-simserver" --port "$port" --no-publish --channels "$channels" \
    2>"$server_log" &
server=$!
for _ in $(seq 100); do
    grep -q "listening on TCP port" "$server_log" && break
    if ! kill -0 "$server" 2>/dev/null; then
        cat "$server_log" >&2
        # Another program may have taken the port since the look above.
        grep -q "Address already in use" "$server_log" && port_taken
        echo "demo.sh: the stand-in could not start on port $port" >&2
        exit 1
    fi
    sleep 0.1
done
cat "$server_log"

XDG_CONFIG_HOME="$config" "$build/MonitorApp/quenbril" &
remote=$!
echo "demo.sh: the remote (pid $remote) is connecting to the stand-in (pid $server) on port $port."

named=0
grab() {
    # The new picture replaces the old one whole, so a reader never sees half a file. Its path
    # is said once: the same file is renewed every few seconds.
    if "$build/tests/support/quenbril-screengrab" "$screenshot.part.png" 2>/dev/null; then
        mv "$screenshot.part.png" "$screenshot"
        if [ "$named" = 0 ]; then
            echo "Screenshot: $screenshot"
            echo "demo.sh: the screenshot is renewed every $shot_interval s until the demo stops."
            named=1
        fi
    fi
}

start=$SECONDS
last_shot=$SECONDS
while [ -z "$seconds" ] || [ $((SECONDS - start)) -lt "$seconds" ]; do
    if ! kill -0 "$remote" 2>/dev/null; then
        echo "demo.sh: the remote has ended."
        break
    fi
    if ! kill -0 "$server" 2>/dev/null; then
        echo "demo.sh: the stand-in has ended." >&2
        break
    fi
    if [ "$headless" = 1 ] && [ $((SECONDS - last_shot)) -ge "$shot_interval" ]; then
        grab
        last_shot=$SECONDS
    fi
    sleep 0.5
done
if [ "$headless" = 1 ] && kill -0 "$remote" 2>/dev/null; then grab; fi
