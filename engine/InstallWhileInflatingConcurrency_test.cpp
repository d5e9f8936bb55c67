// A run that starts on a kit whose tables are read while the rest of it is
// still inflating (as silent runs do): the writers wait for the bytes they
// copy, and nothing reaches the template directory before the whole kit
// has passed its digest and its signature.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/InstallTestSupport.h"
#include "kit/KitSigning.h"
#include "kit/KitTestSupport.h"
#include "text/Languages.h"

using namespace install_test;

namespace {

using Kit = InstallData<LZCompressor, FileSystem>;
// Bytes that do not compress, so that a file's data is most of the kit and
// a flipped bit in its second half lies well past the tables.
using kit_test::Pattern;

// What the kits hold besides their files: the digest, signed by signers.
KitOptions Sealed(std::vector<kit::SecretKey> signers = {}) {
    return KitOptions({Product("en", "Templates", "Provider", "")}, true, std::move(signers));
}

class InstallWhileInflatingTest : public InstallDirsTest {
protected:
    // Older copies of two kit files and a file of the user's own.
    void SetUp() override {
        InstallDirsTest::SetUp();
        WriteFile(m_target + "/a.cfg", "old a", kBaseSeconds - 100);
        WriteFile(m_target + "/deep/z.cfg", "old z", kBaseSeconds - 100);
        WriteFile(m_target + "/mine.txt", "mine", kBaseSeconds);
    }

    std::vector<KitFile> Files() const {
        return {{"a.cfg", "kit a"},
                {"big\\large.bin", Pattern(3 << 20, 1)},
                {"deep\\z.cfg", "kit z"},
                {"deep\\more\\tail.bin", Pattern(1 << 20, 2)}};
    }

    // Begins the kit (tables only) and runs two writers over it.
    ErrorCode Run(const kit::KitTrust* trust, Status* status) {
        Kit kit;
        if (trust != nullptr) {
            kit.SetTrust(*trust);
        }
        const ErrorCode begun = kit.Begin(U16(m_kitPath));
        if (begun != kErrorSuccess) {
            return begun;
        }
        BasicInstallProcessData<Kit> data;
        data.Init();
        data.SetInstallData(&kit, U16(m_target));
        InstallWorker<FileSystem> worker;
        worker.SetFinishPause(std::chrono::milliseconds(0));
        worker.SetWriters(2);
        const ErrorCode code = worker.Run(&data);
        *status = ReadStatus(data);
        return code;
    }

    void ExpectNothingLeft() {
        EXPECT_TRUE(EntriesWithPrefix(m_target, ".qa-").empty());
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "pdk").empty());
    }
};

TEST_F(InstallWhileInflatingTest, IntactKitsInstallAndUpToDateOnesNeedNoData) {
    ASSERT_EQ(BuildKit(m_kitPath, Files(), Sealed()), "");
    Status status;
    ASSERT_EQ(Run(nullptr, &status), kErrorSuccess);
    EXPECT_EQ(status.percent, 100);
    for (const KitFile& file : Files()) {
        std::string path = file.name;
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_EQ(ReadFile(m_target + "/" + path), file.bytes) << path;
        EXPECT_EQ(Mtime(m_target + "/" + path), file.seconds) << path;
    }
    EXPECT_EQ(ReadFile(m_target + "/mine.txt"), "mine");
    ExpectNothingLeft();

    // Again, all up to date: the kit is judged on its digest alone.
    const Tree installed = Snapshot(m_target);
    ASSERT_EQ(Run(nullptr, &status), kErrorSuccess);
    EXPECT_EQ(Snapshot(m_target), installed);
    ExpectNothingLeft();
}

// Kits whose tables read well but which fail their checks only once the
// whole kit has inflated: the run ends with 13 and the damaged-kit message,
// the template directory as it was.
TEST_F(InstallWhileInflatingTest, KitsFailingTheirChecksLateInstallNothing) {
    kit::SecretKey trusted;
    kit::SecretKey other;
    kit::PublicKey trustedPublic;
    kit::PublicKey otherPublic;
    ASSERT_TRUE(kit::GenerateKey(&trusted, &trustedPublic));
    ASSERT_TRUE(kit::GenerateKey(&other, &otherPublic));
    kit::KitTrust onlyTrusted;
    onlyTrusted.keys = {trustedPublic};

    struct Case {
        const char* name;
        std::vector<kit::SecretKey> signers;
        bool flipLateBit;
    };
    const Case cases[] = {
        {"a bit flipped late in the data", {}, true},
        {"signed by another key", {other}, false},
        {"signed by the trusted key, then damaged", {trusted}, true},
    };
    const Tree before = Snapshot(m_target);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(BuildKit(m_kitPath, Files(), Sealed(c.signers)), "");
        if (c.flipLateBit) {
            std::string bytes = ReadFile(m_kitPath);
            bytes[bytes.size() * 3 / 4] ^= 0x10;
            WriteFile(m_kitPath, bytes);
        }
        Status status;
        const bool trustKeys = !c.signers.empty();
        EXPECT_EQ(Run(trustKeys ? &onlyTrusted : nullptr, &status), kErrorInflate);
        EXPECT_EQ(status.code, kErrorInflate);
        EXPECT_EQ(status.text, LocalizedString("IDS_ERROR_DAMAGEDSOURCE"));
        EXPECT_EQ(Snapshot(m_target), before);
        ExpectNothingLeft();
    }
}

}  // namespace
