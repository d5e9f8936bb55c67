# Helpers of the GUI tests, sourced by each tests/gui/*_test.sh.
#
# A test runs the real Setup program in its own Xvfb server with openbox
# (GNUstep windows get title bars and focus only from a window manager),
# drives it with xdotool and checks what it left on disk. CTest calls it as
#   <test>_test.sh SETUP PKDTOOL SHOT_DIR SLOW_TIMES_LIB [test arguments]
# Every test works in a temporary directory that is also its HOME and, below
# it, its TMPDIR; it is removed at the end. Screenshots go to SHOT_DIR.

set -euo pipefail

TABLES_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../text/tables" && pwd)

# Positions inside the wizard's 500 x 360 content, in points.
readonly BACK_BUTTON="270 335"
readonly NEXT_BUTTON="350 335"
readonly CANCEL_BUTTON="450 335"
readonly PATH_FIELD="300 290"
readonly BROWSE_BUTTON="475 290"
readonly OPEN_CHECKBOX="180 180"

# gui_start "$@": enters a fresh X server and sets up the test's directories.
gui_start() {
    if [ -z "${QA_GUI_IN_XVFB:-}" ]; then
        export QA_GUI_IN_XVFB=1
        exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
    fi
    SETUP_BIN=$1
    PKDTOOL=$2
    SHOT_DIR=$3
    SLOW_TIMES_LIB=$4
    TEST_NAME=$(basename "$0" .sh)
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/qa-gui.XXXXXX")
    SETUP_PID=
    OPENBOX_PID=
    trap gui_stop EXIT
    export HOME=$WORK/home
    export TMPDIR=$WORK/tmp
    mkdir -p "$HOME" "$TMPDIR" "$SHOT_DIR"
    # The language comes from the command line or, without a switch, from a
    # known locale, never from the machine's.
    export LANG=C
    unset LC_ALL LC_MESSAGES LANGUAGE

    openbox --sm-disable >"$WORK/openbox.log" 2>&1 &
    OPENBOX_PID=$!
    # By the clock, not by tries: on a busy machine each look costs more
    # than its sleep. One that died is reported at once, with its words.
    local deadline=$((SECONDS + 30))
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
        if ! kill -0 "$OPENBOX_PID" 2>/dev/null; then
            tail -5 "$WORK/openbox.log" >&2
            gui_fail "openbox ended before it started"
        fi
        [ "$SECONDS" -lt "$deadline" ] || gui_fail "openbox did not start within 30 s"
        sleep 0.1
    done
}

