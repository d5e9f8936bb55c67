#!/usr/bin/env bash
# The directory page: Esc while its path field is being edited asks the
# cancel question (answered No with the mouse), an empty path is refused
# with a message, and text typed and then left with Back is replaced by the
# proposed directory when Next shows the page again, so the installation
# goes there and not to the typed directory.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 20
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
record_opened_documents
start_setup -Len
wait_wizard

click $NEXT_BUTTON
click $PATH_FIELD
type_path "$WORK/typed"
press Escape
wait_dialog
shot back-next-1-question-while-editing
click_dialog_button 127
wait_dialog_gone
expect_running "No closed the wizard"

click $PATH_FIELD
type_path ""
click $NEXT_BUTTON
wait_dialog
shot back-next-2-empty-path
press Return
wait_dialog_gone
expect_running "the empty-path message closed the wizard"

click $PATH_FIELD
type_path "$WORK/typed"
click $BACK_BUTTON
shot back-next-3-welcome-again
click $NEXT_BUTTON
shot back-next-4-directory-reset
click $NEXT_BUTTON

wait_for_success_page
click $NEXT_BUTTON
wait_exit

expect_tree_installed "$WORK/src" "$(default_target)"
[ ! -e "$WORK/typed" ] || gui_fail "the typed directory was used"
echo "PASS ($TEST_NAME)"
