#include "tools/TerminalText.h"

#include <gtest/gtest.h>

namespace {

TEST(TerminalText, ControlAndReorderingCharactersAreEscaped) {
    const std::pair<stdx::u16string, std::string> cases[] = {
        {u"plain.cfg", "plain.cfg"},
        {u"a\u001b[31mb", "a\\x1B[31mb"},
        {u"bell\u0007\ttab\nline\r", "bell\\x07\\x09tab\\x0Aline\\x0D"},
        {u"del\u007f", "del\\x7F"},
        {u"c1\u009b2J", "c1\\u{009B}2J"},
        {u"rtl\u202etxt.exe", "rtl\\u{202E}txt.exe"},
        {u"sep\u2028", "sep\\u{2028}"},
        {u"\u041a\u043b\u044e\u0447 \\ dir", "\xd0\x9a\xd0\xbb\xd1\x8e\xd1\x87 \\ dir"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {stdx::u16string(u"lone\xd800"), "lone\\u{D800}"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(pkdtool::EscapeForTerminal(text), expected) << expected;
    }
}

}  // namespace
