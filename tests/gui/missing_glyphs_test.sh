#!/usr/bin/env bash
# Missing glyphs, which GNUstep draws as "?" (Chinese was unreadable so):
# for each of the 22 language codes, qa_font_coverage_check (argument 5)
# builds the wizard with the real window layer and finds, with the
# toolkit's glyph lookup, no character of a control's text or of a
# message box's texts that its face lacks.
source "$(dirname "$0")/lib.sh"
gui_start "$@"
CHECKER=$5

# "ar" has no table of its own and reads the English one.
codes=(ar)
for table in "$TABLES_DIR"/*.inc; do
    codes+=("$(basename "$table" .inc)")
done

failed=()
for code in "${codes[@]}"; do
    "$CHECKER" "$code" 2>"$WORK/check-$code.err" || failed+=("$code")
    grep -v -e 'Failed to determine offsets' -e 'Tiff Error' "$WORK/check-$code.err" >&2 || true
done
[ "${#failed[@]}" -eq 0 ] || gui_fail "glyphs missing in: ${failed[*]}"
echo "PASS ($TEST_NAME)"
