#!/usr/bin/env bash
# One drive: the real remote `quenbril` against `quenbril-simserver` while a dummy JACK server is
# killed (-9) and started again and again. Everything runs in private namespaces (network: lo only;
# mount: own /dev/shm and /tmp) on its own Xvfb, so that several drives can run at once.
#
# Usage: drive.sh [--build DIR] [--seconds N] [--out DIR]
#   or by environment: BUILD=DIR SECONDS=N OUT=DIR drive.sh
# Defaults: BUILD=build (the repository's), SECONDS=300, OUT=BUILD/jack-drive/<time>-<pid>.
#   --ports0 N: after the loop, a server without playback ports for N s (NOSERVER=1: no server),
#   then one with its ports; the outputs must be back within 5 s.
#   TOGGLE=1: in about half the rounds the channel strip editor is opened (the remote stops its
#   output) and closed again with Escape (it starts it), while the server is down or just up
#   (never in the last rounds, whose return is measured).
#   CONTROLLER=1: a MIDI controller (jack_midiseq, a note a second) joins every server; in about
#   half the rounds it is unplugged and plugged in again at once under the same name. After the
#   last start the remote must be connected to it and hear it within 10 s, and again within 10 s
#   of one more such re-plug.
#   FREEZE=1: in about a third of the rounds the server is stopped (SIGSTOP) for 2-6 s and
#   continued before it is killed.
#   START_DOWN=1: the remote starts while no server runs (its output device absent); the server
#   starts 2-5 s later.
#   QUIT=1: the remote is quit at a random time of the loop, while the server is down or up, and
#   must end with status 0; nothing is measured after it.
#   OUTPUT=1: the output device is chosen where the remote offers it, in its connection dialog
#   (the remote starts without "continue automatically", so the dialog stays). For about the
#   first third of the run the server is killed and started with the dialog open; in about half
#   the down rounds another listed output is picked (JACK's device is not listed then), and in a
#   later up round JACK's device (JACK_DEVICE_NAME, "system") is picked again. The last pick is
#   JACK's; the dialog is confirmed while the server is down or up, and the stored device must be
#   JACK's. Then the loop goes on as usual. Screenshots of each pick in OUT/output/.
#   RECORD=1: after the measured return the remote's two outputs are recorded for 5 s with
#   jack_rec into OUT/end.wav: peak, RMS and the longest run of exact zeros per channel; both
#   channels must carry sound.
#   LSP_EACH=1: the remote's connections (outputs and controller) by jack_lsp -c, at each round's
#   controller check and after the final checks, into OUT/lsp-<round>.txt.
# Needs root (unshare, mount), jackd with its jack_lsp and jack_midiseq, Xvfb, xdotool, gcc +
# libjack headers (for jackmon); OUTPUT=1 also ImageMagick (import, compare), RECORD=1 jack_rec
# and python3.
# Prints one summary line (also written to OUT/summary.txt); exit 0 when the drive passed.

# bash imports SECONDS from the environment; read it before it starts counting.
env_seconds=$SECONDS
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=SCRIPTDIR/../lib/remote-settings.sh
. "$here/../lib/remote-settings.sh"

