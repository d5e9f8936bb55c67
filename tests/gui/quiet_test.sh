#!/usr/bin/env bash
# With a display: --quiet never shows a window, not even the critical
# message of a damaged kit, which goes to standard error with status 4;
# --help prints the usage and shows nothing; and a start that does show a
# message box leaves standard error empty (no toolkit diagnostics).
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 3
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
head -c 4096 /dev/urandom >"$WORK/kit/qarn.pkd"

# wait_status: waits for Setup to end, watching for any window while it
# runs; sets STATUS and WINDOWS_SEEN.
wait_status() {
    local tries=0
    WINDOWS_SEEN=0
    while kill -0 "$SETUP_PID" 2>/dev/null; do
        if xdotool search --onlyvisible --class GNUstep >/dev/null 2>&1; then
            WINDOWS_SEEN=1
        fi
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || gui_fail "Setup did not end"
        sleep 0.05
    done
    STATUS=0
    wait "$SETUP_PID" || STATUS=$?
    SETUP_PID=
}

start_setup --quiet -Len
wait_status
[ "$STATUS" -eq 4 ] || gui_fail "a damaged kit in quiet mode ended with status $STATUS"
[ "$WINDOWS_SEEN" -eq 0 ] || gui_fail "quiet mode showed a window"
[ "$(cat "$WORK/setup.err")" = "$(text_of en IDS_ERROR_DAMAGEDSOURCE)" ] ||
    gui_fail "standard error: $(cat "$WORK/setup.err")"
[ ! -e "$HOME/.qarn" ] && [ ! -e "$HOME/.Qa" ] || gui_fail "quiet mode changed something"
expect_no_leftovers

start_setup --help
wait_status
[ "$STATUS" -eq 0 ] || gui_fail "--help ended with status $STATUS"
[ "$WINDOWS_SEEN" -eq 0 ] || gui_fail "--help showed a window"
grep -q -- '--quiet' "$WORK/setup.out" || gui_fail "no usage printed: $(cat "$WORK/setup.out")"
[ ! -s "$WORK/setup.err" ] || gui_fail "--help wrote to standard error: $(cat "$WORK/setup.err")"

# The wizard's own start with the same kit: one message box, and nothing
# from the toolkit on standard error.
start_setup -Len
wait_dialog
shot quiet-wizard-damaged-kit
press Return
wait_exit
[ ! -s "$WORK/setup.err" ] || gui_fail "toolkit noise on standard error: $(head -3 "$WORK/setup.err")"
echo "PASS ($TEST_NAME)"
