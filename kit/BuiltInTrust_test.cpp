// Which kits the installer's own reader accepts in this build: every intact
// kit by default, only kits signed by a built-in key when QA_KIT_PUBLIC_KEYS
// is set. scripts/test builds this test a second time with the two test keys
// of kit/testdata built in.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"
#include "kit/KitTrust.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using kit_test::Kit;
using kit_test::ScopedTempRoot;
using test_support::BuildKit;
using test_support::KitOptions;
using test_support::Product;

namespace {

kit::SecretKey TestSecret(int n) {
    kit::SecretKey secret{};
    const std::string path = std::string(QA_KIT_TEST_DATA) + "/test-key-" + std::to_string(n);
    EXPECT_TRUE(kit::ParseSecretKeyText(ReadFile(path + ".secret"), &secret)) << path;
    return secret;
}

kit::PublicKey TestPublic(int n) {
    kit::PublicKey key{};
    const std::string path = std::string(QA_KIT_TEST_DATA) + "/test-key-" + std::to_string(n);
    EXPECT_TRUE(kit::ParsePublicKeyText(ReadFile(path + ".pub"), &key)) << path;
    return key;
}

void WriteWriterKit(const std::string& path, bool record, const kit::SecretKey* key) {
    KitOptions options = {{Product("en", "P", "V", "")}, record};
    if (key != nullptr) {
        options.signers.push_back(*key);
    }
    ASSERT_EQ(BuildKit(path, {{"a.cfg", "alpha"}}, options), "");
}

TEST(BuiltInTrust, KitsThisBuildAccepts) {
    ScopedTempRoot temp;
    TempDir dir;
    const kit::KitTrust& builtIn = kit::BuiltInTrust();
    const bool configured = !builtIn.keys.empty();
    if (configured) {
        const std::vector<kit::PublicKey> expected = {TestPublic(1), TestPublic(2)};
        ASSERT_EQ(builtIn.keys, expected) << "built with keys other than kit/testdata's";
    }
    kit::SecretKey other;
    kit::PublicKey otherPublic;
    ASSERT_TRUE(kit::GenerateKey(&other, &otherPublic));
    const kit::SecretKey first = TestSecret(1);
    const kit::SecretKey second = TestSecret(2);
    kit_test::WriteKit(dir / "hand-made", kit_test::MultiStream({}, {{u"a.cfg", 1, "alpha"}}));
    WriteWriterKit(dir / "no-integrity", false, nullptr);
    WriteWriterKit(dir / "digest-only", true, nullptr);
    WriteWriterKit(dir / "first-key", true, &first);
    WriteWriterKit(dir / "second-key", true, &second);
    WriteWriterKit(dir / "other-key", true, &other);
    struct Case {
        const char* kit;
        bool acceptedWithKeys;
    };
    const Case cases[] = {{"hand-made", false}, {"no-integrity", false}, {"digest-only", false},
                          {"first-key", true},  {"second-key", true},    {"other-key", false}};
    for (const Case& c : cases) {
        Kit kit;
        const ErrorCode code = kit.Load(U16(dir / c.kit));
        if (!configured || c.acceptedWithKeys) {
            EXPECT_EQ(code, 0u) << c.kit;
            EXPECT_EQ(kit.m_files.size(), 1u) << c.kit;
        } else {
            EXPECT_EQ(code, kErrorInflate) << c.kit;
            EXPECT_FALSE(kit.IsLoaded()) << c.kit;
        }
    }
    EXPECT_EQ(temp.StreamFiles(), 0u);
}

}  // namespace