if [ "${1:-}" != "--inner" ]; then
    set -u
    build=${BUILD:-$here/../../build}
    run_seconds=300
    [ "$env_seconds" -gt 0 ] 2>/dev/null && run_seconds=$env_seconds
    out=${OUT:-}
    ports0=${PORTS0:-0}
    while [ $# -gt 0 ]; do
        case $1 in
            --build) build=$2; shift 2 ;;
            --seconds) run_seconds=$2; shift 2 ;;
            --out) out=$2; shift 2 ;;
            --ports0) ports0=$2; shift 2 ;;
            -h|--help) sed -n '2,/^# Prints/p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
            *) echo "drive.sh: unknown argument $1" >&2; exit 2 ;;
        esac
    done
    build=$(realpath "$build")
    [ -n "$out" ] || out=$build/jack-drive/$(date +%Y%m%d-%H%M%S)-$$
    mkdir -p "$out"; out=$(realpath "$out")
    case $out in /tmp/*|/dev/shm/*) echo "drive.sh: OUT must not be under /tmp or /dev/shm (they are private in the drive)" >&2; exit 2 ;; esac
    for p in "$build/MonitorApp/quenbril" "$build/simserver/quenbril-simserver"; do
        [ -x "$p" ] || { echo "drive.sh: $p missing" >&2; exit 2; }
    done
    tools="unshare jackd jack_midiseq jack_lsp Xvfb xdotool gcc"
    [ "${OUTPUT:-0}" = 1 ] && tools="$tools import compare"
    [ "${RECORD:-0}" = 1 ] && tools="$tools jack_rec python3"
    for t in $tools; do
        command -v $t >/dev/null || { echo "drive.sh: $t not installed" >&2; exit 2; }
    done
    # The tap client, built once beside the script (a lock keeps parallel drives from racing).
    jackmon=$build/jack-drive/jackmon
    mkdir -p "$build/jack-drive"
    (
        flock 9
        if [ ! -x "$jackmon" ] || [ "$here/jackmon.c" -nt "$jackmon" ]; then
            gcc -O2 -Wall -o "$jackmon.tmp" "$here/jackmon.c" $(pkg-config --cflags --libs jack) -lm &&
                mv "$jackmon.tmp" "$jackmon"
        fi
    ) 9>"$build/jack-drive/.jackmon.lock"
    [ -x "$jackmon" ] || { echo "drive.sh: could not build jackmon" >&2; exit 2; }
    inner=""
    trap '[ -n "$inner" ] && kill -TERM "$inner" 2>/dev/null; wait "$inner" 2>/dev/null; exit 143' INT TERM
    BUILD=$build RUN_SECONDS=$run_seconds OUT=$out JACKMON=$jackmon PORTS0=$ports0 NOSERVER=${NOSERVER:-0} TOGGLE=${TOGGLE:-0} \
        CONTROLLER=${CONTROLLER:-0} QUIT=${QUIT:-0} START_DOWN=${START_DOWN:-0} FREEZE=${FREEZE:-0} \
        OUTPUT=${OUTPUT:-0} RECORD=${RECORD:-0} LSP_EACH=${LSP_EACH:-0} \
        unshare --net --mount --propagation private -- bash "$here/drive.sh" --inner \
        > "$out/drive.log" 2>&1 &
    inner=$!
    wait "$inner"; rc=$?
    if [ -s "$out/summary.txt" ]; then cat "$out/summary.txt"; else echo "drive $(basename "$out"): NO SUMMARY (inner rc $rc), see $out/drive.log"; tail -5 "$out/drive.log"; fi
    exit $rc
fi

# ---------------------------------------------------------------- inside the namespaces
set -u
build=$BUILD; out=$OUT; run_seconds=$RUN_SECONDS
name=drive-$$-$RANDOM                 # the JACK server's own name
log() { echo "$(date +%H:%M:%S.%N | cut -c1-12) $*"; }
now() { echo "$EPOCHREALTIME"; }
fsub() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a-b}'; }
rnd_sleep() { sleep "$(awk -v r=$RANDOM 'BEGIN{printf "%.3f", 0.5+1.5*r/32767}')"; }

# Sanitizer builds are slower: time-outs stretch.
scale=1; asan=0
if grep -Eq '^QUENBRIL_SANITIZE:STRING=.*address' "$build/CMakeCache.txt" 2>/dev/null; then
    scale=5; asan=1
    export ASAN_OPTIONS=allow_user_segv_handler=0:detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1
fi

xvfb=""; jackd_pid=""; sim=""; remote=""; mon=""; ctl=""
is_alive() {  # a zombie, a dying process or an unreadable status counts as gone
    local state
    [ -n "$1" ] || return 1
    state=$(awk '/^State:/ {print $2}' "/proc/$1/status" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}
stop_pid() {  # stop_pid PID [signal] [seconds]: signal, wait, then KILL
    local pid=$1 sig=${2:-TERM} secs=${3:-5} i
    [ -n "$pid" ] || return 0
    kill -"$sig" "$pid" 2>/dev/null
    for ((i = 0; i < secs * 10; i++)); do is_alive "$pid" || break; sleep 0.1; done
    is_alive "$pid" && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
cleanup() {
    stop_pid "$ctl"; stop_pid "$mon"; stop_pid "$remote" TERM $((5 * scale)); stop_pid "$sim"
    stop_pid "$jackd_pid"; stop_pid "$xvfb"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

ip link set lo up || { log "lo up failed"; exit 1; }
mount -t tmpfs -o mode=1777 tmpfs /dev/shm && mount -t tmpfs -o mode=1777 tmpfs /tmp || { log "mount failed"; exit 1; }
export HOME=$out/home XDG_CONFIG_HOME=$out/config XDG_RUNTIME_DIR=/tmp/xdg
rm -rf "$HOME" "$XDG_CONFIG_HOME"; mkdir -p "$HOME" /tmp/xdg; chmod 700 /tmp/xdg
# With JACK down, ALSA's default is the null device: "the default stands in".
printf 'pcm.!default { type null }\n' > "$HOME/.asoundrc"
jack_uid="JACK Audio Connection Kit:system"
plist=$XDG_CONFIG_HOME/Quenbril/Quenbril.plist
write_remote_settings "$XDG_CONFIG_HOME" "$jack_uid"
# The connection dialog stays open for the operator's choice of output.
[ "${OUTPUT:-0}" = 1 ] && sed -i '/<key>continueAutomatically<\/key>/{n;s/<true\/>/<false\/>/}' "$plist"
export JACK_DEFAULT_SERVER=$name
log "drive in $out, build $build, $run_seconds s, jack server $name, asan=$asan"

# Own X server: /tmp and the abstract socket namespace are private, so :99 is free here.
# Tried three times: once, on a loaded machine, its keymap compiler failed and it ended.
export DISPLAY=:99
for attempt in 1 2 3; do
    Xvfb :99 -screen 0 1600x1000x24 -nolisten tcp >> "$out/xvfb.log" 2>&1 &
    xvfb=$!
    for i in $(seq 100); do [ -S /tmp/.X11-unix/X99 ] || ! is_alive "$xvfb" && break; sleep 0.1; done
    [ -S /tmp/.X11-unix/X99 ] && break
    stop_pid "$xvfb"; xvfb=""
done
[ -S /tmp/.X11-unix/X99 ] || { log "Xvfb did not start"; exit 1; }

start_jack() {  # start_jack ROUND [PLAYBACK-PORTS]: the server and its tap client; returns when it answers
    jackd -n "$name" -d dummy -r 48000 -p 256 -C 8 -P "${2:-2}" >> "$out/jackd.log" 2>&1 &
    jackd_pid=$!
    t_launch=$(now)
    # The tap client tries to open from now on and notes when the server first let it in.
    "$JACKMON" "$name" quenbril > "$out/mon/$1.log" 2>> "$out/mon/errors.log" &
    mon=$!
    # The server answers once the tap is in. (jack_wait, asked before, hung inside its own
    # libjack close now and then on a loaded machine, with the server up.)
    t_up=""
    for ((i = 0; i < 100 * scale; i++)); do
        t_up=$(awk '$1 == "up" {print $2; exit}' "$out/mon/$1.log" 2>/dev/null)
        [ -n "$t_up" ] && break; sleep 0.1
    done
    [ -n "$t_up" ] || { log "jackd did not answer"; return 1; }
    t_answer=$(now)
    plug_ctl
    return 0
}
# The controller: a MIDI client playing a note a second, always under the same name.
ctl_name=quenbril-ctl
plug_ctl() {
    [ "${CONTROLLER:-0}" = 1 ] || return 0
    stop_pid "$ctl" KILL 3
    jack_midiseq "$ctl_name" 48000 0 60 12000 >> "$out/controller.log" 2>&1 &
    ctl=$!
}
# The remote's ports connected to the controller, by jack_lsp's listing of connections.
ctl_connected() {
    timeout $((5 * scale)) jack_lsp -c 2>/dev/null |
        awk -v c="$ctl_name:out" '$0 == c {on = 1; next} /^[^ \t]/ {on = 0} on && /Quenbril/ {n++} END {exit !n}'
}
received() { grep -c 'Received: ' "$out/remote.err" 2>/dev/null; }
ctl_slow_evidence() {  # ctl_slow_evidence PREFIX
    timeout $((5 * scale)) jack_lsp -c > "$1-lsp.txt" 2>&1
    ps -o pid,stat,wchan:30,etime,cmd -p "$ctl" > "$1-ctl.txt" 2>&1
    tail -n 60 "$out/remote.err" > "$1-remote-tail.txt"
    gdb -p "$remote" -batch -ex 'thread apply all bt' > "$1-bt.txt" 2>&1
}
# ctl_heard_after T: seconds from T until the remote is connected to the controller and has
# received a message more than now, or "-" after 10 s.
ctl_heard_after() {
    local heard i
    heard=$(received)
    for ((i = 0; i < 100 * scale; i++)); do
        if ctl_connected && [ "$(received)" -gt "$heard" ]; then fsub "$(now)" "$1"; return; fi
        # Not heard after 10 s: what the graph, the controller and the remote's threads are
        # doing then, once per wait.
        [ "$i" = 100 ] && ctl_slow_evidence "$out/ctl-slow-$(date +%s)"
        sleep 0.1
    done
    echo "-"
}
stats() {  # RSS (MB), threads, fds of the remote
    local rss thr fds
    rss=$(awk '/^VmRSS/{printf "%.0f", $2/1024}' "/proc/$remote/status" 2>/dev/null)
    thr=$(awk '/^Threads/{print $2}' "/proc/$remote/status" 2>/dev/null)
    fds=$(ls "/proc/$remote/fd" 2>/dev/null | wc -l)
    echo "rss=${rss:-?}MB thr=${thr:-?} fds=${fds}"
}
# wait_line FILE AWK-COND SECONDS: prints the timestamp of the first monitor line matching
wait_line() {
    local f=$1 cond=$2 secs=$3 i t
    for ((i = 0; i < secs * 10; i++)); do
        t=$(awk "\$1 != \"up\" && $cond {print \$1; exit}" "$f" 2>/dev/null)
        [ -n "$t" ] && { echo "$t"; return 0; }
        sleep 0.1
    done
    return 1
}
thr=0.0001   # a window whose peak is above this carries sound

# LSP_EACH=1: the connections of the remote's ports and of the controller's, as jack_lsp -c gives
# them (each port of either with what it is connected to), into OUT/lsp-NAME.txt.
lsp_note() {  # lsp_note NAME
    [ "${LSP_EACH:-0}" = 1 ] || return 0
    {
        echo "# $(date +%H:%M:%S.%N | cut -c1-12) $1"
        timeout $((5 * scale)) jack_lsp -c 2>&1 |
            awk 'function flush() { if (keep) printf "%s", blk }
                 /^[^ \t]/ { flush(); blk = ""; keep = 0 }
                 { blk = blk $0 "\n"; if (tolower($0) ~ /quenbril/) keep = 1 }
                 END { flush() }'
    } > "$out/lsp-$1.txt"
}

# ---- OUTPUT=1: the operator's choice of output device. The remote offers it in its connection
# dialog only (the Preferences window has no output device), which stays open until confirmed;
# the device confirmed is stored as OutputDeviceUID and the remote plays on it from then on.
jack_device=${JACK_DEVICE_NAME:-system}   # JACK's device as the dialog's pop-up names it
combo_at="300 198"                        # the output pop-up, in the dialog's coordinates
combo_text="250x14+166+191"               # its text, the arrow left out
output_changes=0; output_last=jack; output_confirm="-"; output_fail=""; pick_lost=0
dlg=""; ref_jack=""; n_up=""
dialog_window() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$remote" 2>/dev/null); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "Quenbril Remote" ] && { echo "$w"; return 0; }
    done
    return 1
}
combo_shot() {  # combo_shot FILE: the pop-up's text as it is shown now, the mouse away from it
    xdotool mousemove --window "$dlg" 20 20 2>> "$out/xdotool.log"
    sleep 0.3
    import -window "$dlg" -crop "$combo_text" +repage "$1" 2>> "$out/xdotool.log"
}
same_shot() { compare -metric AE "$1" "$2" null: 2>/dev/null; }
# open_list: opens the pop-up's list (a window of its own, 22 pixels a row and a frame of 2) and
# prints how many devices it lists.
open_list() {
    local i w h name
    xdotool mousemove --window "$dlg" $combo_at click 1 2>> "$out/xdotool.log"
    for ((i = 0; i < 20; i++)); do
        sleep 0.1
        for w in $(xdotool search --onlyvisible --pid "$remote" 2>/dev/null); do
            name=$(xdotool getwindowname "$w" 2>/dev/null)
            { [ "$name" = "Quenbril Remote" ] || [ "$name" = "Quenbril 3 Remote" ]; } && continue
            h=$(xdotool getwindowgeometry "$w" 2>/dev/null | awk '/Geometry/ {split($2, g, "x"); print g[2]}')
            [ -n "$h" ] && { echo $(((h - 2 + 11) / 22)); return 0; }
        done
    done
    return 1
}
# pick_output other|jack ROUND STATE: once the list is as the server's state makes it (JACK's
# device gone: one device fewer than with the server up; or back), the operator picks the first
# listed device (another than JACK's) or types JACK's device's name in the list; then what the
# pop-up shows is checked: JACK's device after a JACK pick.
pick_output() {
    local want=$1 r=$2 state=$3 i n want_n shot pre
    shot=$out/output/$r-$want.png; pre=$out/output/$r-$want-before.png
    [ "$want" = other ] && want_n=$((n_up - 1)) || want_n=$n_up
    for ((i = 0; i < 20 * scale; i++)); do
        is_alive "$remote" || return 1
        combo_shot "$pre"
        if n=$(open_list) && [ "$n" = "$want_n" ]; then
            import -window root -crop 600x450+0+0 +repage "$out/output/$r-$want-list.png" 2>> "$out/xdotool.log"
            if [ "$want" = jack ]; then
                # Shown before the pick, with JACK's device listed: the dialog chose it over the
                # operator's own pick, which was listed too.
                if [ "$output_last" = other ] && same_shot "$pre" "$ref_jack"; then
                    pick_lost=$((pick_lost + 1))
                    log "round $r: the dialog shows JACK's device again before it was picked (the other pick lost); $pre"
                fi
                xdotool type --delay 30 "$jack_device" 2>> "$out/xdotool.log"
            else
                xdotool key Home 2>> "$out/xdotool.log"
            fi
            xdotool key Return 2>> "$out/xdotool.log"
            combo_shot "$shot"
            if [ "$want" = jack ] && ! same_shot "$shot" "$ref_jack"; then
                log "round $r: picked JACK's device, the pop-up does not show it; trying again"
                sleep 0.5; continue
            fi
            if [ "$want" = other ] && same_shot "$shot" "$ref_jack"; then
                log "round $r: picked another device, the pop-up shows JACK's; trying again"
                sleep 0.5; continue
            fi
            output_changes=$((output_changes + 1)); output_last=$want
            echo "$(now) $r $state $want" >> "$out/output-changes.log"
            log "round $r: output device changed to $([ "$want" = jack ] && echo "JACK's ($jack_device)" || echo "the first listed of $n") while the server is $state"
            return 0
        fi
        [ -n "$n" ] && xdotool key Escape 2>> "$out/xdotool.log"
        sleep 0.5
    done
    output_fail="pick-$want-r$r"
    import -window root "$out/output/$r-$want-failed.png" 2>> "$out/xdotool.log"
    log "round $r: could not pick $want in the dialog (the list never had $want_n devices; last $n)"
    return 1
}
# confirm_dialog STATE: Confirm (at the dialog's bottom right); the dialog must go and the
# stored output device must be JACK's.
confirm_dialog() {
    local h i stored
    h=$(xdotool getwindowgeometry "$dlg" 2>/dev/null | awk '/Geometry/ {split($2, g, "x"); print g[2]}')
    xdotool mousemove --window "$dlg" 415 $((h - 32)) click 1 2>> "$out/xdotool.log"
    for ((i = 0; i < 100 * scale; i++)); do dialog_window > /dev/null || break; sleep 0.1; done
    if dialog_window > /dev/null; then
        import -window root "$out/output/confirm-failed.png" 2>> "$out/xdotool.log"
        output_fail=confirm; log "the dialog did not go on Confirm"; return 1
    fi
    output_confirm=$1
    stored=$(sed -n '/<key>OutputDeviceUID<\/key>/{n;s/.*<string>\(.*\)<\/string>.*/\1/p;}' "$plist")
    log "dialog confirmed while the server is $1; stored output device \"$stored\""
    [ "$stored" = "$jack_uid" ] || { output_fail=stored; return 1; }
}
# The server down at the top of a round (the loop's own first steps).
kill_jack() {
    kill -KILL "$jackd_pid"; wait "$jackd_pid" 2>/dev/null
    stop_pid "$mon" TERM 3; mon=""
    stop_pid "$ctl" KILL 3; ctl=""
}

