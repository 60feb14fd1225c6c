# shellcheck shell=bash
# Sourced by the scripts that start the remote with settings of their own.

# write_remote_settings CONFIG [OUTPUT-DEVICE-UID]: writes CONFIG/Quenbril/Quenbril.plist with the
# manual address 127.0.0.1 and continue automatically, so that no dialog waits for a click; with a
# UID, the remote plays to that output device.
write_remote_settings() {
    local config=${1:?write_remote_settings needs a config folder} uid=${2:-}
    mkdir -p "$config/Quenbril" || return
    {
        cat <<'PLIST'
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
PLIST
        if [ -n "$uid" ]; then
            printf '\t<key>OutputDeviceUID</key>\n\t<string>%s</string>\n' \
                "$(printf '%s' "$uid" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g')"
        fi
        printf '</dict>\n</plist>\n'
    } > "$config/Quenbril/Quenbril.plist"
}
