#!/usr/bin/env bash
# The wizard in each of the 22 languages: the welcome page, the directory
# page and the cancel question (Esc there), each as a screenshot
# lang-CODE-N-PAGE.png, then all of them in one montage languages.png, a row
# per language, for a reader to check that every text reads and fits. Each
# run shows the language's title and ends with status 0 when the question
# is answered Yes.
source "$(dirname "$0")/lib.sh"
gui_start "$@"

make_templates "$WORK/src" 3
make_kit "$WORK/src" --product "en:Report Templates:Example Ltd:readme.html"

codes=(ar)
for table in "$TABLES_DIR"/*.inc; do
    codes+=("$(basename "$table" .inc)")
done
[ "${#codes[@]}" -eq 22 ] || gui_fail "${#codes[@]} languages instead of 22"

tiles=()
for code in "${codes[@]}"; do
    start_setup "-L$code"
    wait_wizard
    table=$code
    [ "$code" != ar ] || table=en
    [ "$(window_title "$WIZARD")" = "$(text_of "$table" IDR_MAINFRAME)" ] ||
        gui_fail "$code: the title is '$(window_title "$WIZARD")'"
    shot "lang-$code-1-welcome"
    click $NEXT_BUTTON
    shot "lang-$code-2-directory"
    # The waits that follow give the keys their time.
    xdotool key Escape
    wait_dialog
    shot "lang-$code-3-question"
    xdotool key Return
    wait_exit
    tiles+=(-label "$code: welcome" "$SHOT_DIR/lang-$code-1-welcome.png"
        -label "$code: directory" "$SHOT_DIR/lang-$code-2-directory.png"
        -label "$code: question" "$SHOT_DIR/lang-$code-3-question.png")
done

montage "${tiles[@]}" -tile 3x -geometry +4+4 -pointsize 14 "$SHOT_DIR/languages.png" ||
    gui_fail "no montage"
echo "PASS ($TEST_NAME)"
