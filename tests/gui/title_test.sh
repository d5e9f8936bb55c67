#!/usr/bin/env bash
# The window title follows the language: -Lru gives the Russian one, -Lde
# the German one, and without a switch the locale decides (ru_RU.UTF-8:
# Russian, C: English). Each run is left with Esc answered Yes.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 10
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"

# expect_title LANG [arguments]
expect_title() {
    local lang=$1 title
    shift
    start_setup "$@"
    wait_wizard
    title=$(window_title "$WIZARD")
    [ "$title" = "$(text_of "$lang" IDR_MAINFRAME)" ] ||
        gui_fail "title '$title' for $* (expected $lang)"
    shot "title-$lang${1:-}"
    press Escape
    wait_dialog
    press Return
    wait_exit
}

expect_title ru -Lru
expect_title de -Lde
expect_title en
SETUP_ENV=(LANG=ru_RU.UTF-8)
expect_title ru
echo "PASS ($TEST_NAME)"
