#include "kit/KitName.h"

#include <gtest/gtest.h>

namespace {

using kit::IsSafeKitName;

TEST(KitName, OrdinaryRelativeNamesPass) {
    EXPECT_TRUE(IsSafeKitName(u"a.cfg"));
    EXPECT_TRUE(IsSafeKitName(u"dir\\sub\\file.txt"));
    EXPECT_TRUE(IsSafeKitName(u"dir/sub/file.txt"));
    EXPECT_TRUE(IsSafeKitName(u"..data\\x..y\\.hidden"));
    EXPECT_TRUE(IsSafeKitName(u"\u041a\u043b\u044e\u0447 $(x) `y`.cfg"));
}

TEST(KitName, NamesThatLeaveTheTemplateDirectoryAreRefused) {
    EXPECT_FALSE(IsSafeKitName(u""));
    EXPECT_FALSE(IsSafeKitName(u"\\etc\\passwd"));
    EXPECT_FALSE(IsSafeKitName(u"/etc/passwd"));
    EXPECT_FALSE(IsSafeKitName(u"C:\\x.cfg"));
    EXPECT_FALSE(IsSafeKitName(u"c:/x.cfg"));
    EXPECT_FALSE(IsSafeKitName(u"Z:"));
    EXPECT_FALSE(IsSafeKitName(u".."));
    EXPECT_FALSE(IsSafeKitName(u"..\\x"));
    EXPECT_FALSE(IsSafeKitName(u"a\\..\\..\\x"));
    EXPECT_FALSE(IsSafeKitName(u"a/../x"));
    EXPECT_FALSE(IsSafeKitName(u"a\\.."));
    EXPECT_FALSE(IsSafeKitName(u"a\\..//b"));
}

TEST(KitName, ZeroUnitsAndEmptyOrDotComponentsAreRefused) {
    const char16_t withZero[] = {u'a', u'\0', u'b'};
    EXPECT_FALSE(IsSafeKitName(stdx::u16string(withZero, 3)));
    EXPECT_FALSE(IsSafeKitName(stdx::u16string(withZero, 2)));
    EXPECT_FALSE(IsSafeKitName(u"a\\"));
    EXPECT_FALSE(IsSafeKitName(u"a\\\\b"));
    EXPECT_FALSE(IsSafeKitName(u"."));
    EXPECT_FALSE(IsSafeKitName(u"a\\.\\b"));
}

TEST(KitName, ColonOutsideADrivePrefixWasRefused) {
    struct Case {
        const char16_t* name;
        bool safe;
    } const cases[] = {
        {u"a:b.cfg", true}, {u"1:notes.txt", true}, {u"dir\\c:\\x", true},
        {u"ab:\\x", true},  {u"::x", true},         {u"\u00e9:\\x", true},
        {u"c:", false},     {u"C:\\", false},       {u"z:/a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSafeKitName(c.name), c.safe) << static_cast<int>(c.name[0]);
    }
}

}  // namespace
