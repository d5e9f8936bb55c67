#include "app/ProductLookup.h"

#include <gtest/gtest.h>

#include "app/AppTestSupport.h"

namespace app_test {
namespace {

std::string Description(const std::vector<config::ProductInfo>& products, const char* language) {
    return U8(FindDescriptionPath(products, U16(language)));
}

TEST(FindDescriptionPathTest, LanguageFirstThenEnglish) {
    std::vector<config::ProductInfo> products = {Product("ru", "П", "В", "r.pdf"),
                                                 Product("en", "P", "V", "e.pdf")};
    EXPECT_EQ(Description(products, "ru"), "r.pdf");
    EXPECT_EQ(Description(products, "de"), "e.pdf");
    EXPECT_EQ(Description(products, "RU"), "r.pdf");
}

TEST(FindDescriptionPathTest, EmptyDescriptionOfTheLanguageFallsBackToEnglish) {
    std::vector<config::ProductInfo> products = {Product("ru", "П", "В", ""),
                                                 Product("EN", "P", "V", "e.pdf")};
    EXPECT_EQ(Description(products, "ru"), "e.pdf");
}

TEST(FindDescriptionPathTest, OnlyTheFirstProductOfALanguageCounts) {
    std::vector<config::ProductInfo> products = {
        Product("ru", "1", "1", ""), Product("ru", "2", "2", "second.pdf"),
        Product("en", "P", "V", "e.pdf"), Product("en", "P", "V", "e2.pdf")};
    EXPECT_EQ(Description(products, "ru"), "e.pdf");
}

TEST(FindDescriptionPathTest, NothingForTheLanguageNorEnglish) {
    std::vector<config::ProductInfo> products = {Product("ru", "П", "В", "")};
    EXPECT_EQ(Description(products, "de"), "");
    EXPECT_EQ(Description({}, "en"), "");
    // An English product without a description gives its empty path.
    EXPECT_EQ(Description({Product("en", "P", "V", "")}, "ru"), "");
}

TEST(FindProductInfoTest, FirstProductOfTheLanguageWithoutFallback) {
    std::vector<config::ProductInfo> products = {
        Product("en", "P", "V", ""), Product("Ru", "П1", "В1", ""), Product("ru", "П2", "В2", "")};
    stdx::u16string name;
    stdx::u16string provider;
    FindProductInfo(products, u"ru", &name, &provider);
    EXPECT_EQ(U8(name), "П1");
    EXPECT_EQ(U8(provider), "В1");
    name = u"stale";
    provider = u"stale";
    FindProductInfo(products, u"de", &name, &provider);
    EXPECT_TRUE(name.empty());
    EXPECT_TRUE(provider.empty());
}

std::string Join(const char* target, const char* description) {
    return U8(JoinDescriptionPath(U16(target), U16(description)));
}

TEST(JoinDescriptionPathTest, ExactlyOneSeparator) {
    EXPECT_EQ(Join("/Users/u/t", "r.pdf"), "/Users/u/t/r.pdf");
    EXPECT_EQ(Join("/Users/u/t/", "r.pdf"), "/Users/u/t/r.pdf");
    EXPECT_EQ(Join("/Users/u/t//", "\\docs\\r.pdf"), "/Users/u/t/docs/r.pdf");
    EXPECT_EQ(Join("C:\\t\\", "docs\\r.pdf"), "C:/t/docs/r.pdf");
    EXPECT_EQ(Join("/", "r.pdf"), "/r.pdf");
}

TEST(JoinDescriptionPathTest, NoDescriptionGivesTheDirectory) {
    EXPECT_EQ(Join("/Users/u/t/", ""), "/Users/u/t");
    EXPECT_EQ(Join("/Users/u/t", ""), "/Users/u/t");
    EXPECT_EQ(Join("/", ""), "/");
}

}  // namespace
}  // namespace app_test