mkdir -p "$out/mon"
: > "$out/rounds.log"
if [ "${START_DOWN:-0}" != 1 ]; then
    start_jack 0 || exit 1
    log "jackd $jackd_pid answers"
fi

"$build/simserver/quenbril-simserver" --port 57576 --no-publish --channels 16 > "$out/simserver.log" 2>&1 &
sim=$!
for i in $(seq $((50 * scale))); do grep -q "listening on TCP port" "$out/simserver.log" && break; sleep 0.1; done
grep -q "listening on TCP port" "$out/simserver.log" || { log "stand-in did not start"; exit 1; }

"$build/MonitorApp/quenbril" > "$out/remote.out" 2> "$out/remote.err" &
remote=$!
log "remote $remote, stand-in $sim"
if [ "${START_DOWN:-0}" = 1 ]; then
    sleep "$(awk -v r=$RANDOM 'BEGIN{printf "%.3f", 2+3*r/32767}')"
    start_jack 0 || exit 1
    log "jackd $jackd_pid answers, after the remote's start"
fi

rounds=0; died=0; remote_rc=""; replugs=0; quit_early=""; freezes=0
t_end=$((SECONDS + run_seconds))
if [ "${OUTPUT:-0}" = 1 ]; then
    mkdir -p "$out/output"
    # For about the first third of the run, rounds with the dialog open.
    t_dialog=$((SECONDS + run_seconds / 3))
    for i in $(seq $((40 * scale))); do dlg=$(dialog_window) && break; sleep 0.5; done
    [ -n "$dlg" ] || { log "the connection dialog did not show"; import -window root "$out/output/no-dialog.png"; exit 1; }
    # With the server up the list has JACK's device and at least one more (ALSA's default);
    # before the first look it has one item only ("No audio output device").
    for ((i = 0; i < 60 * scale; i++)); do
        n=$(open_list) && [ "$n" -ge 2 ] && { n_up=$n; break; }
        [ -n "$n" ] && xdotool key Escape
        sleep 0.5
    done
    [ -n "$n_up" ] || { log "the dialog never listed JACK's device"; import -window root "$out/output/no-list.png"; exit 1; }
    xdotool type --delay 30 "$jack_device"; xdotool key Return
    ref_jack=$out/output/ref-jack.png
    combo_shot "$ref_jack"
    log "connection dialog $dlg: $n_up output devices listed with the server up"
    while [ -z "$output_fail" ]; do
        is_alive "$remote" || { died=1; break; }
        done_picking=0
        [ $SECONDS -ge $t_dialog ] && [ "$output_last" = jack ] && [ "$output_changes" -ge 2 ] && done_picking=1
        # Confirmed while the server is up, or after one more kill.
        if [ "$done_picking" = 1 ] && [ $((RANDOM % 2)) = 0 ]; then confirm_dialog up; break; fi
        kill_jack
        rounds=$((rounds + 1))
        if [ "$done_picking" = 1 ]; then
            rnd_sleep; confirm_dialog down
            is_alive "$remote" || { died=1; break; }
            start_jack "$rounds" || { log "round $rounds: jackd failed to start"; output_fail=jackd; break; }
            echo "$rounds $t_launch $t_up $t_answer" >> "$out/rounds.log"
            break
        fi
        if [ "$output_last" = jack ] && [ $((RANDOM % 2)) = 0 ]; then
            pick_output other "$rounds" down || break
        else
            rnd_sleep
        fi
        is_alive "$remote" || { died=1; break; }
        start_jack "$rounds" || { log "round $rounds: jackd failed to start"; output_fail=jackd; break; }
        echo "$rounds $t_launch $t_up $t_answer" >> "$out/rounds.log"
        if [ "$output_last" = other ] && { [ $((RANDOM % 2)) = 0 ] || [ $SECONDS -ge $t_dialog ]; }; then
            pick_output jack "$rounds" up || break
        fi
        rnd_sleep
    done
    is_alive "$remote" || died=1
    if [ "$died" = 0 ] && [ -n "$output_fail" ]; then
        gdb -p "$remote" -batch -ex 'thread apply all bt' > "$out/output/bt.txt" 2>&1
    fi
    log "dialog rounds: $rounds, output changes $output_changes$([ -n "$output_fail" ] && echo ", FAILED: $output_fail")"
