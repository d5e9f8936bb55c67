#include "text/InterfaceCharacters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "text/Encoding.h"
#include "text/LanguageTables.h"
#include "text/Languages.h"

namespace {

// The code points of a text, through the string conversion rather than the
// decoder under test.
std::set<char32_t> CodePointsOf(const char* utf8) {
    const stdx::u16string units = Utf8ToUtf16(stdx::string(utf8));
    std::set<char32_t> points;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t cp = units[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        }
        points.insert(cp);
    }
    return points;
}

std::set<char32_t> PrintableAscii() {
    std::set<char32_t> ascii;
    for (char32_t c = 0x20; c < 0x7F; ++c) {
        ascii.insert(c);
    }
    return ascii;
}

TEST(InterfaceCharacters, EveryRowGivesItsTextsAndAsciiOnceInOrder) {
    for (const lang::LanguageRow& row : lang::kLanguageRows) {
        SCOPED_TRACE(row.code);
        std::set<char32_t> expected = PrintableAscii();
        for (std::size_t i = 0; i < lang::kTextCount; ++i) {
            const std::set<char32_t> points = CodePointsOf(row.texts[i].text);
            expected.insert(points.begin(), points.end());
        }
        const std::vector<char32_t> characters = InterfaceCharacters(row.id);
        EXPECT_TRUE(std::is_sorted(characters.begin(), characters.end()));
        EXPECT_EQ(std::set<char32_t>(characters.begin(), characters.end()), expected);
        EXPECT_EQ(characters.size(), expected.size()) << "a character stands twice";
    }
}

TEST(InterfaceCharacters, ScriptsBeyondAscii) {
    struct Sample {
        const char* code;
        char32_t character;
    };
    const Sample samples[] = {
        {"zh", U'\u6B22'}, {"zh", U'\uFF1A'}, {"ka", U'\u10D9'}, {"hy", U'\u0589'},
        {"fr", U'\u00A0'}, {"fr", U'\u202F'}, {"tk", U'\u00FD'}, {"kk", U'\u04D9'},
    };
    for (const Sample& s : samples) {
        const std::vector<char32_t> characters = InterfaceCharacters(LanguageIdFromCode(s.code));
        EXPECT_TRUE(std::binary_search(characters.begin(), characters.end(), s.character))
            << s.code << " U+" << std::hex << static_cast<unsigned>(s.character);
    }
}

TEST(InterfaceCharacters, UnknownLanguageGivesAsciiOnly) {
    for (int id : {0, -1, 24}) {
        const std::vector<char32_t> characters = InterfaceCharacters(id);
        EXPECT_EQ(std::set<char32_t>(characters.begin(), characters.end()), PrintableAscii()) << id;
    }
}

}  // namespace
