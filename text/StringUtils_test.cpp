#include "text/StringUtils.h"

#include <gtest/gtest.h>

namespace {

TEST(IntToString, RadixExamples) {
    EXPECT_EQ(stdx::u16string(u"-8"), IntToString(-8, 10));
    EXPECT_EQ(stdx::u16string(u"ff"), IntToString(255, 16));
    EXPECT_EQ(stdx::u16string(u"0"), IntToString(0, 10));
}

TEST(CompareNoCase, KeyInAnyCase) {
    EXPECT_EQ(0,
              CompareNoCase(u"ConfigurationTemplatesLocation", u"configurationtemplateslocation"));
    EXPECT_LT(CompareNoCase(u"a", u"B"), 0);
}

TEST(ReplaceAll, BackslashesBecomeSlashes) {
    stdx::u16string path(u"a\\b\\c");
    EXPECT_EQ(2u, ReplaceAll(path, kAltPathSeparator, kPathSeparator));
    EXPECT_EQ(stdx::u16string(u"a/b/c"), path);
}

}  // namespace
