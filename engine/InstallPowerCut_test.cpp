// The power is cut at every operation of a run, and after its end: the disk
// then keeps what was synced and any part of what was not
// (PowerCutFileSystem). The next start's recovery must leave the template
// directory as it was before the run or fully installed, with nothing of
// the run left anywhere; a cut after the run reported success must leave it
// fully installed; and a new run must then complete it. The power is also
// cut again at every operation of that recovery. Over two small kits (one
// of them also where files cannot be exchanged), with the journal in the
// temporary directory and beside the template directory (the temporary
// directory held in memory), and with and without a call that syncs a
// whole file system.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/InstallRecovery.h"
#include "engine/InstallTestSupport.h"
#include "engine/RunRecovery.h"
#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/PowerCut.h"
#include "engine/fs/PowerCutFileSystem.h"

using namespace install_test;

namespace {

// The policy, refusing to exchange two files where a scenario asks, as
// some file systems do: a run then moves each earlier copy to the backup.
class CutFileSystem : public PowerCutFileSystem {
public:
    ErrorCode ExchangeAt(FileHandle firstDirectory, const std::string& first,
                         FileHandle secondDirectory, const std::string& second) {
        if (s_refuseExchanges) {
            ++s_refusals;
            return kErrorNotSupported;
        }
        return PowerCutFileSystem::ExchangeAt(firstDirectory, first, secondDirectory, second);
    }
    static bool s_refuseExchanges;
    static std::atomic<int> s_refusals;
};
bool CutFileSystem::s_refuseExchanges = false;
std::atomic<int> CutFileSystem::s_refusals{0};

using CutKit = InstallData<LZCompressor, CutFileSystem>;
using CutData = BasicInstallProcessData<CutKit>;
using CutWorker = InstallWorker<CutFileSystem>;

// Files replacing older ones in nested existing folders, one of them
// damaged (the record's time, another size), one up to date.
void ReplacingTree(const std::string& target) {
    WriteFile(target + "/a.cfg", "old a", kBaseSeconds - 100);
    WriteFile(target + "/sub/deep/b.cfg", "old b, longer than the new one", kBaseSeconds - 5);
    WriteFile(target + "/sub/c.cfg", "cut", kBaseSeconds);
    WriteFile(target + "/sub/keep.cfg", "newer", kBaseSeconds + 100);
}

std::vector<KitFile> ReplacingKit() {
    return {
        {"a.cfg", "kit a", kBaseSeconds},
        {"sub\\deep\\b.cfg", "kit b", kBaseSeconds},
        {"sub\\c.cfg", "kit c, whole", kBaseSeconds},
        {"sub\\keep.cfg", "kit keep", kBaseSeconds},
    };
}

// New files in new nested folders, beside a file of the user's.
void FreshTree(const std::string& target) {
    WriteFile(target + "/mine.txt", "the user's own", kBaseSeconds);
}

std::vector<KitFile> FreshKit() {
    return {
        {"n1\\n2\\x.cfg", "kit x", kBaseSeconds},
        {"n1\\y.cfg", "kit y", kBaseSeconds + 1},
        {"n3\\z.cfg", std::string(3000, 'z'), kBaseSeconds + 2},
    };
}

struct Scenario {
    const char* name;
    void (*tree)(const std::string& target);
    std::vector<KitFile> (*kit)();
    bool refuseExchanges;
};

const Scenario kScenarios[] = {
    {"replacing", &ReplacingTree, &ReplacingKit, false},
    {"replacingByMoves", &ReplacingTree, &ReplacingKit, true},
    {"fresh", &FreshTree, &FreshKit, false},
};

// Scenario, temporary directory held in memory, whole-file-system sync.
using Layout = std::tuple<int, bool, bool>;

class InstallPowerCutTest : public InstallDirsTest, public ::testing::WithParamInterface<Layout> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallDirsTest::SetUp());
        m_scenario = &kScenarios[std::get<0>(GetParam())];
        CutFileSystem::s_refuseExchanges = m_scenario->refuseExchanges;
        CutFileSystem::s_refusals = 0;
        ASSERT_EQ(BuildKit(m_kitPath, m_scenario->kit()), "");
        ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
    }

    void Reset() {
        std::filesystem::remove_all(m_target);
        std::filesystem::create_directories(m_target);
        m_scenario->tree(m_target);
        for (const std::string& name : ListDir(m_temp)) {
            std::filesystem::remove_all(m_temp + "/" + name);
        }
    }

    // Runs the worker with the power cut at operation cutAt (0: never),
    // recording under the test's roots until the session ends.
    ErrorCode RunCut(std::int64_t cutAt, std::int64_t* operations) {
        // One recording at a time: the last one ends before the next begins.
        m_session.reset();
        m_session = std::make_unique<PowerCutSession>(Roots());
        PowerCut::SetSyncFileSystemAvailable(std::get<2>(GetParam()));
        PowerCut::CutAt(cutAt);
        const ErrorCode code = Run();
        *operations = PowerCut::Operations();
        return code;
    }

    // The run without a cut, from the scenario's tree: the trees before and
    // after it in m_before and m_after, its operations in *total.
    void RunWhole(std::int64_t* total) {
        Reset();
        m_before = Snapshot(m_target);
        ASSERT_EQ(RunCut(0, total), kErrorSuccess);
        m_session.reset();
        m_after = Snapshot(m_target);
    }

    std::vector<PowerCut::Root> Roots() const {
        return {{m_target, true}, {m_temp, !std::get<1>(GetParam())}};
    }

    ErrorCode Run() {
        m_data.SetInstallData(&m_kit, U16(m_target));
        CutWorker worker;
        worker.SetFinishPause(std::chrono::milliseconds(0));
        return worker.Run(&m_data);
    }

    // What every start after a cut must leave, and, with reinstall, a run
    // after it.
    void ExpectRecovered(bool installed, bool reinstall = true) {
        FileSystem fileSystem;
        const std::vector<stdx::u16string> locations = {U16(m_target)};
        const RecoveryResult result = run_recovery::RecoverRuns(fileSystem, locations, nullptr);
        EXPECT_TRUE(result.keptBackups.empty());
        EXPECT_TRUE(result.refused.empty());
        const Tree now = Snapshot(m_target);
        if (installed) {
            EXPECT_EQ(now, m_after) << "a cut after success lost the installation";
        } else {
            EXPECT_TRUE(now == m_before || now == m_after) << "a third outcome";
        }

        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
        EXPECT_TRUE(EntriesWithPrefix(m_target, ".qa-").empty());
        EXPECT_FALSE(run_recovery::HasDeadRuns(fileSystem, locations));
        if (!reinstall) {
            return;
        }
        EXPECT_EQ(Run(), kErrorSuccess);
        EXPECT_EQ(Snapshot(m_target), m_after);
        EXPECT_TRUE(EntriesWithPrefix(m_target, ".qa-").empty());
    }

    std::unique_ptr<PowerCutSession> m_session;
    const Scenario* m_scenario = nullptr;
    CutKit m_kit;
    CutData m_data;
    Tree m_before;
    Tree m_after;
};