fi

# The main window (the widest visible one of the remote: a connection dialog may come and go
# first), then a click on the first strip (window coordinates) makes it active.
main_window() {
    local w best="" bw=0 width
    for w in $(xdotool search --onlyvisible --pid "$remote" 2>/dev/null); do
        width=$(xdotool getwindowgeometry "$w" 2>/dev/null | awk '/Geometry/ {split($2, g, "x"); print g[1]}')
        [ "${width:-0}" -gt "$bw" ] && { bw=$width; best=$w; }
    done
    [ "$bw" -ge 800 ] && echo "$best"
}
if [ "$died" = 0 ] && [ -z "$output_fail" ]; then
for i in $(seq $((20 * scale))); do grep -q "Chans received" "$out/remote.err" && break; sleep 0.5; done
active=0
for attempt in $(seq 10); do
    sleep 2
    win=$(main_window)
    [ -n "$win" ] || continue
    xdotool mousemove --window "$win" 65 150 click 1 2>> "$out/xdotool.log"
    for i in $(seq $((10 * scale))); do grep -q 'Active strips: "' "$out/simserver.log" && break; sleep 0.2; done
    grep -q 'Active strips: "' "$out/simserver.log" && { active=1; break; }
done
[ "$active" = 1 ] || { log "could not make a strip active"; exit 1; }
log "strip active: $(grep 'Active strips' "$out/simserver.log" | tail -1)"
if ! t_sound=$(wait_line "$out/mon/$rounds.log" "\$4 > $thr" $((10 * scale))); then
    log "no sound on JACK before the loop"; exit 1
