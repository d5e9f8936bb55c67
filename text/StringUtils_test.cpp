#include "text/StringUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

namespace {

using U16 = stdx::u16string;

TEST(IntToString, DecimalIsSigned) {
    EXPECT_EQ(U16(u"-8"), IntToString(-8, 10));
    EXPECT_EQ(U16(u"0"), IntToString(0, 10));
    EXPECT_EQ(U16(u"42"), IntToString(42, 10));
    EXPECT_EQ(U16(u"2147483647"), IntToString(std::numeric_limits<std::int32_t>::max(), 10));
    EXPECT_EQ(U16(u"-2147483648"), IntToString(std::numeric_limits<std::int32_t>::min(), 10));
}

TEST(IntToString, OtherRadixesAreUnsigned) {
    EXPECT_EQ(U16(u"ff"), IntToString(255, 16));
    EXPECT_EQ(U16(u"0"), IntToString(0, 16));
    EXPECT_EQ(U16(u"ffffffff"), IntToString(-1, 16));
    EXPECT_EQ(U16(u"37777777770"), IntToString(-8, 8));
    EXPECT_EQ(U16(u"101"), IntToString(5, 2));
    EXPECT_EQ(U16(u"z"), IntToString(35, 36));
    EXPECT_EQ(U16(u"10"), IntToString(36, 36));
    EXPECT_EQ(U16(u"11111111111111111111111111111111"), IntToString(-1, 2));
}

TEST(IntToString, RadixOutsideTheDigitsGivesNothing) {
    EXPECT_TRUE(IntToString(5, 0).empty());
    EXPECT_TRUE(IntToString(5, 1).empty());
    EXPECT_TRUE(IntToString(5, 37).empty());
    EXPECT_TRUE(IntToString(5, -10).empty());
}

TEST(CompareNoCase, AsciiLettersFoldToLowerCase) {
    EXPECT_EQ(0,
              CompareNoCase(u"ConfigurationTemplatesLocation", u"configurationtemplateslocation"));
    EXPECT_EQ(0, CompareNoCase(u"EN", u"en"));
    EXPECT_EQ(0, CompareNoCase(u"", u""));
    EXPECT_LT(CompareNoCase(u"a", u"B"), 0);
    EXPECT_GT(CompareNoCase(u"B", u"a"), 0);
    // Folding goes to lower case, as strcasecmp does: 'A' becomes 'a' (0x61),
    // which orders after '[' (0x5B) and '_' (0x5F).
    EXPECT_GT(CompareNoCase(u"A", u"["), 0);
    EXPECT_GT(CompareNoCase(u"Z", u"_"), 0);
}

TEST(CompareNoCase, ShorterPrefixOrdersFirst) {
    EXPECT_LT(CompareNoCase(u"en", u"EN-us"), 0);
    EXPECT_GT(CompareNoCase(u"EN-us", u"en"), 0);
    EXPECT_LT(CompareNoCase(u"", u"a"), 0);
}

TEST(CompareNoCase, OtherCharactersCompareByUtf8Bytes) {
    // Only ASCII letters fold.
    EXPECT_NE(0, CompareNoCase(u"\u00C9t\u00E9", u"\u00E9t\u00E9"));
    EXPECT_NE(0, CompareNoCase(u"\u042F", u"\u044F"));
    // U+FF00 (EF BC 80) orders before U+10000 (F0 90 80 80) by UTF-8 bytes,
    // although its UTF-16 unit is larger than the high surrogate.
    EXPECT_LT(CompareNoCase(u"\uFF00", u"\U00010000"), 0);
    // Bytes compare unsigned: U+00E9 (C3 A9) orders after 'z'.
    EXPECT_GT(CompareNoCase(u"\u00E9", u"z"), 0);
}

TEST(CompareNoCase, StopsAtAnEmbeddedZero) {
    EXPECT_EQ(0, CompareNoCase(U16(u"ab\0x", 4), U16(u"AB")));
}

TEST(CompareNoCase, IndependentOfTheCLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(0, CompareNoCase(u"\u041F\u0443\u0442\u044C/Dir", u"\u041F\u0443\u0442\u044C/dir"));
    EXPECT_NE(0, CompareNoCase(u"\u041F\u0443\u0442\u044C", u"\u041F\u0443\u0442"));
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(ReplaceAll, EveryOccurrenceFromTheStart) {
    U16 path(u"C:\\Users\\me\\templates");
    EXPECT_EQ(3u, ReplaceAll(path, kAltPathSeparator, kPathSeparator));
    EXPECT_EQ(U16(u"C:/Users/me/templates"), path);
}

TEST(ReplaceAll, OccurrencesDoNotOverlap) {
    U16 even(u"aaaa");
    EXPECT_EQ(2u, ReplaceAll(even, u"aa", u"b"));
    EXPECT_EQ(U16(u"bb"), even);
    U16 odd(u"aaa");
    EXPECT_EQ(1u, ReplaceAll(odd, u"aa", u"b"));
    EXPECT_EQ(U16(u"ba"), odd);
}

TEST(ReplaceAll, ReplacedTextIsNotScannedAgain) {
    U16 text(u"aXa");
    EXPECT_EQ(2u, ReplaceAll(text, u"a", u"aa"));
    EXPECT_EQ(U16(u"aaXaa"), text);
    U16 gone(u"--x--");
    EXPECT_EQ(4u, ReplaceAll(gone, u"-", U16()));
    EXPECT_EQ(U16(u"x"), gone);
}

TEST(ReplaceAll, NothingToDo) {
    U16 text(u"unchanged text on the heap");
    const U16 copy(text);
    EXPECT_EQ(0u, ReplaceAll(text, U16(), u"x"));
    EXPECT_EQ(0u, ReplaceAll(text, u"absent", u"x"));
    EXPECT_EQ(copy, text);
    // A string without a match keeps sharing its buffer.
    EXPECT_EQ(2u, copy.use_count());
    U16 empty;
    EXPECT_EQ(0u, ReplaceAll(empty, u"a", u"b"));
    EXPECT_TRUE(empty.empty());
}

TEST(ReplaceAll, LeavesOtherCopiesAlone) {
    U16 text(u"a\\long\\path\\on\\the\\heap");
    const U16 copy(text);
    EXPECT_EQ(5u, ReplaceAll(text, kAltPathSeparator, kPathSeparator));
    EXPECT_EQ(U16(u"a/long/path/on/the/heap"), text);
    EXPECT_EQ(U16(u"a\\long\\path\\on\\the\\heap"), copy);
}

TEST(PathSeparators, SetsFindTheLastSeparator) {
    const U16 mixed(u"a/b\\c");
    EXPECT_EQ(3u, mixed.find_last_of(kPathSeparators));
    EXPECT_EQ(3u, mixed.find_last_of(kPathSeparatorsBackslashFirst));
    EXPECT_EQ(1u, mixed.find_first_of(kPathSeparators));
}

}  // namespace
