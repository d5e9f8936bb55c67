// Conversions between UTF-8 (stdx::string) and UTF-16 (stdx::u16string).
//
// The conversions do not depend on the process locale. Surrogate pairs and
// four-byte UTF-8 sequences convert into each other. Each ill-formed UTF-8
// sequence (bad or missing continuation bytes, overlong forms, encoded
// surrogates, values above U+10FFFF, a sequence cut off at the end) and each
// unpaired surrogate becomes U+FFFD. All conversions stop at the first zero
// byte or zero unit: the text after it is dropped.
#pragma once

#include <cstddef>

#include "text/String.h"

// Converts byteCount bytes of UTF-8 (up to the first zero byte) to UTF-16.
// Writes the first min(destCapacity, result) units to dest, without a
// terminator; dest may be null when destCapacity is 0. Returns the number of
// units the whole text converts to.
std::size_t MultiByteToUtf16(const char* bytes, std::size_t byteCount, char16_t* dest,
                             std::size_t destCapacity);

// Converts unitCount UTF-16 units (up to the first zero unit) to UTF-8.
// Writes the first min(destCapacity, result) bytes to dest, without a
// terminator; dest may be null when destCapacity is 0. Returns the number of
// bytes the whole text converts to.
std::size_t Utf16ToMultiByte(const char16_t* units, std::size_t unitCount, char* dest,
                             std::size_t destCapacity);

// The whole string, up to its first zero byte, as UTF-16.
stdx::u16string Utf8ToUtf16(const stdx::string& text);

// The whole string, up to its first zero unit, as UTF-8.
stdx::string Utf16ToUtf8(const stdx::u16string& text);
