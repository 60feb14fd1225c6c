#!/usr/bin/env bash
# An mDNS sandbox for the `net` tests: a network namespace of its own (loopback only), a private
# /run, its own system bus and avahi-daemon. Needs root (or the capabilities to make namespaces).
#
#   avahi-sandbox.sh start DIR     makes the sandbox; its state (PIDs, logs, config) goes in DIR.
#                                  Prints the avahi-daemon's PID when the daemon is up; exits 1
#                                  (having cleaned up) when the sandbox cannot be made.
#   avahi-sandbox.sh exec DIR CMD  runs CMD inside the sandbox (use absolute paths).
#   avahi-sandbox.sh stop DIR      stops what start started, by PID, and removes the namespace.
#   avahi-sandbox.sh restart-daemon DIR
#                                  run inside the sandbox: stops its avahi-daemon and starts a
#                                  new one, as a daemon dropping its clients would be seen.
#
# Every sandbox has its own namespace name (from DIR's PID file), so several may run at once.
set -euo pipefail

usage() {
    echo "usage: $0 start|exec|stop|restart-daemon DIR [CMD...]" >&2
    exit 2
}
[ $# -ge 2 ] || usage
action=$1
dir=$(realpath -m "$2")
shift 2

# A process that has exited but not yet been reaped counts as gone.
alive() {
    local pid=$1 state
    [ -n "$pid" ] || return 1
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

stop_pid() {
    local file=$1 pid i
    [ -f "$file" ] || return 0
    pid=$(cat "$file")
    if alive "$pid"; then
        kill "$pid" 2>/dev/null || true
        for i in $(seq 50); do
            alive "$pid" || break
            sleep 0.05
        done
        alive "$pid" && kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$file"
}

# Waits up to 10 s for the daemon's startup line while process $1 lives.
daemon_up() {
    local i
    for i in $(seq 200); do
        grep -qs "Server startup complete" "$dir/avahi.log" && return 0
        alive "$1" || return 1
        sleep 0.05
    done
    return 1
}

start_daemon() {
    avahi-daemon -f "$dir/avahi-daemon.conf" --no-chroot --no-rlimits --no-drop-root \
        > "$dir/avahi.log" 2>&1 < /dev/null &
    echo $! > "$dir/avahi.pid"
}

restart_daemon() {
    stop_pid "$dir/avahi.pid"
    start_daemon
    daemon_up "$(cat "$dir/avahi.pid")"
}

stop() {
    stop_pid "$dir/avahi.pid"
    stop_pid "$dir/dbus.pid"
    stop_pid "$dir/holder.pid"
    if [ -f "$dir/netns" ]; then
        ip netns del "$(cat "$dir/netns")" 2>/dev/null || true
        rm -f "$dir/netns"
    fi
}

start() {
    mkdir -p "$dir"
    local ns="quenbril-mdns-$$"
    command -v ip > /dev/null && command -v avahi-daemon > /dev/null &&
        command -v dbus-daemon > /dev/null && command -v unshare > /dev/null || {
        echo "avahi-sandbox: ip, avahi-daemon, dbus-daemon or unshare is missing" >&2
        return 1
    }
    ip netns del "$ns" 2> /dev/null || true
    if ! ip netns add "$ns" 2> "$dir/netns.log"; then
        echo "avahi-sandbox: cannot make a network namespace: $(cat "$dir/netns.log")" >&2
        return 1
    fi
    echo "$ns" > "$dir/netns"
    ip -n "$ns" link set lo up
    cat > "$dir/avahi-daemon.conf" << EOF
[server]
host-name=$ns
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
EOF
    rm -f "$dir/avahi.log" "$dir/dbus.log" "$dir/avahi.pid" "$dir/dbus.pid"
    # The holder keeps the private /run mount alive and runs the bus; the avahi-daemon is
    # started the way restart-daemon starts it again.
    setsid ip netns exec "$ns" unshare --mount --propagation private bash -c '
        mount -t tmpfs -o mode=755 tmpfs /run && mkdir -p /run/dbus || exit 1
        dbus-daemon --system --nofork --nopidfile > "$0/dbus.log" 2>&1 & echo $! > "$0/dbus.pid"
        for i in $(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.05; done
        "$1" start-daemon "$0"
        wait' "$dir" "$(realpath "$0")" > "$dir/holder.log" 2>&1 < /dev/null &
    echo $! > "$dir/holder.pid"
    if daemon_up "$(cat "$dir/holder.pid")"; then
        cat "$dir/avahi.pid"
        return 0
    fi
    echo "avahi-sandbox: avahi-daemon did not come up:" >&2
    cat "$dir/holder.log" "$dir/dbus.log" "$dir/avahi.log" >&2 2> /dev/null || true
    return 1
}

case $action in
    start)
        if ! start; then
            stop
            exit 1
        fi
        ;;
    exec)
        [ $# -ge 1 ] || usage
        exec nsenter -t "$(cat "$dir/avahi.pid")" -n -m "$@"
        ;;
    stop) stop ;;
    start-daemon) start_daemon ;;
    restart-daemon) restart_daemon ;;
    *) usage ;;
esac
