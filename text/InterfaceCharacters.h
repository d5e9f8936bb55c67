#pragma once

#include <vector>

// The characters the user interface may show in a language, for choosing a
// font that has a glyph for each of them.
//
// They are the characters of every text of the language's table (captions,
// page texts, titles, questions and messages) and the printable ASCII
// characters, which the fixed captions of the message boxes ("Yes", "No",
// "OK"), the "..." button, paths and product names need in every language.
// Control characters are left out: nothing draws them.

// The distinct code points, in ascending order, for the language `id`.
// Returns only the ASCII characters when no row has that id.
std::vector<char32_t> InterfaceCharacters(int id);
