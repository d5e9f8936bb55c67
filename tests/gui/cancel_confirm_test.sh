#!/usr/bin/env bash
# Leaving from the welcome page: Esc and the Cancel button both ask first.
# No (with the mouse, then with Escape) keeps the wizard; Yes (with the
# mouse, and in a second run with Return) closes it, the program ends with
# status 0 and nothing is installed, recorded or left in TMPDIR.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 10
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"

expect_nothing_done() {
    [ ! -e "$(default_target)" ] || gui_fail "templates were installed"
    [ ! -e "$(user_launcher_file)" ] || gui_fail "the launcher file was written"
    expect_no_leftovers
}

start_setup -Len
wait_wizard

press Escape
wait_dialog
click_dialog_button 127
wait_dialog_gone
expect_running "Esc answered No"

click $CANCEL_BUTTON
wait_dialog
shot cancel-confirm-question
press Escape
wait_dialog_gone
expect_running "Cancel answered No"

click $CANCEL_BUTTON
wait_dialog
click_dialog_button 45
wait_exit
expect_nothing_done

start_setup -Len
wait_wizard
press Escape
wait_dialog
press Return
wait_exit
expect_nothing_done
echo "PASS ($TEST_NAME)"
