#!/usr/bin/env bash
# The window's close box (drawn by the window manager). Outside a run it
# closes the wizard and the program ends with status 0. During a run it
# cancels the run instead: after the rollback comes the message, and then
# the window closes by itself; nothing stays installed or recorded.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 300
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"

# The close button at the right end of openbox's title bar.
click_close_box() {
    click_screen $((WX + 490)) $((WY - 11))
}

start_setup -Len
wait_wizard
click_close_box
wait_exit
[ ! -e "$(default_target)" ] || gui_fail "templates were installed"

make_folders "$WORK/src" "$(default_target)"
slow_installation 30000
start_setup -Len
wait_wizard
click $NEXT_BUTTON
click $NEXT_BUTTON
sleep 1.5
[ "$(find "$(default_target)" -type f | wc -l)" -gt 10 ] || gui_fail "too little installed before the close"
click_close_box
wait_dialog
shot close-box-during-run
expect_running "the close box ended the program during the run"
press Return
wait_exit
[ -z "$(find "$(default_target)" -type f 2>/dev/null)" ] || gui_fail "files remain after the rollback"
[ ! -e "$(user_launcher_file)" ] || gui_fail "the launcher file was written"
expect_no_leftovers
echo "PASS ($TEST_NAME)"
