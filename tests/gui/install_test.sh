#!/usr/bin/env bash
# An interactive installation from start to end in one language (the test's
# argument: en or ru): the welcome page (Esc answered No keeps it), the
# directory page with the proposed directory, the progress page, the
# success page and Finish. Afterwards the templates are installed with
# their times, the launcher file names the directory, nothing is left in
# TMPDIR, and the description document was opened or not as the checkbox
# said. Screenshots of every page and of the question.
source "$(dirname "$0")/lib.sh"
gui_start "$@"
lang=$5

make_templates "$WORK/src" 300
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html" \
    --product "ru:Шаблоны отчётов:ООО «Пример»:readme.html"
make_folders "$WORK/src" "$(default_target)"
slow_installation 30000
record_opened_documents
start_setup "-L$lang"
wait_wizard

[ "$(window_title "$WIZARD")" = "$(text_of "$lang" IDR_MAINFRAME)" ] ||
    gui_fail "window title '$(window_title "$WIZARD")'"
shot "pages-$lang-1-welcome"

press Escape
wait_dialog
shot "pages-$lang-2-cancel-question"
press Escape
wait_dialog_gone
expect_running "Esc answered No closed the wizard"

click $NEXT_BUTTON
shot "pages-$lang-3-directory"

click $NEXT_BUTTON
sleep 1
shot "pages-$lang-4-progress"
[ ! -f "$(user_launcher_file)" ] || gui_fail "the launcher file was written before the end"

wait_for_success_page
shot "pages-$lang-5-success"

if [ "$lang" != en ]; then
    click $OPEN_CHECKBOX
fi
click $NEXT_BUTTON
wait_exit

target=$(default_target)
expect_tree_installed "$WORK/src" "$target"
grep -qx "ConfigurationTemplatesLocation=$target" "$(user_launcher_file)" ||
    gui_fail "launcher file: $(cat "$(user_launcher_file)")"
expect_no_leftovers
if [ "$lang" = en ]; then
    [ "$(cat "$WORK/opened" 2>/dev/null)" = "$target/readme.html" ] ||
        gui_fail "description opened: '$(cat "$WORK/opened" 2>/dev/null)'"
else
    [ ! -e "$WORK/opened" ] || gui_fail "description opened with the checkbox cleared"
fi
echo "PASS ($TEST_NAME $lang)"