TEST_P(InstallPowerCutTest, EveryCutEndsBeforeOrInstalled) {
    std::int64_t total = 0;
    ASSERT_NO_FATAL_FAILURE(RunWhole(&total));
    ASSERT_NE(m_after, m_before);
    ASSERT_GT(total, 10);
    EXPECT_EQ(CutFileSystem::s_refusals > 0,
              m_scenario->refuseExchanges && fs_features::kExchangeRename);

    int restored = 0;
    for (std::int64_t n = 1; n <= total + 1; ++n) {
        SCOPED_TRACE("power cut at operation " + std::to_string(n) + " of " +
                     std::to_string(total));
        Reset();
        std::int64_t operations = 0;
        // A run cut while it removes what it no longer needs, after its
        // "complete" was durable, goes on to report success (nothing it
        // does then can fail): it must come back installed, as one cut
        // after its end.
        const bool succeeded = RunCut(n, &operations) == kErrorSuccess;
        EXPECT_TRUE(succeeded || n <= total);
        for (std::uint32_t seed = 1; seed <= 4; ++seed) {
            SCOPED_TRACE("seed " + std::to_string(seed));
            PowerCut::Rebuild(seed);
            restored += Snapshot(m_target) != m_after ? 1 : 0;
            ExpectRecovered(succeeded);
            if (HasFailure()) {
                return;
            }
        }
        m_session.reset();
    }
    // Cuts before the run was complete came back as before.
    EXPECT_GT(restored, 0);
}

// The power may go again while a start undoes or finishes a cut run: the
// start after that must still end before or installed. Each cut of the run
// is made once; the disk it leaves is stored again before each cut of its
// recovery. Reinstalling after a cut is the test above's. Over every
// scenario, but two layouts: the journal in the temporary directory with a
// sync per file and folder, and beside the template directory with one
// sync of the whole file system.
class InstallPowerCutRecoveryTest : public InstallPowerCutTest {};

TEST_P(InstallPowerCutRecoveryTest, ACutDuringTheRecoveryIsRecoveredByTheNextStart) {
    std::int64_t total = 0;
    ASSERT_NO_FATAL_FAILURE(RunWhole(&total));

    int recoveriesCut = 0;
    for (std::int64_t n = 1; n <= total; ++n) {
        SCOPED_TRACE("power cut at operation " + std::to_string(n) + " of the run");
        m_session.reset();
        Reset();
        std::int64_t operations = 0;
        const bool succeeded = RunCut(n, &operations) == kErrorSuccess;
        const power_cut::DiskState cut = PowerCut::Replay(static_cast<std::uint32_t>(n));
        for (std::int64_t m = 1;; ++m) {
            SCOPED_TRACE("and at operation " + std::to_string(m) + " of its recovery");
            PowerCut::Store(cut);
            m_session.reset();
            m_session = std::make_unique<PowerCutSession>(Roots());
            PowerCut::SetSyncFileSystemAvailable(std::get<2>(GetParam()));
            PowerCut::CutAt(m);
            CutFileSystem fileSystem;
            run_recovery::RecoverRuns(fileSystem, {U16(m_target)}, nullptr);
            if (!PowerCut::CutReached()) {
                break;
            }
            PowerCut::Rebuild(static_cast<std::uint32_t>(m));
            ++recoveriesCut;
            ExpectRecovered(succeeded, false);
            if (HasFailure()) {
                return;
            }
        }
    }
    EXPECT_GT(recoveriesCut, 0);
}

std::string LayoutName(const ::testing::TestParamInfo<Layout>& info) {
    return std::string(kScenarios[std::get<0>(info.param)].name) +
           (std::get<1>(info.param) ? "_TempInMemory" : "_TempOnDisk") +
           (std::get<2>(info.param) ? "_SyncFs" : "_SyncEach");
}

INSTANTIATE_TEST_SUITE_P(Layouts, InstallPowerCutTest,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Bool(),
                                            ::testing::Bool()),
                         LayoutName);

INSTANTIATE_TEST_SUITE_P(Layouts, InstallPowerCutRecoveryTest,
                         ::testing::Values(Layout(0, false, false), Layout(0, true, true),
                                           Layout(1, false, false), Layout(1, true, true),
                                           Layout(2, false, false), Layout(2, true, true)),
                         LayoutName);

}  // namespace
