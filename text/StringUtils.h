// Comparison, replacement and number formatting on the project strings, and
// the separators used when paths are joined and examined.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/String.h"

// Appended when paths are joined.
constexpr const char16_t* kPathSeparator = u"/";
// Accepted as well when paths are examined.
constexpr const char16_t* kAltPathSeparator = u"\\";
// Both separators, for searches (slash first).
constexpr const char16_t* kPathSeparators = u"/\\";
// Both separators, for searches (backslash first).
constexpr const char16_t* kPathSeparatorsBackslashFirst = u"\\/";

// Compares the UTF-8 forms of a and b byte by byte, folding the ASCII letters
// A-Z to lower case; all other bytes compare as unsigned values, whatever the
// process locale. Returns < 0 when a orders first, 0 when they are equal
// (e.g. "EN" and "en"), > 0 when b orders first.
int CompareNoCase(const stdx::u16string& a, const stdx::u16string& b);

// Replaces every occurrence of pattern in text by replacement, scanning from
// the start; occurrences do not overlap and replaced text is not scanned
// again. Returns the number of replacements; an empty pattern or an empty
// text changes nothing and returns 0.
std::size_t ReplaceAll(stdx::u16string& text, const stdx::u16string& pattern,
                       const stdx::u16string& replacement);

// Formats value in radix 2 to 36 with the digits 0-9 and a-z. Radix 10 writes
// negative values with a leading minus sign; any other radix takes the value
// as unsigned 32-bit (-1 in radix 16 gives "ffffffff"). Zero gives "0". A radix
// outside 2 to 36 gives an empty string.
stdx::u16string IntToString(std::int32_t value, int radix);
