#include "text/Encoding.h"

#include <gtest/gtest.h>

namespace {

TEST(EncodingRoundTrip, CyrillicAndEmoji) {
    const stdx::string utf8("\xD0\x9F\xD1\x80\xD0\xB8 \xF0\x9F\x98\x80");
    const stdx::u16string utf16(u"\u041F\u0440\u0438 \U0001F600");
    EXPECT_EQ(utf16, Utf8ToUtf16(utf8));
    EXPECT_EQ(utf8, Utf16ToUtf8(utf16));
}

TEST(EncodingBuffers, StopAtEmbeddedZero) {
    const char bytes[] = {'a', 'b', '\0', 'c'};
    char16_t dest[4] = {};
    EXPECT_EQ(2u, MultiByteToUtf16(bytes, sizeof bytes, dest, 4));
    EXPECT_EQ(u'a', dest[0]);
    EXPECT_EQ(u'b', dest[1]);
    EXPECT_EQ(0, dest[2]);
}

}  // namespace
