#include "engine/NameAliases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct AliasCase {
    const char* what;
    std::vector<std::u16string> names;
    bool unsure;
    // For each record: its nearest earlier alias (-1 for none) and whether
    // a later one follows; ignored when unsure.
    std::vector<int> earlier;
    std::vector<bool> later;
};

NameAliases Find(const std::vector<std::u16string>& names) {
    std::vector<stdx::u16string> kept;
    for (const std::u16string& name : names) {
        kept.emplace_back(name.data(), name.size());
    }
    std::vector<const stdx::u16string*> pointers;
    for (const stdx::u16string& name : kept) {
        pointers.push_back(&name);
    }
    NameAliases aliases;
    aliases.Find(pointers);
    return aliases;
}

TEST(NameAliasesTest, NamesThatMayMeetOnSomeFileSystem) {
    const std::vector<AliasCase> cases = {
        {"distinct names",
         {u"a.cfg", u"b.cfg", u"d\\a.cfg"},
         false,
         {-1, -1, -1},
         {false, false, false}},
        {"the same name twice",
         {u"a.cfg", u"b.cfg", u"a.cfg"},
         false,
         {-1, -1, 0},
         {true, false, false}},
        {"ASCII case and either separator",
         {u"Sub\\A.cfg", u"x.cfg", u"sub/a.CFG", u"SUB\\a.cfg"},
         false,
         {-1, -1, 0, 2},
         {true, false, true, false}},
        {"a directory in another case",
         {u"A\\x.cfg", u"a\\y.cfg"},
         false,
         {-1, -1},
         {false, false}},
        {"pattern characters are plain",
         {u"[a]*?.cfg", u"[A]*?.cfg"},
         false,
         {-1, 0},
         {true, false}},
        {"a letter beyond ASCII", {u"a.cfg", u"\u00e9.cfg"}, true, {}, {}},
        {"the Kelvin sign folds to k", {u"k.cfg", u"\u212a.cfg"}, true, {}, {}},
        {"a short-name tilde", {u"LONGFI~1.CFG"}, true, {}, {}},
        {"a level ending in a dot", {u"dir.\\a.cfg"}, true, {}, {}},
        {"a name ending in a space", {u"a.cfg "}, true, {}, {}},
        {"a control character", {u"a\tb.cfg"}, true, {}, {}},
    };
    for (const AliasCase& c : cases) {
        SCOPED_TRACE(c.what);
        const NameAliases aliases = Find(c.names);
        EXPECT_EQ(aliases.Unsure(), c.unsure);
        for (std::size_t i = 0; i < c.names.size(); ++i) {
            SCOPED_TRACE("record " + std::to_string(i));
            if (c.unsure) {
                // Every record may then meet any other.
                EXPECT_EQ(aliases.Earlier(i), NameAliases::kNone);
                EXPECT_TRUE(aliases.HasLater(i));
                continue;
            }
            const std::size_t expected =
                c.earlier[i] < 0 ? NameAliases::kNone : static_cast<std::size_t>(c.earlier[i]);
            EXPECT_EQ(aliases.Earlier(i), expected);
            EXPECT_EQ(aliases.HasLater(i), c.later[i]);
        }
    }
}

TEST(NameAliasesTest, ALaterLookAtAnotherKitStartsAfresh) {
    NameAliases aliases;
    const stdx::u16string odd(u"\u00e9.cfg");
    const stdx::u16string plain(u"a.cfg");
    aliases.Find({&odd});
    ASSERT_TRUE(aliases.Unsure());
    aliases.Find({&plain, &plain});
    EXPECT_FALSE(aliases.Unsure());
    EXPECT_EQ(aliases.Earlier(1), 0u);
    EXPECT_TRUE(aliases.HasLater(0));
}

}  // namespace
