#include "tools/PkdOptions.h"

#include <gtest/gtest.h>

namespace {

using pkdtool::Command;
using pkdtool::Options;

bool Parse(std::initializer_list<const char*> arguments, Options* options, std::string* error) {
    std::vector<const char*> argv = {"pkdtool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return pkdtool::ParseArguments(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(PkdOptions, CreateWithEveryOption) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"create", "--level", "9", "-o", "out.pkd", "--product", "en:N:P:d\\x.html",
                       "--single", "--manifest", "m.txt", "--", "-dir"},
                      &options, &error))
        << error;
    EXPECT_EQ(options.command, Command::kCreate);
    EXPECT_EQ(options.output, "out.pkd");
    EXPECT_EQ(options.source, "-dir");
    EXPECT_EQ(options.level, 9);
    EXPECT_TRUE(options.single);
    EXPECT_EQ(options.manifest, "m.txt");
    ASSERT_EQ(options.products.size(), 1u);
    EXPECT_EQ(options.products[0].m_descriptionPath, u"d\\x.html");
}

TEST(PkdOptions, UsageErrorsSayWhatIsWrong) {
    const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
        {{}, "no command"},
        {{"frob"}, "unknown command"},
        {{"list"}, "exactly one kit"},
        {{"create", "dir"}, "-o KIT"},
        {{"create", "-o", "k"}, "exactly one directory"},
        {{"create", "-o", "k", "a", "b"}, "exactly one directory"},
        {{"create", "-o"}, "needs a value"},
        {{"create", "-o", "k", "--level", "10", "d"}, "0 to 9"},
        {{"create", "-o", "k", "--product", "en:only", "d"}, "LANG:NAME"},
        {{"create", "-o", "k", "--bogus", "d"}, "unknown option"},
        {{"create", "-o", "k", "--sign"}, "needs a value"},
        {{"create", "-o", "k", "--sign", "s", "--no-integrity", "d"}, "--no-integrity"},
        {{"verify"}, "exactly one kit"},
        {{"verify", "a", "b"}, "exactly one kit"},
        {{"verify", "k", "--key"}, "needs a value"},
        {{"verify", "k", "--keys", "f"}, "unknown option"},
        {{"extract", "k"}, "a kit file and a directory"},
        {{"keygen"}, "-o SECRET"},
        {{"keygen", "--public", "p"}, "-o SECRET"},
        {{"keygen", "-o", "s", "extra"}, "keygen takes"},
    };
    for (const auto& [arguments, expected] : cases) {
        std::vector<const char*> argv = {"pkdtool"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        Options options;
        std::string error;
        EXPECT_FALSE(
            pkdtool::ParseArguments(static_cast<int>(argv.size()), argv.data(), &options, &error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

TEST(PkdOptions, IntegrityCommandsAndOptions) {
    Options create;
    std::string error;
    ASSERT_TRUE(Parse({"create", "-o", "k", "--sign", "s.key", "d"}, &create, &error)) << error;
    EXPECT_EQ(create.signingKey, "s.key");
    EXPECT_TRUE(create.integrity);
    Options bare;
    ASSERT_TRUE(Parse({"create", "--no-integrity", "-o", "k", "d"}, &bare, &error)) << error;
    EXPECT_FALSE(bare.integrity);
    Options verify;
    ASSERT_TRUE(Parse({"verify", "--key", "a.pub", "k.pkd", "--key", "b.pub"}, &verify, &error));
    EXPECT_EQ(verify.command, Command::kVerify);
    EXPECT_EQ(verify.source, "k.pkd");
    EXPECT_EQ(verify.keyFiles, (std::vector<std::string>{"a.pub", "b.pub"}));
    Options extract;
    ASSERT_TRUE(Parse({"extract", "k.pkd", "out"}, &extract, &error));
    EXPECT_EQ(extract.command, Command::kExtract);
    EXPECT_EQ(extract.source, "k.pkd");
    EXPECT_EQ(extract.output, "out");
    Options keygen;
    ASSERT_TRUE(Parse({"keygen", "--public", "p", "-o", "s"}, &keygen, &error));
    EXPECT_EQ(keygen.command, Command::kKeygen);
    EXPECT_EQ(keygen.output, "s");
    EXPECT_EQ(keygen.publicKey, "p");
}

TEST(PkdOptions, ProductArgumentKeepsColonsInTheDescriptionAndUtf8) {
    config::ProductInfo product;
    std::string error;
    ASSERT_TRUE(
        pkdtool::ParseProductArgument("ru:\xd0\xa8\xd0\xb0\xd0\xb1::C:\\doc", &product, &error));
    EXPECT_EQ(product.m_language, u"ru");
    EXPECT_EQ(product.m_productName, u"\u0428\u0430\u0431");
    EXPECT_TRUE(product.m_providerName.empty());
    EXPECT_EQ(product.m_descriptionPath, u"C:\\doc");
    EXPECT_FALSE(pkdtool::ParseProductArgument(":N:P:D", &product, &error));
}

TEST(PkdOptions, ManifestSectionsInOrder) {
    std::vector<config::ProductInfo> products;
    std::string error;
    ASSERT_TRUE(
        pkdtool::ParseManifest("# kit texts\r\n[product]\nlanguage = en\n"
                               "name = Templates: Pro\nprovider=ACME\n"
                               "description = doc\\readme.html\n\n[product]\n"
                               "language=de\nname = Vorlagen = gut",
                               &products, &error))
        << error;
    ASSERT_EQ(products.size(), 2u);
    EXPECT_EQ(products[0].m_productName, u"Templates: Pro");
    EXPECT_EQ(products[0].m_providerName, u"ACME");
    EXPECT_EQ(products[0].m_descriptionPath, u"doc\\readme.html");
    EXPECT_EQ(products[1].m_language, u"de");
    EXPECT_EQ(products[1].m_productName, u"Vorlagen = gut");
}

TEST(PkdOptions, ManifestErrorsNameTheLine) {
    std::vector<config::ProductInfo> products;
    std::string error;
    EXPECT_FALSE(pkdtool::ParseManifest("name = x\n", &products, &error));
    EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    products.clear();
    EXPECT_FALSE(
        pkdtool::ParseManifest("[product]\nlanguage=en\ncolour = red\n", &products, &error));
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    products.clear();
    EXPECT_FALSE(pkdtool::ParseManifest("[product]\nname = x\n", &products, &error));
    EXPECT_NE(error.find("no language"), std::string::npos) << error;
}

}  // namespace
