#include "tools/KitVerify.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/IntegrityRecord.h"
#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::KeyPair;
using kit_test::NewKey;
using kit_test::ScopedTempRoot;
using test_support::BuildKit;

namespace {

// A kit of a few kilobytes signed by `keys`; its bytes.
std::string MakeKit(const std::string& path, const std::vector<KeyPair>& keys, bool record = true) {
    EXPECT_EQ(BuildKit(path,
                       {{"a.cfg", "[main]\nwidth = 100\nheight = 200\n", 1600000000},
                        // Incompressible, so that the kit is a few kilobytes.
                        {"sub\\b.bin", kit_test::Pattern(2000, 9), 1500000000}},
                       kit_test::Sealed(keys, record)),
              "");
    return ReadFile(path);
}

// The verify line and status for each kind of kit, with and without keys.
TEST(PkdtoolVerify, OneLineAndAStatusForEachKindOfKit) {
    ScopedTempRoot temp;
    TempDir dir;
    const KeyPair first = NewKey();
    const KeyPair other = NewKey();
    MakeKit(dir / "signed", {first});
    MakeKit(dir / "digest", {});
    MakeKit(dir / "bare", {}, false);
    const std::string signedBytes = ReadFile(dir / "signed");
    WriteFile(dir / "cut", signedBytes.substr(0, signedBytes.size() - 1));
    WriteFile(dir / "not-a-kit", "hello");
    const std::string id = kit::KeyId(first.publicKey);
    struct Case {
        const char* kit;
        std::vector<kit::PublicKey> keys;
        std::string line;
        int status;
    };
    const Case cases[] = {
        {"signed", {}, "intact, signed by " + id, 0},
        {"signed", {other.publicKey, first.publicKey}, "intact, signed by " + id, 0},
        {"signed", {other.publicKey}, "intact, signed by " + id, 1},
        {"digest", {}, "intact, not signed", 0},
        {"digest", {first.publicKey}, "intact, not signed", 1},
        {"bare", {}, "no integrity record", 1},
        {"bare", {first.publicKey}, "no integrity record", 1},
        {"cut", {}, "damaged: the integrity record is missing", 1},
        {"not-a-kit", {}, "damaged: not a complete raw DEFLATE stream", 1},
    };
    for (const Case& c : cases) {
        pkdtool::ToolKit kit;
        const pkdtool::Verdict verdict = pkdtool::VerifyKit(dir / c.kit, c.keys, &kit);
        EXPECT_EQ(verdict.line.substr(0, c.line.size()), c.line) << c.kit;
        EXPECT_EQ(verdict.status, c.status) << c.kit << ": " << verdict.line;
    }
    pkdtool::ToolKit kit;
    const pkdtool::Verdict missing = pkdtool::VerifyKit(dir / "missing", {}, &kit);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.line, "");
    EXPECT_EQ(missing.failure, "no such file");
}

// Every single-bit flip and every truncation of a small signed kit, through
// both pkdtool's verify and the installer's Load. Verify is the installer's
// Load under the keys given, so one Load per mutant, without keys as the
// default build has, shows both: verify's status and whether Load kept the
// kit.
TEST(PkdtoolVerify, EveryBitFlipAndEveryTruncationOfASignedKitIsRefused) {
    ScopedTempRoot temp(kit_test::MemoryDirectory());
    TempDir dir(kit_test::MemoryDirectory());
    const KeyPair key = NewKey();
    const std::string good = MakeKit(dir / "good", {key});
    ASSERT_GT(good.size(), 2000u);
    ASSERT_LT(good.size(), 4096u);
    const std::string path = dir / "mutant";
    std::size_t accepted = 0;
    std::string firstAccepted;
    const auto check = [&](const std::string& bytes, const std::string& what) {
        WriteFile(path, bytes);
        pkdtool::ToolKit kit;
        const pkdtool::Verdict verdict = pkdtool::VerifyKit(path, {}, &kit);
        if (verdict.status == 0 || kit.IsLoaded() || verdict.line.rfind("damaged: ", 0) != 0) {
            if (accepted++ == 0) {
                firstAccepted = what;
            }
        }
    };
    for (std::size_t byte = 0; byte < good.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string bytes = good;
            bytes[byte] = static_cast<char>(bytes[byte] ^ (1 << bit));
            check(bytes, "flip of bit " + std::to_string(bit) + " of byte " + std::to_string(byte));
        }
    }
    for (std::size_t size = 0; size < good.size(); ++size) {
        check(good.substr(0, size), "cut to " + std::to_string(size) + " bytes");
    }
    EXPECT_EQ(accepted, 0u) << "first accepted: " << firstAccepted;
    // The unchanged kit passes both, so the loop above could have failed.
    WriteFile(path, good);
    pkdtool::ToolKit kit;
    EXPECT_EQ(pkdtool::VerifyKit(path, {key.publicKey}, &kit).status, 0);
    EXPECT_EQ(temp.StreamFiles(), 0u);
}

TEST(PkdtoolVerify, KeyFilesAreReadInTheFormKeygenWrites) {
    TempDir dir;
    const KeyPair key = NewKey();
    WriteFile(dir / "pub", kit::PublicKeyText(key.publicKey) + "\n");
    WriteFile(dir / "secret", kit::SecretKeyText(key.secret) + "\n");
    kit::PublicKey publicKey;
    kit::SecretKey secret;
    std::string error;
    ASSERT_TRUE(pkdtool::ReadPublicKeyFile(dir / "pub", &publicKey, &error)) << error;
    EXPECT_EQ(publicKey, key.publicKey);
    ASSERT_TRUE(pkdtool::ReadSecretKeyFile(dir / "secret", &secret, &error)) << error;
    EXPECT_EQ(secret, key.secret);
    // Each file in the other's place, and a missing one.
    EXPECT_FALSE(pkdtool::ReadPublicKeyFile(dir / "secret", &publicKey, &error));
    EXPECT_NE(error.find(dir / "secret"), std::string::npos) << error;
    EXPECT_FALSE(pkdtool::ReadSecretKeyFile(dir / "pub", &secret, &error));
    EXPECT_FALSE(pkdtool::ReadPublicKeyFile(dir / "missing", &publicKey, &error));
}

}  // namespace
