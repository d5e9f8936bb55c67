#!/usr/bin/env bash
# A kit that is not a kit: one critical message box before any wizard
# window, its OK button answered with Return; the program ends with status
# 0 and creates nothing. The same for a kit cut short after its header.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 10
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"

expect_nothing_done() {
    [ ! -e "$HOME/.qarn" ] || gui_fail "templates were installed"
    [ ! -e "$HOME/.Qa" ] || gui_fail "the launcher file was written"
    expect_no_leftovers
}

head -c 40 "$WORK/kit/qarn.pkd" >"$WORK/short.pkd"
head -c 4096 /dev/urandom >"$WORK/kit/qarn.pkd"
start_setup -Len
wait_dialog
[ "$(gnustep_windows | awk '$4 == 500 && $5 == 360' | wc -l)" -eq 0 ] ||
    gui_fail "a wizard window came with the message"
shot damaged-kit-message
press Return
wait_exit
expect_nothing_done

cp "$WORK/short.pkd" "$WORK/kit/qarn.pkd"
start_setup -Lru
wait_dialog
shot damaged-kit-message-ru
click_dialog_button 45
wait_exit
expect_nothing_done
echo "PASS ($TEST_NAME)"