fi
log "sound on JACK at $(fsub "$t_sound" "$t_up") s after the server first answered"
sleep 2
fi
start_stats=$(stats)
log "start: $start_stats"

# The channel strip editor stops the output while it is open; Escape closes it and the output
# starts again.
toggles=0
toggle_output() {
    [ "${TOGGLE:-0}" = 1 ] && [ $((RANDOM % 2)) = 0 ] || return 0
    xdotool windowfocus --sync "$win" key ctrl+shift+c 2>> "$out/xdotool.log"
    rnd_sleep
    local editor
    editor=$(xdotool search --onlyvisible --name "Channel Strips" 2>/dev/null | head -1)
    [ -n "$editor" ] || return 0
    xdotool windowfocus --sync "$editor" key Escape 2>> "$out/xdotool.log"
    toggles=$((toggles + 1))
    echo "$(now) $1" >> "$out/toggles.log"
}

# ---- the loop
quit_at=""
[ "${QUIT:-0}" = 1 ] && quit_at=$((SECONDS + 10 + RANDOM % (run_seconds > 20 ? run_seconds - 10 : 10)))
while [ $SECONDS -lt $t_end ] && [ -z "$output_fail" ]; do
    is_alive "$remote" || { died=1; break; }
    [ "${CONTROLLER:-0}" = 1 ] && echo "$rounds $(ctl_connected && echo connected || echo not)" >> "$out/controller-rounds.log"
    lsp_note "$rounds"
    kill_jack
    rounds=$((rounds + 1))
    [ -n "$quit_at" ] && [ $SECONDS -ge "$quit_at" ] && { quit_early=down; break; }
    [ $((SECONDS + 10)) -lt "$t_end" ] && toggle_output down
    rnd_sleep
    is_alive "$remote" || { died=1; break; }
    start_jack "$rounds" || { log "round $rounds: jackd failed to start"; break; }
    echo "$rounds $t_launch $t_up $t_answer" >> "$out/rounds.log"
    [ -n "$quit_at" ] && [ $SECONDS -ge "$quit_at" ] && { quit_early=up; break; }
    [ $((SECONDS + 10)) -lt "$t_end" ] && toggle_output up
    rnd_sleep
    # Unplugged and plugged in again at once, under the same name.
    if [ "${CONTROLLER:-0}" = 1 ] && [ $((RANDOM % 2)) = 0 ]; then
        plug_ctl; replugs=$((replugs + 1)); rnd_sleep
    fi
    if [ "${FREEZE:-0}" = 1 ] && [ $((RANDOM % 3)) = 0 ] && [ $((SECONDS + 10)) -lt "$t_end" ]; then
        kill -STOP "$jackd_pid"
        sleep "$(awk -v r=$RANDOM 'BEGIN{printf "%.3f", 2+4*r/32767}')"
        kill -CONT "$jackd_pid"; freezes=$((freezes + 1)); rnd_sleep
    fi
