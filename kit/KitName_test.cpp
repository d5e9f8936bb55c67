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
    EXPECT_FALSE(IsSafeKitName(u"c:x.cfg"));
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

}  // namespace
