#!/usr/bin/env bash
# The window manager's close (wmctrl -c, Alt+F4) on the panels, which must
# neither kill the program nor stop a run: on the cancel question during a
# run it means No (the run goes on and succeeds), on the folder chooser
# Cancel (the field stays as it was), on an OK box OK (after the damaged-kit
# message the program ends normally).
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 150
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
cp "$WORK/kit/qarn.pkd" "$WORK/good.pkd"

# close_dialog: asks the window manager to close the open dialog.
close_dialog() {
    wmctrl -i -c "$DIALOG"
    wait_dialog_gone
}

make_folders "$WORK/src" "$(default_target)"
slow_installation 30000
start_setup -Len
wait_wizard
click $NEXT_BUTTON
click $BROWSE_BUTTON
wait_dialog
shot panel-close-chooser
close_dialog
expect_running "the chooser's close box ended the program"
click $NEXT_BUTTON
sleep 1
[ "$(installed_count "$(default_target)")" -gt 0 ] ||
    gui_fail "the run did not go to the proposed directory"
press Escape
wait_dialog
shot panel-close-question
close_dialog
expect_running "the question's close box ended the program"
wait_for_success_page
click $NEXT_BUTTON
wait_exit
expect_tree_installed "$WORK/src" "$(default_target)"
expect_no_leftovers

rm -rf "$HOME/.qarn" "$HOME/.Qa"
head -c 4096 /dev/urandom >"$WORK/kit/qarn.pkd"
start_setup -Len
wait_dialog
xdotool windowactivate --sync "$DIALOG" 2>/dev/null || true
press alt+F4
wait_exit
[ ! -e "$HOME/.qarn" ] && [ ! -e "$HOME/.Qa" ] || gui_fail "the damaged kit changed something"
expect_no_leftovers
echo "PASS ($TEST_NAME)"
