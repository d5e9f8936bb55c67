#!/usr/bin/env bash
# With a display but the window layer module taken out of the bundle: the
# wizard says which module is missing and ends with status 10 without a
# window; quiet mode and silent mode still install (the program itself needs
# no toolkit), quiet mode without a word about the module it never loads.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 3
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
module="$WORK/kit/Setup.app/Contents/MacOS/libqa_cocoa.so"
rm "$module"

# run_watched [arguments]: runs Setup to its end, watching for any window;
# sets EXIT_STATUS and WINDOWS_SEEN.
run_watched() {
    local tries=0
    WINDOWS_SEEN=0
    start_setup "$@"
    while kill -0 "$SETUP_PID" 2>/dev/null; do
        if xdotool search --onlyvisible --class GNUstep >/dev/null 2>&1; then
            WINDOWS_SEEN=1
        fi
        tries=$((tries + 1))
        [ "$tries" -lt 400 ] || gui_fail "Setup did not end"
        sleep 0.05
    done
    EXIT_STATUS=0
    wait "$SETUP_PID" || EXIT_STATUS=$?
    SETUP_PID=
}

run_watched -Len
[ "$EXIT_STATUS" -eq 10 ] || gui_fail "the wizard without its module ended with status $EXIT_STATUS"
[ "$WINDOWS_SEEN" -eq 0 ] || gui_fail "a window showed without the module"
grep -qF "window layer module $module is missing" "$WORK/setup.err" ||
    gui_fail "standard error does not name the missing module: $(cat "$WORK/setup.err")"
[ ! -e "$HOME/.qarn" ] && [ ! -e "$HOME/.Qa" ] || gui_fail "the refused wizard changed something"

run_watched --quiet -Len
[ "$EXIT_STATUS" -eq 0 ] || gui_fail "quiet mode without the module ended with status $EXIT_STATUS"
[ ! -s "$WORK/setup.err" ] || gui_fail "quiet mode wrote: $(cat "$WORK/setup.err")"
[ "$(tree_state "$(default_target)")" = "$(tree_state "$WORK/src")" ] ||
    gui_fail "quiet mode did not install the templates"

rm -rf "$HOME/.qarn" "$HOME/.Qa"
run_watched /S -Len
[ "$EXIT_STATUS" -eq 0 ] || gui_fail "silent mode without the module ended with status $EXIT_STATUS"
[ "$WINDOWS_SEEN" -eq 0 ] || gui_fail "silent mode showed a window"
grep -qF "window layer module $module is missing" "$WORK/setup.err" ||
    gui_fail "silent mode did not say the module is missing: $(cat "$WORK/setup.err")"
[ "$(tree_state "$(default_target)")" = "$(tree_state "$WORK/src")" ] ||
    gui_fail "silent mode did not install the templates"
expect_no_leftovers
echo "PASS ($TEST_NAME)"