done
log "loop ended after $rounds rounds$([ "${TOGGLE:-0}" = 1 ] && echo ", the editor opened and closed $toggles times")$([ "${CONTROLLER:-0}" = 1 ] && echo ", the controller re-plugged $replugs times")$([ "${FREEZE:-0}" = 1 ] && echo ", the server frozen $freezes times")$([ -n "$quit_early" ] && echo ", quitting while the server is $quit_early")"
# ---- optionally: a server without playback ports for PORTS0 s, then one with its 2 ports
back_limit=3
if [ -z "$quit_early" ] && [ "${PORTS0:-0}" -gt 0 ] && [ "$died" = 0 ] && is_alive "$remote"; then
    back_limit=5
    kill -KILL "$jackd_pid"; wait "$jackd_pid" 2>/dev/null
    stop_pid "$mon" TERM 3; mon=""
    rounds=$((rounds + 1))
    if [ "${NOSERVER:-0}" = 1 ]; then
        log "no server for $PORTS0 s"
        sleep "$PORTS0"
        is_alive "$remote" || died=1
    else
        start_jack "$rounds" 0 || log "the server without ports failed to start"
        log "a server without playback ports for $PORTS0 s"
        sleep "$PORTS0"
        is_alive "$remote" || died=1
        kill -KILL "$jackd_pid"; wait "$jackd_pid" 2>/dev/null
        stop_pid "$mon" TERM 3; mon=""
    fi
    rounds=$((rounds + 1))
    start_jack "$rounds" || log "the 2-port server failed to start"
    echo "$rounds $t_launch $t_up $t_answer" >> "$out/rounds.log"
    log "the 2-port server is up"
