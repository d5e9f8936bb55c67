#!/usr/bin/env bash
# The directory page takes "~/Templates" as the shell does: the templates go
# to the home directory's Templates folder and the launcher file records
# that absolute path. A relative path typed first is refused with a message
# and the page stays.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 20
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
record_opened_documents
# A relative path would land here, where the test can look for it.
cd "$WORK"
start_setup -Len
wait_wizard

click $NEXT_BUTTON
click $PATH_FIELD
type_path "Documents/Templates"
click $NEXT_BUTTON
wait_dialog
shot tilde-target-1-relative-refused
press Return
wait_dialog_gone
expect_running "the relative-path message closed the wizard"

click $PATH_FIELD
type_path "~/Templates"
shot tilde-target-2-typed
click $NEXT_BUTTON

wait_for_success_page
click $NEXT_BUTTON
wait_exit

expect_tree_installed "$WORK/src" "$HOME/Templates"
grep -qx "ConfigurationTemplatesLocation=$HOME/Templates" "$(user_launcher_file)" ||
    gui_fail "launcher file: $(cat "$(user_launcher_file)")"
[ ! -e "$WORK/~" ] || gui_fail "a directory named ~ was made"
[ ! -e "$WORK/Documents" ] || gui_fail "the relative path was used"
echo "PASS ($TEST_NAME)"
