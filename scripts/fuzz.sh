#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, over the layers that link no Qt) and runs each for
# FUZZ_SECONDS (default 10) seconds. Any crash, leak or time-out fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-10}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUENBRIL_WITH_QT=OFF -DQUENBRIL_BUILD_TESTS=OFF -DQUENBRIL_BUILD_BENCH=OFF \
    -DQUENBRIL_BUILD_FUZZ=ON
cmake --build "$build"
shopt -s nullglob
# A seed larger than -max_len would be cut to it, so every seed is also run whole once. Inputs
# too large to keep in the tree are made here, for the targets that read property-list files:
# XML nesting 200,000 deep (3 MB), which once overflowed the stack; a text of 2,000,000
# escapes (10 MB), which once took minutes; 64 MiB of "<true/>", which took half a minute and
# 1.7 GB; and a megabyte nested 500 deep, whose values written back take more than 64 MiB (a
# settings file that refused every save).
large="$build/large-seeds"
mkdir -p "$large"
deep="$large/deep-200000.plist"
[ -s "$deep" ] || awk 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
    for (i = 0; i < 200000; i++) printf "<array>"
    for (i = 0; i < 200000; i++) printf "</array>"
    print "</plist>" }' > "$deep"
escapes="$large/escapes-2000000.plist"
[ -s "$escapes" ] || awk 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><string>"
    for (i = 0; i < 2000000; i++) printf "&amp;"
    print "</string></plist>" }' > "$escapes"
elements="$large/elements-64MiB.plist"
[ -s "$elements" ] || awk 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>k</key><array>"
    for (i = 0; i < 9586960; i++) printf "<true/>"
    print "</array></dict></plist>" }' > "$elements"
indented="$large/indented-rewrite.plist"
[ -s "$indented" ] || awk 'BEGIN {
    printf "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>k</key>"
    for (i = 0; i < 500; i++) printf "<array>"
    for (i = 0; i < 150000; i++) printf "<true/>"
    for (i = 0; i < 500; i++) printf "</array>"
    print "</dict></plist>" }' > "$indented"
plist_files=" fuzz_user_defaults fuzz_settings_file fuzz_player_file fuzz_receiver_list_file \
fuzz_midi_macros "
targets=("$build"/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no targets yet"
    exit 0
fi
for target in "${targets[@]}"; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="$build/corpus/$name"
    mkdir -p "$corpus"
    seeds="fuzz/seeds/${name#fuzz_}"
    log="$build/$name.log"
    # Frames and archives up to 256 KiB, from the first run on (no slow growth of the length
    # limit): libFuzzer would otherwise stay within 4 KiB, below every size at which the bounds
    # on frames, archives and stored history come into play.
    args=(-max_total_time="$seconds" -max_len=262144 -len_control=0 -rss_limit_mb=2048
        -timeout=10 -print_final_stats=1 "$corpus")
    [ -d "$seeds" ] && args+=("$seeds")
    whole=("$seeds"/*)
    [[ "$plist_files" == *" $name "* ]] && whole+=("$deep" "$escapes" "$elements" "$indented")
    if [ ${#whole[@]} -gt 0 ] && ! "$target" -rss_limit_mb=2048 -timeout=30 "${whole[@]}" \
        > "$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz: $name FAILED on a whole seed (log: $log)"
        exit 1
    fi
    # libFuzzer is chatty; keep its log and show it only when the target fails.
    if "$target" "${args[@]}" > "$log" 2>&1; then
        echo "fuzz: $name: $(grep -m1 -o 'Done [0-9]* runs in [0-9]* second(s)' "$log")"
    else
        tail -n 60 "$log"
        echo "fuzz: $name FAILED (log: $log)"
        exit 1
    fi
done
