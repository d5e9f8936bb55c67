#!/usr/bin/env bash
# The settings that keep the toolkit's start-up small: while the wizard is
# up, the image library the toolkit links is mapped but none of its format
# modules is, and the pictures still show (the question box with its icon,
# for the screenshot). The program that opens the description document gets
# the user's environment, not the settings made for the toolkit: a variable
# the user had keeps the user's value, one the user did not have is unset.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 3
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"
# Neither comes from the test's own environment.
unset GNUTLS_NO_EXPLICIT_INIT MAGICK_CODER_MODULE_PATH

start_setup -Len
wait_wizard
maps=$(cat "/proc/$SETUP_PID/maps")
grep -q 'libMagickCore' <<<"$maps" ||
    gui_fail "the toolkit's image library is not mapped: the check would prove nothing"
if grep -q '/coders/' <<<"$maps"; then
    gui_fail "image format modules were loaded: $(grep -c '/coders/' <<<"$maps") mappings"
fi
press Escape
wait_dialog
shot toolkit-start-question
press Return
wait_exit

mkdir -p "$WORK/bin"
printf '#!/bin/sh\nenv >"%s/opener-env"\n' "$WORK" >"$WORK/bin/xdg-open"
chmod +x "$WORK/bin/xdg-open"
user_modules="$WORK/user's modules"
SETUP_ENV+=("PATH=$WORK/bin:$PATH" "MAGICK_CODER_MODULE_PATH=$user_modules")
start_setup -Len
wait_wizard
click $NEXT_BUTTON
click $NEXT_BUTTON
wait_for_success_page
click $NEXT_BUTTON
wait_exit
[ -f "$WORK/opener-env" ] || gui_fail "the description document was not opened"
grep -qxF "MAGICK_CODER_MODULE_PATH=$user_modules" "$WORK/opener-env" ||
    gui_fail "the opener got $(grep MAGICK_CODER_MODULE_PATH "$WORK/opener-env" ||
        echo no MAGICK_CODER_MODULE_PATH)"
if grep -q '^GNUTLS_NO_EXPLICIT_INIT=' "$WORK/opener-env"; then
    gui_fail "the opener got the toolkit's GNUTLS_NO_EXPLICIT_INIT"
fi
echo "PASS ($TEST_NAME)"
