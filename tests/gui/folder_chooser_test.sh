#!/usr/bin/env bash
# The folder chooser of the directory page ("..."). A chosen folder goes into
# the path field and the installation goes there; a cancelled chooser leaves
# the field alone; a folder chosen and then left with Back is replaced by
# the proposed directory when the page shows again.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 10
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
# Alone in its parent, so that it is the first row of the chooser's browser.
chosen="$WORK/choices/chosen"
mkdir -p "$chosen/existing"
record_opened_documents

# choose_folder DIR: opens the chooser and picks DIR, which must exist.
choose_folder() {
    click $BROWSE_BUTTON
    wait_dialog
    # Typing a path into the name field shows its parent in the browser's
    # first column; a click on the folder's row there makes it the choice.
    xdotool type --delay 20 "$1"
    sleep 0.5
    click_screen $((DX + 68)) $((DY + 108))
    shot "folder-chooser-$2"
    click_screen $((DX + 330)) $((DY + 410))
    wait_dialog_gone
}

cancel_chooser() {
    click $BROWSE_BUTTON
    wait_dialog
    click_screen $((DX + 263)) $((DY + 410))
    wait_dialog_gone
}

finish_installation() {
    wait_for_success_page
    click $NEXT_BUTTON
    wait_exit
}

start_setup -Len
wait_wizard
click $NEXT_BUTTON
choose_folder "$chosen" 1
click $BACK_BUTTON
click $NEXT_BUTTON
cancel_chooser
click $NEXT_BUTTON
finish_installation
expect_tree_installed "$WORK/src" "$(default_target)"
[ -z "$(ls -A "$chosen/existing")" ] && [ "$(ls -A "$chosen")" = existing ] ||
    gui_fail "the folder chosen before Back was used"

rm -rf "$(default_target)" "$HOME/.Qa"
start_setup -Len
wait_wizard
click $NEXT_BUTTON
choose_folder "$chosen" 2
click $NEXT_BUTTON
finish_installation
mkdir -p "$WORK/expected/existing"
cp -r "$WORK/src/." "$WORK/expected/"
diff -r "$WORK/expected" "$chosen" >/dev/null || gui_fail "the chosen folder did not get the templates"
[ ! -e "$(default_target)" ] || gui_fail "the proposed directory was used"
grep -qx "ConfigurationTemplatesLocation=$chosen" "$(user_launcher_file)" ||
    gui_fail "launcher file: $(cat "$(user_launcher_file)")"
echo "PASS ($TEST_NAME)"