fi
if [ "$died" = 1 ] || ! is_alive "$remote"; then
    died=1; wait "$remote"; remote_rc=$?
    log "remote DIED, rc $remote_rc"
    remote=""
fi

# ---- after the last start: outs back and sound back
last=$rounds
outs_back="-"; sound_back="-"; end_stats="-"; ctl_back="-"
rec_figures="rec_peak=- rec_rms=- rec_longest_zero_ms=- rec_sound=-"; rec_xruns="-"; rec_underruns="-"
if [ "$died" = 0 ] && [ -z "$quit_early" ]; then
    if t=$(wait_line "$out/mon/$last.log" '$3 >= 1' $((10 * scale))); then
        outs_back=$(fsub "$t" "$t_up")
        log "outs back $outs_back s after the server was up ($(fsub "$t" "$t_launch") s after jackd's launch)"
        if t2=$(wait_line "$out/mon/$last.log" "\$3 >= 1 && \$4 > $thr" $((10 * scale))); then
            sound_back=$(fsub "$t2" "$t_up")
        fi
    fi
    if [ "$sound_back" = "-" ]; then
        # Silent after the return: what the remote's threads do and what its sockets hold.
        ss -tnpi > "$out/silent-ss.txt" 2>&1
        ls -l "/proc/$remote/fd" > "$out/silent-fds.txt" 2>&1
        for f in /proc/$remote/fdinfo/*; do echo "== $f"; cat "$f"; done > "$out/silent-fdinfo.txt" 2>&1
        # A second tap, opened now: silent too, or only the first tap deaf?
        JACKMON_NAME=drivemon2 timeout 3 "$JACKMON" "$name" quenbril > "$out/silent-mon2.txt" 2>&1
        ss -tnpi >> "$out/silent-ss.txt" 2>&1
        gdb -p "$remote" -batch -ex 'thread apply all bt' > "$out/silent-bt.txt" 2>&1
        tail -3 "$out/mon/$last.log" > "$out/silent-mon-after.txt"
    fi
    if [ "${CONTROLLER:-0}" = 1 ]; then
        # Connected to the controller of the last server, and hearing its notes again; then
        # once more after a re-plug under the same name.
        ctl_back=$(ctl_heard_after "$t_up")
        log "controller connected and heard $ctl_back s after the server was up"
        if [ "$ctl_back" != "-" ]; then
            plug_ctl; replugs=$((replugs + 1))
            replug_back=$(ctl_heard_after "$(now)")
            log "controller connected and heard again $replug_back s after a re-plug"
            [ "$replug_back" != "-" ] || ctl_back="-"
        fi
    fi
    lsp_note "$last-end"
    if [ "${RECORD:-0}" = 1 ]; then
        # The remote's audio outputs, as the server lists them.
        rec_ports=$(timeout $((5 * scale)) jack_lsp -p -t 2>/dev/null | awk '
            /^[^ \t]/ {p = $0; o = 0; next}
            /properties:/ {o = ($0 ~ /output/); next}
            /audio/ && o && p ~ /^quenbril:/ {print p}' | head -2)
        log "recording $(echo $rec_ports) for 5 s into $out/end.wav"
        # The server's own late cycles while recording: a run of zeros may be one of them.
        xruns0=$(grep -c 'JackEngine::XRun' "$out/jackd.log")
        err0=$(wc -l < "$out/remote.err")
        if [ -n "$rec_ports" ]; then
            # A ring of 10 s (frames): its disk thread may wait long on a loaded machine, and
            # after an overrun the file holds no true recording.
            # shellcheck disable=SC2086
            timeout $((15 * scale)) jack_rec -f "$out/end.wav" -d 5 -b 32 -B 480000 $rec_ports > "$out/jack_rec.log" 2>&1 ||
                log "jack_rec ended with $?"
        fi
        rec_xruns=$(($(grep -c 'JackEngine::XRun' "$out/jackd.log") - xruns0))
        # And the remote's own under-runs it reported meanwhile (its ring short of the stream).
        rec_underruns=$(tail -n +$((err0 + 1)) "$out/remote.err" |
            awk '/Audio output: [0-9]+ under-runs/ {for (i = 1; i <= NF; i++) if ($i == "under-runs,") n += $(i - 1)} END {print n + 0}')
        if grep -q 'overruns' "$out/jack_rec.log"; then
            log "the recording is not true: $(grep overruns "$out/jack_rec.log")"
            rec_figures="rec_peak=- rec_rms=- rec_longest_zero_ms=- rec_sound=rec-overrun"
        elif [ -s "$out/end.wav" ] && python3 "$here/wavstat.py" "$out/end.wav" "$thr" > "$out/end-wav.txt" 2>&1; then
            sed 's/^/  /' "$out/end-wav.txt"
            rec_figures=$(tail -1 "$out/end-wav.txt")
            log "while recording: the server's xruns $rec_xruns, the remote's under-runs reported $rec_underruns"
        else
            log "no recording: $(tail -2 "$out/jack_rec.log" "$out/end-wav.txt" 2>/dev/null | tr '\n' ' ')"
        fi
    fi
    sleep 2
    end_stats=$(stats)
    log "end: $end_stats; outs back $outs_back s, sound back $sound_back s"
fi
stop_pid "$mon" TERM 3; mon=""

# ---- quit cleanly: SIGTERM (the remote quits its loop on it, as on Ctrl+Q)
hung=0
if [ "$died" = 0 ]; then
    kill -TERM "$remote"
    for ((i = 0; i < 20 * scale * 10; i++)); do is_alive "$remote" || break; sleep 0.1; done
    if is_alive "$remote"; then
        hung=1
        log "remote HUNG on quit; backtraces in $out/hang-bt.txt"
        gdb -p "$remote" -batch -ex 'thread apply all bt' > "$out/hang-bt.txt" 2>&1
        kill -KILL "$remote"
    fi
    wait "$remote"; remote_rc=$?
    remote=""
fi
log "remote rc $remote_rc"

# ---- figures
san=$(cat "$out/remote.err" "$out/simserver.log" | grep -cE 'ERROR: AddressSanitizer|runtime error:|SUMMARY:')
# Sound fraction: the share of 100 ms windows, while a server was up, whose peak carried sound.
# And the same over the windows in which the remote's outs were on system:playback.
read -r frac frac_conn <<<"$(awk -v thr=$thr '$1 != "up" {n++; if ($4 > thr) s++; if ($3 >= 1) {c++; if ($4 > thr) cs++}}
    END {printf "%.3f %.3f", (n ? s/n : 0), (c ? cs/c : 0)}' $(ls "$out"/mon/[1-9]*.log 2>/dev/null || echo "$out/mon/0.log"))"
# Per round: how long after the server was up the outs were back, where they came back before
# the next kill (a round may be shorter than the return takes).
read -r outs_rounds outs_max <<<"$(
    while read -r r tl tu ta; do
        awk -v tu="$tu" '$1 != "up" && $3 >= 1 {printf "%.2f\n", $1 - tu; exit}' "$out/mon/$r.log"
    done < "$out/rounds.log" | sort -g | awk '{n++; m=$1} END {printf "%d %s", n, (n ? m : "-")}'
)"
verdict=PASS
[ "$died" = 0 ] && [ "$hung" = 0 ] && [ "$remote_rc" = 0 ] && [ "$san" = 0 ] || verdict=FAIL
if [ -z "$quit_early" ]; then
    [ "$outs_back" != "-" ] && awk -v o="$outs_back" -v l="$back_limit" 'BEGIN{exit !(o <= l)}' || verdict=FAIL
    [ "$sound_back" != "-" ] || verdict=FAIL
    [ "${CONTROLLER:-0}" = 1 ] && [ "$ctl_back" = "-" ] && verdict=FAIL
    [ "${RECORD:-0}" = 1 ] && [ "${rec_figures##*rec_sound=}" != both ] && verdict=FAIL
fi
[ "${OUTPUT:-0}" = 1 ] && { [ -n "$output_fail" ] || [ "$pick_lost" != 0 ] || [ "$output_confirm" = "-" ]; } && verdict=FAIL
summary="drive $(basename "$out") build=$(basename "$build") rounds=$rounds remote_rc=${remote_rc:-?} died=$died hung=$hung sanitizer=$san outs_back=${outs_back/%[0-9]/&s} sound_back=${sound_back/%[0-9]/&s} ctl_back=${ctl_back/%[0-9]/&s} replugs=$replugs freezes=$freezes quit=${quit_early:--} output_changes=$output_changes output_confirm=$output_confirm output_pick_lost=$pick_lost output_fail=${output_fail:--} $rec_figures rec_xruns=$rec_xruns rec_underruns=$rec_underruns outs_back_rounds=${outs_rounds}/${rounds} outs_back_max=${outs_max/%[0-9]/&s} sound_frac=$frac sound_frac_connected=$frac_conn start[$start_stats] end[$end_stats] $verdict"
echo "$summary" > "$out/summary.txt"
log "$summary"
[ "$verdict" = PASS ]
