#include "launcher/ConfigList.h"

#include <gtest/gtest.h>

#include "launcher/ConfigKeys.h"
#include "tests/support/TestSupport.h"

namespace {

using test_support::U16;
using test_support::U8;

std::vector<std::string> Values(const ConfigList& list, const char16_t* key) {
    std::vector<std::string> out;
    if (const auto* values = FindValues(list, key)) {
        for (const auto& value : *values) {
            out.push_back(U8(value));
        }
    }
    return out;
}

TEST(ConfigListTest, AddValueMergesKeysAndValuesWithoutRegardToCase) {
    ConfigList list;
    EXPECT_TRUE(AddValue(list, u"CommonInfoBases", u"A"));
    EXPECT_TRUE(AddValue(list, u"commoninfobases", u"B"));
    EXPECT_FALSE(AddValue(list, u"COMMONINFOBASES", u"a"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(U8(list[0].m_key), "CommonInfoBases");
    EXPECT_EQ(Values(list, u"COMMONinfoBASES"), (std::vector<std::string>{"A", "B"}));
}

TEST(ConfigListTest, AddValueKeepsKeysInFirstAppearanceOrder) {
    ConfigList list;
    AddValue(list, u"b", u"1");
    AddValue(list, u"a", u"1");
    AddValue(list, u"B", u"2");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(U8(list[0].m_key), "b");
    EXPECT_EQ(U8(list[1].m_key), "a");
    EXPECT_EQ(Values(list, u"b"), (std::vector<std::string>{"1", "2"}));
}

TEST(ConfigListTest, CaseFoldingIsAsciiOnlySoCyrillicCaseDiffers) {
    // The shared comparison folds only A-Z; other scripts compare exactly.
    ConfigList list;
    AddValue(list, U16("Ключ"), U16("значение"));
    EXPECT_TRUE(AddValue(list, U16("КЛЮЧ"), U16("значение")));
    EXPECT_FALSE(AddValue(list, U16("Ключ"), U16("значение")));
    EXPECT_EQ(list.size(), 2u);
}

TEST(ConfigListTest, AddValueChecksEveryEqualEntryAndAppendsToTheLast) {
    // Lists not built by the reader may hold one key twice.
    ConfigList list{{u"k", {u"x"}}, {u"K", {u"y"}}};
    EXPECT_FALSE(AddValue(list, u"k", u"Y"));
    EXPECT_TRUE(AddValue(list, u"k", u"z"));
    EXPECT_EQ(list[0].m_values.size(), 1u);
    ASSERT_EQ(list[1].m_values.size(), 2u);
    EXPECT_EQ(U8(list[1].m_values[1]), "z");
}

TEST(ConfigListTest, SetValuesReplacesInPlaceKeepingSpelling) {
    ConfigList list{
        {u"First", {u"1"}}, {u"ConfigurationTemplatesLocation", {u"/a", u"/b"}}, {u"Last", {u"2"}}};
    SetValues(list, u"CONFIGURATIONTEMPLATESLOCATION", {u"/c"});
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(U8(list[1].m_key), "ConfigurationTemplatesLocation");
    EXPECT_EQ(Values(list, kTemplatesLocationKey), std::vector<std::string>{"/c"});
}

TEST(ConfigListTest, SetValuesWithNoValuesRemovesTheKeyKeepingTheOrder) {
    ConfigList list{{u"a", {u"1"}}, {u"b", {u"2"}}, {u"c", {u"3"}}};
    SetValues(list, u"B", {});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(U8(list[0].m_key), "a");
    EXPECT_EQ(U8(list[1].m_key), "c");
    SetValues(list, u"missing", {});
    EXPECT_EQ(list.size(), 2u);
}

TEST(ConfigListTest, SetValuesAppendsAMissingKeyAtTheEnd) {
    ConfigList list{{u"a", {u"1"}}};
    SetValues(list, kTemplatesLocationKey, {u"/x", u"/y"});
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(U8(list[1].m_key), "ConfigurationTemplatesLocation");
    EXPECT_EQ(Values(list, kTemplatesLocationKey), (std::vector<std::string>{"/x", "/y"}));
}

TEST(ConfigListTest, FindValuesReturnsNullForAMissingKey) {
    ConfigList list{{u"a", {u"1"}}};
    EXPECT_EQ(FindValues(list, u"b"), nullptr);
    EXPECT_EQ(FindValues(ConfigList(), u"a"), nullptr);
}

}  // namespace