# stop_process PID: asks it to end, and forces it after two seconds.
stop_process() {
    local tries=0
    kill "$1" 2>/dev/null || return 0
    while kill -0 "$1" 2>/dev/null && [ "$tries" -lt 20 ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

gui_stop() {
    local status=$?
    [ -z "$SETUP_PID" ] || stop_process "$SETUP_PID"
    [ -z "$OPENBOX_PID" ] || stop_process "$OPENBOX_PID"
    rm -rf "$WORK"
    exit "$status"
}

gui_fail() {
    echo "FAIL ($TEST_NAME): $*" >&2
    if [ -n "${DISPLAY:-}" ]; then
        import -window root "$SHOT_DIR/$TEST_NAME-failure.png" 2>/dev/null || true
        echo "screen at the failure: $SHOT_DIR/$TEST_NAME-failure.png" >&2
    fi
    if [ -f "$WORK/setup.err" ]; then
        echo "--- Setup's standard error:" >&2
        grep -v -e 'Failed to determine offsets' -e 'Tiff Error' "$WORK/setup.err" | tail -20 >&2
    fi
    exit 1
}

# make_templates DIR COUNT: COUNT template files in nested folders under DIR.
make_templates() {
    local dir=$1 count=$2 i
    for ((i = 0; i < count; i++)); do
        local sub="$dir/Group$((i % 7))/Part$((i % 3))"
        mkdir -p "$sub"
        printf 'template %d\nline two\n' "$i" >"$sub/template$i.qat"
    done
    printf '<html><body>About these templates</body></html>\n' >"$dir/readme.html"
}

# make_kit SRC [pkdtool create options]: $WORK/kit/qarn.pkd from SRC and a
# copy of the program and of its window layer module (which lies beside it)
# in $WORK/kit/Setup.app, where it looks for the kit.
make_kit() {
    local src=$1
    shift
    mkdir -p "$WORK/kit/Setup.app/Contents/MacOS"
    cp "$SETUP_BIN" "$WORK/kit/Setup.app/Contents/MacOS/Setup"
    cp "$(dirname "$SETUP_BIN")/libqa_cocoa.so" "$WORK/kit/Setup.app/Contents/MacOS/"
    "$PKDTOOL" create -o "$WORK/kit/qarn.pkd" "$@" "$src" >/dev/null
}

# start_setup [arguments]: starts the copied program, with the variables of
# the array SETUP_ENV added to its environment; SETUP_PID is its id.
SETUP_ENV=()
start_setup() {
    env "${SETUP_ENV[@]}" "$WORK/kit/Setup.app/Contents/MacOS/Setup" "$@" \
        >"$WORK/setup.out" 2>"$WORK/setup.err" &
    SETUP_PID=$!
}

# slow_installation MICROSECONDS: each file put in place (and each earlier
# copy backed up) takes that much longer, so that a test can see and act on
# the progress page while the template directory changes. The files are
# written whole beforehand, at full speed. A folder the template directory
# lacks is put in place whole, with one rename: see make_folders.
slow_installation() {
    SETUP_ENV+=("LD_PRELOAD=$SLOW_TIMES_LIB" "QA_SLOW_RENAMES_US=$1")
}

# make_folders SRC TARGET: every folder of SRC made in TARGET, so that a run
# puts each file of the kit in place on its own and the template directory
# fills file by file.
make_folders() {
    mkdir -p "$2"
    (cd "$1" && find . -mindepth 1 -type d -print0) | (cd "$2" && xargs -0 -r mkdir -p --)
}

# record_opened_documents: the program's "xdg-open" becomes a script that
# notes its arguments in $WORK/opened, one line per call.
record_opened_documents() {
    mkdir -p "$WORK/bin"
    printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s/opened"\n' "$WORK" >"$WORK/bin/xdg-open"
    chmod +x "$WORK/bin/xdg-open"
    SETUP_ENV+=("PATH=$WORK/bin:$PATH")
}

# expect_tree_installed SRC TARGET: every file of SRC is in TARGET with the
# same bytes and its modification time in whole seconds.
expect_tree_installed() {
    diff -r "$1" "$2" >/dev/null || gui_fail "$2 differs from the kit's files"
    local want got
    want=$(cd "$1" && find . -type f -printf '%P %Ts\n' | sort)
    got=$(cd "$2" && find . -type f -printf '%P %Ts\n' | sort)
    [ "$want" = "$got" ] || gui_fail "the installed files do not carry the kit's times"
}

# expect_no_leftovers: no backup directory or kit stream left in TMPDIR.
expect_no_leftovers() {
    if find "$TMPDIR" -mindepth 1 -maxdepth 1 \( -name 'qrstp*' -o -name 'pdk*' \) | grep -q .; then
        gui_fail "left in TMPDIR: $(ls -A "$TMPDIR")"
    fi
}

# The visible windows of GNUstep programs, except application icons:
# one line "id x y width height" each.
gnustep_windows() {
    local id
    for id in $(xdotool search --onlyvisible --class GNUstep 2>/dev/null); do
        xwininfo -id "$id" 2>/dev/null | awk -v id="$id" '
            /Absolute upper-left X:/ { x = $4 }
            /Absolute upper-left Y:/ { y = $4 }
            /Width:/ { w = $2 }
            /Height:/ { h = $2 }
            END { if (w != 64 || h != 64) print id, x, y, w, h }'
    done
}

# wait_wizard: waits for the 500 x 360 wizard window; sets WIZARD, WX, WY.
wait_wizard() {
    local tries=0 line
    while :; do
        line=$(gnustep_windows | awk '$4 == 500 && $5 == 360' | head -1)
        [ -z "$line" ] || break
        kill -0 "$SETUP_PID" 2>/dev/null || gui_fail "Setup ended before its window showed"
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || gui_fail "no wizard window"
        sleep 0.1
    done
    read -r WIZARD WX WY _ <<<"$line"
    sleep 0.5
}

# wait_dialog [OLD]: waits for a window other than the wizard (a message box
# or the folder chooser) and other than the window OLD; sets DIALOG, DX, DY,
# DW, DH.
wait_dialog() {
    local tries=0 line
    while :; do
        line=$(gnustep_windows |
            awk -v wizard="${WIZARD:-none}" -v old="${1:-none}" '$1 != wizard && $1 != old' |
            head -1)
        [ -z "$line" ] || break
        kill -0 "$SETUP_PID" 2>/dev/null || gui_fail "Setup ended while a dialog was expected"
        tries=$((tries + 1))
        [ "$tries" -lt 300 ] || gui_fail "no dialog appeared"
        sleep 0.1
    done
    read -r DIALOG DX DY DW DH <<<"$line"
    sleep 0.5
}

# wait_dialog_gone: waits until only the wizard (or nothing) is left.
wait_dialog_gone() {
    local tries=0
    while gnustep_windows | awk -v wizard="${WIZARD:-none}" '$1 != wizard' | grep -q .; do
        tries=$((tries + 1))
        [ "$tries" -lt 100 ] || gui_fail "the dialog did not close"
        sleep 0.1
    done
    sleep 0.3
}

# The title of a window, as UTF-8.
window_title() {
    xdotool getwindowname "$1"
}

# click_screen X Y: a click the way a hand makes it: move, then press and
# release with short pauses (a click sent at once after a move can be lost).
click_screen() {
    xdotool mousemove "$1" "$2"
    sleep 0.2
    xdotool mousedown 1
    sleep 0.1
    xdotool mouseup 1
    sleep 0.4
}

# click X Y: a click at a point of the wizard's content.
click() {
    click_screen $((WX + $1)) $((WY + $2))
}

# click_dialog_button RIGHT: a click on a message box button whose centre is
# RIGHT points left of the box's right edge (Yes or OK: 45, No: 127).
click_dialog_button() {
    click_screen $((DX + DW - $1)) $((DY + DH - 21))
}

press() {
    xdotool key --delay 80 "$@"
    sleep 0.4
}

# type_path TEXT: replaces the text of the focused field.
type_path() {
    xdotool key End
    xdotool key --repeat 200 --delay 5 BackSpace
    [ -z "$1" ] || xdotool type --delay 20 "$1"
    sleep 0.3
}

# shot NAME: the windows on screen, cropped to them, as SHOT_DIR/NAME.png.
shot() {
    local box
    box=$(gnustep_windows | awk '
        NR == 1 { l = $2; t = $3; r = $2 + $4; b = $3 + $5 }
        { if ($2 < l) l = $2; if ($3 < t) t = $3
          if ($2 + $4 > r) r = $2 + $4; if ($3 + $5 > b) b = $3 + $5 }
        END {
            if (NR == 0) { print "1024x768+0+0"; exit }
            l -= 4; t -= 24; r += 4; b += 4
            if (l < 0) l = 0; if (t < 0) t = 0
            if (r > 1024) r = 1024; if (b > 768) b = 768
            printf "%dx%d+%d+%d\n", r - l, b - t, l, t }')
    import -window root -crop "$box" +repage "$SHOT_DIR/$1.png"
}

# wait_end [SECONDS]: waits for Setup to end; EXIT_STATUS is its status.
wait_end() {
    local limit=$((${1:-20} * 10)) tries=0
    while kill -0 "$SETUP_PID" 2>/dev/null; do
        tries=$((tries + 1))
        [ "$tries" -lt "$limit" ] || gui_fail "Setup did not end"
        sleep 0.1
    done
    EXIT_STATUS=0
    wait "$SETUP_PID" || EXIT_STATUS=$?
    SETUP_PID=
}

# wait_exit [SECONDS]: waits for Setup to end; fails unless its status is 0.
wait_exit() {
    wait_end "$@"
    [ "$EXIT_STATUS" -eq 0 ] || gui_fail "Setup ended with status $EXIT_STATUS"
}

# tree_state DIR: one line per entry below DIR (path, type, and for a file
# its modification time and checksum), so that two states can be compared.
tree_state() {
    (cd "$1" && find . -mindepth 1 -printf '%P %y %Ts\n' | sort | while read -r path type time; do
        if [ "$type" = f ]; then
            echo "$path f $time $(md5sum <"$path" | cut -d' ' -f1)"
        else
            echo "$path $type"
        fi
    done)
}

# older_templates SRC TARGET COUNT: older versions of the first COUNT files
# of SRC in TARGET (other bytes, an earlier time), which a run replaces.
older_templates() {
    local src=$1 target=$2 count=$3 file
    # sed reads to the end: head would end the pipeline early, and with
    # pipefail the broken pipe would end the test.
    (cd "$src" && find . -type f -name '*.qat' | sort | sed -n "1,${count}p") | while read -r file; do
        mkdir -p "$target/$(dirname "$file")"
        printf 'older %s\n' "$file" >"$target/$file"
        touch -d @1500000000 "$target/$file"
    done
}

# installed_count DIR: the files in DIR that carry a time after the older
# templates', that is the ones a run has finished.
installed_count() {
    find "$1" -type f -newermt @1500000001 2>/dev/null | wc -l
}

expect_running() {
    kill -0 "$SETUP_PID" 2>/dev/null || gui_fail "Setup ended: $*"
}

# The launcher file that a successful run writes, and the default target.
user_launcher_file() { echo "$HOME/.Qa/qalaunch/qalaunch.cfg"; }
default_target() { echo "$HOME/.qarn/Qa/qarn/tmplts"; }

# A localized text of the program's tables: text_of LANG KEY.
text_of() {
    sed -n "s/^{\"$2\", \"\\(.*\\)\"},\$/\\1/p" "$TABLES_DIR/$1.inc"
}

# Waits for the end of a successful run: the launcher file is written right
# after the success page is shown.
wait_for_success_page() {
    local tries=0
    until [ -f "$(user_launcher_file)" ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 300 ] || gui_fail "the installation did not finish"
        expect_running "during the installation"
        sleep 0.1
    done
    sleep 0.5
}
