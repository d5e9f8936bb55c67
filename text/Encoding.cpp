#include "text/Encoding.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Decodes one code point from [p, end), which is not empty and does not start
// with a zero byte. Sets length to the bytes consumed: the whole sequence, or
// for an ill-formed one its longest valid prefix (at least one byte), which
// stands for one U+FFFD.
char32_t DecodeUtf8(const unsigned char* p, const unsigned char* end, std::size_t& length) {
    const unsigned char lead = p[0];
    length = 1;
    if (lead < 0x80) {
        return lead;
    }
    std::size_t need;
    char32_t value;
    // Range allowed for the second byte; it excludes overlong forms,
    // surrogates and values above U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) {
            low = 0xA0;
        } else if (lead == 0xED) {
            high = 0x9F;
        }
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        value = lead & 0x07;
        if (lead == 0xF0) {
            low = 0x90;
        } else if (lead == 0xF4) {
            high = 0x8F;
        }
    } else {
        return kReplacement;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (p + i == end) {
            return kReplacement;
        }
        const unsigned char b = p[i];
        if (i == 1 ? (b < low || b > high) : !IsContinuation(b)) {
            return kReplacement;
        }
        value = (value << 6) | (b & 0x3F);
        length = i + 1;
    }
    return value;
}

// Decodes one code point from [p, end), which is not empty and does not start
// with a zero unit; sets length to the units consumed (1 or 2).
char32_t DecodeUtf16(const char16_t* p, const char16_t* end, std::size_t& length) {
    length = 1;
    const char32_t u = p[0];
    if (u < 0xD800 || u > 0xDFFF) {
        return u;
    }
    if (u <= 0xDBFF && p + 1 != end && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
        length = 2;
        return 0x10000 + ((u - 0xD800) << 10) + (p[1] - 0xDC00);
    }
    return kReplacement;
}

// Stores unit at index pos when it falls inside the destination.
template <class Unit>
void Put(Unit* dest, std::size_t capacity, std::size_t pos, Unit unit) {
    if (pos < capacity) {
        dest[pos] = unit;
    }
}

}  // namespace

std::size_t MultiByteToUtf16(const char* bytes, std::size_t byteCount, char16_t* dest,
                             std::size_t destCapacity) {
    if (bytes == nullptr) {
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const auto* end = p + byteCount;
    std::size_t count = 0;
    while (p != end && *p != 0) {
        std::size_t length;
        const char32_t c = DecodeUtf8(p, end, length);
        p += length;
        if (c >= 0x10000) {
            const char32_t v = c - 0x10000;
            Put(dest, destCapacity, count++, static_cast<char16_t>(0xD800 + (v >> 10)));
            Put(dest, destCapacity, count++, static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        } else {
            Put(dest, destCapacity, count++, static_cast<char16_t>(c));
        }
    }
    return count;
}

std::size_t Utf16ToMultiByte(const char16_t* units, std::size_t unitCount, char* dest,
                             std::size_t destCapacity) {
    if (units == nullptr) {
        return 0;
    }
    const char16_t* p = units;
    const char16_t* end = units + unitCount;
    std::size_t count = 0;
    while (p != end && *p != 0) {
        std::size_t length;
        const char32_t c = DecodeUtf16(p, end, length);
        p += length;
        if (c < 0x80) {
            Put(dest, destCapacity, count++, static_cast<char>(c));
        } else if (c < 0x800) {
            Put(dest, destCapacity, count++, static_cast<char>(0xC0 | (c >> 6)));
            Put(dest, destCapacity, count++, static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            Put(dest, destCapacity, count++, static_cast<char>(0xE0 | (c >> 12)));
            Put(dest, destCapacity, count++, static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            Put(dest, destCapacity, count++, static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            Put(dest, destCapacity, count++, static_cast<char>(0xF0 | (c >> 18)));
            Put(dest, destCapacity, count++, static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            Put(dest, destCapacity, count++, static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            Put(dest, destCapacity, count++, static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return count;
}

stdx::u16string Utf8ToUtf16(const stdx::string& text) {
    // Count first, so that the result is allocated once at its exact size.
    const std::size_t count = MultiByteToUtf16(text.c_str(), text.size(), nullptr, 0);
    stdx::u16string result;
    result.resize(count);
    MultiByteToUtf16(text.c_str(), text.size(), result.data(), count);
    return result;
}

stdx::string Utf16ToUtf8(const stdx::u16string& text) {
    const std::size_t count = Utf16ToMultiByte(text.c_str(), text.size(), nullptr, 0);
    stdx::string result;
    result.resize(count);
    Utf16ToMultiByte(text.c_str(), text.size(), result.data(), count);
    return result;
}
