#include "text/String.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(StringForm, InlineUpToElevenUtf16Units) {
    stdx::u16string eleven(u"abcdefghijk");
    stdx::u16string twelve(u"abcdefghijkl");
    EXPECT_TRUE(eleven.is_inline());
    EXPECT_FALSE(twelve.is_inline());
    EXPECT_EQ(11u, eleven.size());
    EXPECT_EQ(12u, twelve.size());
    EXPECT_EQ(0, twelve.c_str()[12]);
}

TEST(StringForm, InlineUpToTwentyThreeBytes) {
    stdx::string s23(23, 'x');
    stdx::string s24(24, 'x');
    EXPECT_TRUE(s23.is_inline());
    EXPECT_FALSE(s24.is_inline());
    EXPECT_EQ(std::string(24, 'x'), std::string(s24.c_str()));
}

TEST(StringSharing, CopyThenModifyCopyLeavesOriginal) {
    stdx::u16string a(u"a text long enough for the heap");
    stdx::u16string b(a);
    EXPECT_EQ(2u, a.use_count());
    EXPECT_EQ(a.c_str(), b.c_str());
    b[0] = u'A';
    EXPECT_EQ(stdx::u16string(u"a text long enough for the heap"), a);
    EXPECT_EQ(stdx::u16string(u"A text long enough for the heap"), b);
    EXPECT_EQ(1u, a.use_count());
    EXPECT_EQ(1u, b.use_count());
}

TEST(StringErrors, SubstringPastEndThrows) {
    stdx::u16string s(u"abc");
    EXPECT_TRUE(s.substr(3).empty());
    try {
        s.substr(4);
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("basic_string", e.what());
    }
}

}  // namespace
