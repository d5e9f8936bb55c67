#include "text/StringUtils.h"

#include <utility>

#include "text/Encoding.h"

namespace {

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

int CompareNoCase(const stdx::u16string& a, const stdx::u16string& b) {
    const stdx::string left = Utf16ToUtf8(a);
    const stdx::string right = Utf16ToUtf8(b);
    const std::size_t common = left.size() < right.size() ? left.size() : right.size();
    for (std::size_t i = 0; i < common; ++i) {
        const int l = FoldAscii(static_cast<unsigned char>(left[i]));
        const int r = FoldAscii(static_cast<unsigned char>(right[i]));
        if (l != r) {
            return l - r;
        }
    }
    // The shorter text ends first, as its terminator would compare below any byte.
    if (left.size() == right.size()) {
        return 0;
    }
    return left.size() < right.size() ? -FoldAscii(static_cast<unsigned char>(right[common]))
                                      : FoldAscii(static_cast<unsigned char>(left[common]));
}

std::size_t ReplaceAll(stdx::u16string& text, const stdx::u16string& pattern,
                       const stdx::u16string& replacement) {
    if (pattern.empty() || text.empty()) {
        return 0;
    }
    std::size_t hit = text.find(pattern);
    if (hit == stdx::u16string::npos) {
        return 0;
    }
    // Built into a new string so that each unit is copied once.
    stdx::u16string result;
    std::size_t count = 0;
    std::size_t from = 0;
    while (hit != stdx::u16string::npos) {
        result.append(text.c_str() + from, hit - from);
        result.append(replacement);
        ++count;
        from = hit + pattern.size();
        hit = text.find(pattern, from);
    }
    result.append(text.c_str() + from, text.size() - from);
    text = std::move(result);
    return count;
}

stdx::u16string IntToString(std::int32_t value, int radix) {
    if (radix < 2 || radix > 36) {
        return stdx::u16string();
    }
    const bool negative = radix == 10 && value < 0;
    // Negating in unsigned arithmetic keeps INT32_MIN exact.
    std::uint32_t rest = static_cast<std::uint32_t>(value);
    if (negative) {
        rest = 0u - rest;
    }
    char16_t digits[33];
    std::size_t pos = sizeof(digits) / sizeof(digits[0]);
    do {
        const std::uint32_t d = rest % static_cast<std::uint32_t>(radix);
        digits[--pos] = static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + (d - 10));
        rest /= static_cast<std::uint32_t>(radix);
    } while (rest != 0);
    if (negative) {
        digits[--pos] = u'-';
    }
    return stdx::u16string(digits + pos, sizeof(digits) / sizeof(digits[0]) - pos);
}
