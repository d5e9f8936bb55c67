#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Font lookup through fontconfig, the font catalogue that GNUstep draws
// from on X11. Plain C++: the toolkit takes the chosen face by name.

// A face, by the PostScript name under which the toolkit knows it.
struct FontFace {
    std::string postScriptName;  // empty when nothing was found
    std::size_t missing = 0;     // requested characters the face has no glyph for
};

// The face to draw `characters` with for `pattern`, a pattern in
// fontconfig's syntax such as "sans-serif:bold:lang=zh": of the faces in
// fontconfig's order of preference for the pattern, the first that lacks
// the fewest of the characters. So it is the face fontconfig prefers
// whenever that face has them all, and otherwise the nearest one that does.
// Returns an empty name when the pattern does not parse or fontconfig knows
// no face.
FontFace FindFontCovering(const char* pattern, const std::vector<char32_t>& characters);
