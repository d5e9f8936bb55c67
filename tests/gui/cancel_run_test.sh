#!/usr/bin/env bash
# Cancelling a running installation (argument en: the Cancel button; ru: Esc
# answered Yes). The worker rolls back before anything else happens: then
# the critical message and the error page; the template directory is as
# before (the replaced file back with its bytes and time, no new files),
# nothing is left in TMPDIR and the launcher file is not written.
source "$(dirname "$0")/lib.sh"
gui_start "$@"
lang=$5

make_templates "$WORK/src" 300
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html" \
    --product "ru:Шаблоны отчётов:ООО «Пример»:readme.html"

# An older copy of a kit file, which the run replaces, and a file of the
# user's own that the kit does not know.
target=$(default_target)
mkdir -p "$target/Group0/Part0"
printf 'the user edited this\n' >"$target/Group0/Part0/template0.qat"
touch -d '2001-02-03 04:05:06' "$target/Group0/Part0/template0.qat"
printf 'mine\n' >"$target/notes.txt"
make_folders "$WORK/src" "$target"
# Files with their sizes and times; folders by name (a rollback touches them).
snapshot() {
    (cd "$target" && find . -mindepth 1 \( -type f -printf '%P %s %Ts\n' \) -o -printf '%P/\n' | sort)
}
before=$(snapshot)

slow_installation 30000
start_setup "-L$lang"
wait_wizard
click $NEXT_BUTTON
click $NEXT_BUTTON
sleep 1.5
expect_running "before the cancel"
# The run is under way: the old copy has been replaced already.
[ "$(find "$target" -type f | wc -l)" -gt 10 ] || gui_fail "too little installed before the cancel"
[ "$(cat "$target/Group0/Part0/template0.qat")" != "the user edited this" ] ||
    gui_fail "the old copy was not replaced before the cancel"
if [ "$lang" = en ]; then
    click $CANCEL_BUTTON
else
    press Escape
    wait_dialog
    shot "cancel-run-$lang-1-question"
    press Return
fi

# The message comes only after the rollback.
wait_dialog "${DIALOG:-}"
shot "pages-$lang-6-cancelled-message"
after=$(snapshot)
[ "$before" = "$after" ] || gui_fail "template directory after the cancel:
$after"
[ "$(cat "$target/Group0/Part0/template0.qat")" = "the user edited this" ] ||
    gui_fail "the replaced file was not restored"
expect_no_leftovers
press Return
wait_dialog_gone
shot "pages-$lang-7-error"

click $NEXT_BUTTON
wait_exit
[ ! -e "$(user_launcher_file)" ] || gui_fail "the launcher file was written"
after=$(snapshot)
[ "$before" = "$after" ] || gui_fail "template directory changed after Finish"
expect_no_leftovers
echo "PASS ($TEST_NAME $lang)"
