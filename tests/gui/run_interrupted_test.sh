#!/usr/bin/env bash
# A run of the wizard interrupted from outside: SIGTERM, SIGINT while the
# cancel question is open, and xkill of the client's X connection, each in
# the middle of a run that replaces older templates. The program rolls the
# run back before it ends, by itself and without a question: the template
# directory is as it was (same names, bytes and times) and nothing is left
# in TMPDIR. Before a run, SIGHUP ends the program at once.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 200
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
older_templates "$WORK/src" "$(default_target)" 30
make_folders "$WORK/src" "$(default_target)"
before=$(tree_state "$(default_target)")
slow_installation 30000

# start_run: the wizard's run, until a few files are in place.
start_run() {
    start_setup -Len
    wait_wizard
    click $NEXT_BUTTON
    click $NEXT_BUTTON
    local tries=0
    until [ "$(installed_count "$(default_target)")" -ge 5 ]; do
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || gui_fail "the run did not start"
        expect_running "before the interruption"
        sleep 0.05
    done
}

expect_as_before() {
    [ "$(tree_state "$(default_target)")" = "$before" ] ||
        gui_fail "$1: the template directory differs from before the run"
    [ ! -e "$(user_launcher_file)" ] || gui_fail "$1: the launcher file was written"
    expect_no_leftovers
}

start_run
kill -TERM "$SETUP_PID"
wait_end 15
expect_as_before "SIGTERM"

start_run
press Escape
wait_dialog
kill -INT "$SETUP_PID"
wait_end 15
expect_as_before "SIGINT with the question open"

start_setup -Len
wait_wizard
kill -HUP "$SETUP_PID"
wait_end 5
expect_as_before "SIGHUP on the welcome page"

start_run
xkill -id "$WIZARD" >/dev/null
wait_end 15
[ "$EXIT_STATUS" -ne 0 ] || gui_fail "the lost display ended the program with status 0"
expect_as_before "xkill"
echo "PASS ($TEST_NAME)"
