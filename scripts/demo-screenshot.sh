#!/usr/bin/env bash
# Starts the server stand-in and the remote on a headless X server, with fresh settings that
# point the remote at 127.0.0.1 and let it continue by itself, waits, and saves a screenshot.
# Usage: scripts/demo-screenshot.sh [OUT.png] [SECONDS]   (build first: scripts/build.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${BUILD_DIR:-build}")
out=$(realpath -m "${1:-quenbril-screenshot.png}")
wait_seconds=${2:-8}

config=$(mktemp -d /tmp/quenbril-demo-XXXXXX)
mkdir -p "$config/Quenbril"
cat > "$config/Quenbril/Quenbril.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>continueAutomatically</key>
	<true/>
	<key>manualIP</key>
	<string>127.0.0.1</string>
	<key>useManualIP</key>
	<integer>1</integer>
</dict>
</plist>
PLIST

"$build/simserver/quenbril-simserver" --no-publish &
server=$!
cleanup() {
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    rm -rf "$config"
}
trap cleanup EXIT

XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    "$1/MonitorApp/quenbril" &
    remote=$!
    sleep "$3"
    "$1/tests/support/quenbril-screengrab" "$2"
    kill "$remote"
    wait "$remote" || true
' demo "$build" "$out" "$wait_seconds"
echo "Saved $out"
