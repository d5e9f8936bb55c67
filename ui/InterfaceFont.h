#pragma once

// Makes the toolkit draw the user interface of the language `languageId`
// with a face that has a glyph for every character it may show
// (InterfaceCharacters). Must run before the shared application exists: the
// toolkit reads its font settings once, when the application starts.
//
// GNUstep draws each text with one face and shows "?" for every character
// that face lacks; its default face has no CJK glyphs. So there the regular
// and the bold face come from fontconfig, the sans-serif faces of the
// language first, and are set as the toolkit's fonts for this process. When
// no face has every character, the one that lacks the fewest is taken.
// macOS keeps its system font, which falls back per character by itself.
void UseInterfaceFontFor(int languageId);
