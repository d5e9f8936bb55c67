#include "text/Encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <random>
#include <string>
#include <vector>

namespace {

using U16 = stdx::u16string;
using U8 = stdx::string;

const char16_t kFFFD = 0xFFFD;

U16 FromBytes(const std::string& bytes) {
    return Utf8ToUtf16(U8(bytes.data(), bytes.size()));
}
std::string ToBytes(const U16& units) {
    const U8 s = Utf16ToUtf8(units);
    return std::string(s.c_str(), s.size());
}

// Restores the process locale when a test has changed it.
class LocaleGuard {
public:
    LocaleGuard() : m_saved(std::setlocale(LC_ALL, nullptr)) {}
    ~LocaleGuard() { std::setlocale(LC_ALL, m_saved.c_str()); }

private:
    std::string m_saved;
};

TEST(EncodingValid, BmpTextOfEveryLength) {
    struct Case {
        const char* utf8;
        const char16_t* utf16;
    };
    const Case cases[] = {
        {"plain ASCII", u"plain ASCII"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},  // two bytes
        {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
         u"\u041F\u0440\u0438\u0432\u0435\u0442"},
        {"\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},            // three bytes
        {"\xEF\xBF\xBF\xEE\x80\x80", u"\uFFFF\uE000"},            // BMP edges
        {"\xC2\x80\xDF\xBF\xE0\xA0\x80", u"\u0080\u07FF\u0800"},  // form edges
    };
    for (const Case& c : cases) {
        EXPECT_EQ(U16(c.utf16), FromBytes(c.utf8)) << c.utf8;
        EXPECT_EQ(std::string(c.utf8), ToBytes(c.utf16)) << c.utf8;
    }
}

TEST(EncodingValid, SurrogatePairsBecomeFourByteSequences) {
    const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600
    const U16 pair = {u"\xD83D\xDE00", 2};
    EXPECT_EQ(pair, FromBytes(emoji));
    EXPECT_EQ(emoji, ToBytes(pair));
    // The first and the last supplementary code points.
    EXPECT_EQ(U16(u"\U00010000\U0010FFFF"), FromBytes("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));
    EXPECT_EQ("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", ToBytes(u"\U00010000\U0010FFFF"));
}

TEST(EncodingValid, RandomCodePointsRoundTrip) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::uint32_t> pick(1, 0x10FFFF);
    std::u32string points;
    while (points.size() < 5000) {
        const char32_t c = pick(random);
        if (c < 0xD800 || c > 0xDFFF) {
            points.push_back(c);
        }
    }
    std::u16string expected;
    for (char32_t c : points) {
        if (c >= 0x10000) {
            expected.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            expected.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            expected.push_back(static_cast<char16_t>(c));
        }
    }
    const U16 original(expected.data(), expected.size());
    const U8 narrow = Utf16ToUtf8(original);
    EXPECT_EQ(original, Utf8ToUtf16(narrow));
}

TEST(EncodingInvalid, EachIllFormedSequenceBecomesOneReplacement) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string expected;
    };
    const std::u16string r(1, kFFFD);
    const Case cases[] = {
        {"lone continuation",
         "a\x80"
         "b",
         u"a" + r + u"b"},
        {"invalid lead bytes", "\xC0\xC1\xF5\xFF", r + r + r + r},
        {"overlong slash", "\xC0\xAF", r + r},
        {"overlong three bytes", "\xE0\x80\xAF", r + r + r},
        {"overlong four bytes", "\xF0\x80\x80\xAF", r + r + r + r},
        {"encoded surrogate", "\xED\xA0\x80", r + r + r},
        {"above U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},
        {"missing continuation",
         "\xE2\x82"
         "A",
         r + u"A"},
        {"cut off at the end", "ok\xF0\x9F\x98", u"ok" + r},
        {"lead byte at the end", "ok\xC3", u"ok" + r},
        {"two cut sequences", "\xE2\x82\xE2\x82\xAC", r + u"\u20AC"},
    };
    for (const Case& c : cases) {
        const std::u16string got = [&] {
            const U16 u = FromBytes(c.bytes);
            return std::u16string(u.c_str(), u.size());
        }();
        EXPECT_EQ(c.expected, got) << c.name;
        // The buffer-level count agrees with the string-level result.
        EXPECT_EQ(c.expected.size(), MultiByteToUtf16(c.bytes.data(), c.bytes.size(), nullptr, 0))
            << c.name;
    }
}

TEST(EncodingInvalid, RandomBytesGiveWellFormedText) {
    // Whatever the input, the result is well-formed UTF-16: converting it to
    // UTF-8 and back changes nothing, and the counts agree with the strings.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(1 + round % 40, '\0');
        for (char& b : bytes) {
            // Mostly non-ASCII bytes, which is where the decoder decides.
            const int v = byte(random);
            b = static_cast<char>(v < 32 ? 'a' : (v | 0x80));
        }
        const U16 wide = FromBytes(bytes);
        EXPECT_EQ(wide.size(), MultiByteToUtf16(bytes.data(), bytes.size(), nullptr, 0));
        const U8 narrow = Utf16ToUtf8(wide);
        EXPECT_EQ(narrow.size(), Utf16ToMultiByte(wide.c_str(), wide.size(), nullptr, 0));
        ASSERT_EQ(wide, Utf8ToUtf16(narrow)) << "round " << round;
        ASSERT_EQ(narrow, Utf16ToUtf8(Utf8ToUtf16(narrow))) << "round " << round;
    }
}

TEST(EncodingInvalid, UnpairedSurrogatesBecomeReplacements) {
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ("a" + r + "b", ToBytes(U16(u"a\xD800"
                                         u"b",
                                         3)));  // high, then no low
    EXPECT_EQ("a" + r + "b", ToBytes(U16(u"a\xDC00"
                                         u"b",
                                         3)));           // low alone
    EXPECT_EQ("a" + r, ToBytes(U16(u"a\xD83D", 2)));     // high at the end
    EXPECT_EQ(r + r, ToBytes(U16(u"\xDE00\xD83D", 2)));  // pair in reverse order
    EXPECT_EQ(r + "\xF0\x9F\x98\x80", ToBytes(U16(u"\xD83D\xD83D\xDE00", 3)));
}

TEST(EncodingBuffers, StopAtEmbeddedZero) {
    const char bytes[] = {'a', '\xC3', '\xA9', '\0', 'c'};
    EXPECT_EQ(2u, MultiByteToUtf16(bytes, sizeof bytes, nullptr, 0));
    EXPECT_EQ(U16(u"a\u00E9"), Utf8ToUtf16(U8(bytes, sizeof bytes)));

    const char16_t units[] = {u'a', 0x20AC, 0, u'c'};
    EXPECT_EQ(4u, Utf16ToMultiByte(units, 4, nullptr, 0));
    EXPECT_EQ(U8("a\xE2\x82\xAC"), Utf16ToUtf8(U16(units, 4)));
}

TEST(EncodingBuffers, EmptyInput) {
    EXPECT_TRUE(Utf8ToUtf16(U8()).empty());
    EXPECT_TRUE(Utf16ToUtf8(U16()).empty());
    char16_t unit = u'x';
    char byte = 'x';
    EXPECT_EQ(0u, MultiByteToUtf16("", 0, &unit, 1));
    EXPECT_EQ(0u, Utf16ToMultiByte(u"", 0, &byte, 1));
    EXPECT_EQ(0u, MultiByteToUtf16(nullptr, 5, &unit, 1));
    EXPECT_EQ(0u, Utf16ToMultiByte(nullptr, 5, &byte, 1));
    EXPECT_EQ(u'x', unit);
    EXPECT_EQ('x', byte);
}

TEST(EncodingBuffers, NeverWritePastTheCapacity) {
    const std::string text = "\xD0\x96\xF0\x9F\x98\x80z";  // U+0416, U+1F600, z: 4 units
    for (std::size_t capacity = 0; capacity <= 5; ++capacity) {
        std::vector<char16_t> dest(capacity + 2, u'#');
        EXPECT_EQ(4u, MultiByteToUtf16(text.data(), text.size(), dest.data() + 1, capacity));
        EXPECT_EQ(u'#', dest[0]);
        for (std::size_t i = std::min<std::size_t>(capacity, 4); i < capacity + 1; ++i) {
            EXPECT_EQ(u'#', dest[i + 1]) << "capacity " << capacity << " unit " << i;
        }
        const char16_t expected[] = {0x0416, 0xD83D, 0xDE00, u'z'};
        for (std::size_t i = 0; i < std::min<std::size_t>(capacity, 4); ++i) {
            EXPECT_EQ(expected[i], dest[i + 1]);
        }
    }
    const char16_t units[] = {0x0416, 0xD83D, 0xDE00, u'z'};  // 2 + 4 + 1 bytes
    for (std::size_t capacity = 0; capacity <= 8; ++capacity) {
        std::vector<char> dest(capacity + 2, '#');
        EXPECT_EQ(7u, Utf16ToMultiByte(units, 4, dest.data() + 1, capacity));
        EXPECT_EQ('#', dest[0]);
        EXPECT_EQ('#', dest[capacity + 1]);
        EXPECT_EQ(std::string(text, 0, std::min<std::size_t>(capacity, 7)),
                  std::string(dest.data() + 1, std::min<std::size_t>(capacity, 7)));
    }
}

TEST(EncodingBuffers, ReadOnlyTheGivenBytes) {
    // The count bounds the input even without a terminator after it.
    const char bytes[] = {'\xE2', '\x82', '\xAC'};
    char16_t dest[2] = {};
    EXPECT_EQ(1u, MultiByteToUtf16(bytes, 2, dest, 2));
    EXPECT_EQ(kFFFD, dest[0]);
    const char16_t units[] = {0xD83D, 0xDE00};
    char out[4] = {};
    EXPECT_EQ(3u, Utf16ToMultiByte(units, 1, out, 4));
    EXPECT_EQ(std::string("\xEF\xBF\xBD"), std::string(out, 3));
}

TEST(EncodingLocale, IndependentOfTheCLocale) {
    LocaleGuard guard;
    ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C"));
    const U8 utf8(
        "\xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0/"
        "caf\xC3\xA9/\xF0\x9F\x98\x80");
    const U16 utf16(u"\u041A\u0438\u0440\u0438\u043B\u043B\u0438\u0446\u0430/caf\u00E9/\U0001F600");
    EXPECT_EQ(utf16, Utf8ToUtf16(utf8));
    EXPECT_EQ(utf8, Utf16ToUtf8(utf16));
    // Nothing here changes the locale behind the caller's back.
    EXPECT_STREQ("C", std::setlocale(LC_ALL, nullptr));
}

TEST(EncodingLocale, MatchesTheLibraryUnderAUtf8LocaleForTheWholeBmp) {
    LocaleGuard guard;
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
        GTEST_SKIP() << "no C.UTF-8 locale";
    }
    std::wstring wide;
    std::u16string units;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c < 0xD800 || c > 0xDFFF) {
            wide.push_back(static_cast<wchar_t>(c));
            units.push_back(static_cast<char16_t>(c));
        }
    }
    const std::size_t length = std::wcstombs(nullptr, wide.c_str(), 0);
    ASSERT_NE(static_cast<std::size_t>(-1), length);
    std::string library(length, '\0');
    std::wcstombs(&library[0], wide.c_str(), length);
    const U8 ours = Utf16ToUtf8(U16(units.data(), units.size()));
    ASSERT_EQ(library.size(), ours.size());
    EXPECT_EQ(library, std::string(ours.c_str(), ours.size()));

    std::wstring back(units.size(), L'\0');
    ASSERT_EQ(units.size(), std::mbstowcs(&back[0], library.c_str(), back.size()));
    const U16 ours16 = Utf8ToUtf16(ours);
    ASSERT_EQ(back.size(), ours16.size());
    for (std::size_t i = 0; i < back.size(); ++i) {
        ASSERT_EQ(static_cast<char16_t>(back[i]), ours16[i]) << i;
    }
}

}  // namespace
