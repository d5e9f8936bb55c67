#!/usr/bin/env bash
# Peak resident memory of the installer with a window, and what it is made
# of, against the toolkit's own floor. Run by hand (it needs Xvfb, openbox
# and xdotool, like the GUI tests, whose helpers it uses):
#
#   bash bench/window_memory.sh build/Setup.app/Contents/MacOS/Setup \
#       build/pkdtool OUT build/ui/libqa_slow_file_times.so \
#       build/ui/qa_toolkit_floor [SCENARIO...]
#
# Scenarios (all by default):
#   floor      the toolkit's smallest window program, as the toolkit comes
#   floor-set  the same with the environment the installer sets for the
#              toolkit's start-up
#   page       the wizard on a kit of 100 files, on its first two pages
#   run        the wizard installing a larger kit (BENCH_FILES files of 1 to
#              8 KiB, default 20000, and two files of BENCH_BIG_MB MiB,
#              default 128)
#   silent     /S with a display, kit of 100 files
#   headless   /S without a display, the larger kit
# For each: the peak RSS from /usr/bin/time, and in OUT/NAME.peak.txt the
# mappings at the highest RSS sampled (every 20 ms) summed by kind
# (bench/smaps_summary.awk), with the largest mappings.
source "$(dirname "$0")/../tests/gui/lib.sh"
gui_start "$@"
OUT=$3
FLOOR=$5
shift 5
SCENARIOS=("$@")
[ ${#SCENARIOS[@]} -gt 0 ] || SCENARIOS=(floor floor-set page run silent headless)
SUMMARY=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/smaps_summary.awk
mkdir -p "$OUT"

# The settings of ScopedEnvironmentVariable in the window layer's start-up.
readonly INSTALLER_TOOLKIT_ENV=(GNUTLS_NO_EXPLICIT_INIT=1 MAGICK_CODER_MODULE_PATH=/dev/null)

# watch_rss PID NAME: follows VmRSS of PID until it ends, and keeps a copy of
# its smaps whenever the RSS reaches a new high.
watch_rss() {
    set +e
    local pid=$1 name=$2 max=0 rss key value
    while [ -e "/proc/$pid/status" ]; do
        rss=0
        while read -r key value _; do
            if [ "$key" = VmRSS: ]; then
                rss=$value
                break
            fi
        done <"/proc/$pid/status" 2>/dev/null
        if [ "$rss" -gt $((max + 64)) ] &&
            cat "/proc/$pid/smaps" >"$OUT/$name.smaps.tmp" 2>/dev/null &&
            # A copy taken while the process ends lacks most mappings.
            [ "$(awk '/^Rss:/ { t += $2 } END { print t + 0 }' "$OUT/$name.smaps.tmp")" \
                -gt $((rss * 9 / 10)) ]; then
            max=$rss
            mv "$OUT/$name.smaps.tmp" "$OUT/$name.peak.smaps"
        fi
        sleep 0.02
    done
    echo "$max" >"$OUT/$name.sampled"
}

# measured NAME PROGRAM [ARGUMENTS]: starts PROGRAM under /usr/bin/time
# with SETUP_ENV; SETUP_PID is the program's own id.
measured() {
    local name=$1 program=$2
    shift 2
    env "${SETUP_ENV[@]}" /usr/bin/time -f '%M' -o "$OUT/$name.maxrss" "$program" "$@" \
        >"$WORK/setup.out" 2>"$WORK/setup.err" &
    TIME_PID=$!
    SETUP_PID=
    local tries=0
    while [ -z "$SETUP_PID" ]; do
        SETUP_PID=$(pgrep -P "$TIME_PID" || true)
        tries=$((tries + 1))
        [ "$tries" -lt 500 ] || gui_fail "$name did not start"
        sleep 0.01
    done
    watch_rss "$SETUP_PID" "$name" &
    WATCH_PID=$!
}

# report NAME: waits for the end and prints the figures.
report() {
    local name=$1
    wait "$TIME_PID" || true
    wait "$WATCH_PID" || true
    SETUP_PID=
    awk -v top=25 -f "$SUMMARY" "$OUT/$name.peak.smaps" >"$OUT/$name.peak.txt"
    printf '%-10s peak RSS %6d KiB (time)   at the highest sample %6d KiB: %s\n' "$name" \
        "$(tail -1 "$OUT/$name.maxrss")" "$(cat "$OUT/$name.sampled")" \
        "$(awk '$1 != "kind" && $1 != "largest" && NF == 7 && $2 >= 512 \
                { printf "%s %d, ", $1, $2 }' "$OUT/$name.peak.txt")"
}

small_kit() {
    rm -rf "$WORK/kit" "$HOME/.qarn" "$HOME/.Qa"
    [ -d "$WORK/small" ] || make_templates "$WORK/small" 100
    make_kit "$WORK/small" --product "en:Report Templates:Example Ltd:readme.html"
}

large_kit() {
    rm -rf "$WORK/kit" "$HOME/.qarn" "$HOME/.Qa"
    if [ ! -d "$WORK/large" ]; then
        local i
        for ((i = 0; i < 200; i++)); do mkdir -p "$WORK/large/dir$i"; done
        awk -v root="$WORK/large" -v count="${BENCH_FILES:-20000}" 'BEGIN {
            srand(12345)
            split("section key value = true false path name width height [main]", words, " ")
            # Text-like contents: slices at random offsets of one long text.
            while (length(text) < 65536) text = text words[1 + int(rand() * 11)] " "
            for (i = 0; i < count; i++) {
                file = root "/dir" (i % 200) "/file" i ".cfg"
                size = 1024 + int(rand() * 7 * 1024)
                printf "%s", substr(text, 1 + int(rand() * (65536 - size)), size) > file
                close(file)
            }
        }'
        for ((i = 0; i < 2; i++)); do
            yes "template line $i" | head -c "$((${BENCH_BIG_MB:-128} * 1048576))" \
                >"$WORK/large/big$i.bin" || true
        done
        printf '<html><body>About</body></html>\n' >"$WORK/large/readme.html"
    fi
    make_kit "$WORK/large" --level 1 --product "en:Report Templates:Example Ltd:readme.html"
}

SETUP_PROGRAM() { echo "$WORK/kit/Setup.app/Contents/MacOS/Setup"; }

for scenario in "${SCENARIOS[@]}"; do
    SETUP_ENV=()
    case $scenario in
    floor | floor-set)
        [ "$scenario" = floor ] || SETUP_ENV=("${INSTALLER_TOOLKIT_ENV[@]}")
        measured "$scenario" "$FLOOR"
        wait_wizard
        sleep 1
        stop_process "$SETUP_PID"
        report "$scenario"
        ;;
    page)
        small_kit
        measured page "$(SETUP_PROGRAM)" -Len
        wait_wizard
        sleep 1
        click $NEXT_BUTTON
        sleep 1
        stop_process "$SETUP_PID"
        report page
        ;;
    run)
        large_kit
        measured run "$(SETUP_PROGRAM)" -Len
        wait_wizard
        click $NEXT_BUTTON
        click $NEXT_BUTTON
        wait_for_success_page
        click $NEXT_BUTTON
        report run
        ;;
    silent)
        small_kit
        slow_installation 20000
        measured silent "$(SETUP_PROGRAM)" -S -Len
        report silent
        ;;
    headless)
        large_kit
        SETUP_ENV=(DISPLAY=)
        measured headless "$(SETUP_PROGRAM)" -S -Len
        report headless
        ;;
    *)
        gui_fail "unknown scenario $scenario"
        ;;
    esac
done
