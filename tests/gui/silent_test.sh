#!/usr/bin/env bash
# Silent mode with a display: the wizard window shows the run with only the
# Cancel button (the welcome page stands only for a moment before it), and
# the program ends by itself with status 0. A damaged kit in silent mode still shows its
# critical message and then ends with status 4 (a damaged kit).
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 100
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
cp "$WORK/kit/qarn.pkd" "$WORK/good.pkd"

# Every folder already there, so that the files go in one by one and the
# run lasts long enough (100 x 20 ms) for its window to be seen on a busy
# machine: a missing folder would go in whole, with one rename.
make_folders "$WORK/src" "$(default_target)"
slow_installation 20000
start_setup -S -Len
wait_wizard
shot silent-progress
wait_exit 60
expect_tree_installed "$WORK/src" "$(default_target)"
grep -qx "ConfigurationTemplatesLocation=$(default_target)" "$(user_launcher_file)" ||
    gui_fail "launcher file: $(cat "$(user_launcher_file)")"
expect_no_leftovers

head -c 100 "$WORK/good.pkd" >"$WORK/kit/qarn.pkd"
rm -rf "$HOME/.qarn" "$HOME/.Qa"
start_setup /S -Len
wait_dialog
shot silent-damaged-kit
press Return
wait_end 10
[ "$EXIT_STATUS" -eq 4 ] || gui_fail "a damaged kit in silent mode ended with status $EXIT_STATUS"
[ ! -e "$HOME/.qarn" ] && [ ! -e "$HOME/.Qa" ] || gui_fail "the failed run changed something"
echo "PASS ($TEST_NAME)"
