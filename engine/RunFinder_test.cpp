// What a start trusts of the runs it finds: only run directories, journals
// and backups that are the user's own and private are obeyed, and an undo
// never follows a link, whatever the journal says.

#include "engine/RunFinder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/InstallTestSupport.h"
#include "engine/RunJournal.h"
#include "engine/RunRecovery.h"

using namespace install_test;

namespace {

constexpr uid_t kOtherUser = 65534;

// A template directory with files a run could harm, and a run directory
// planted beside them whose journal asks for every kind of change: a
// directory to remove, a file to remove, a file to restore from the backup,
// one to overwrite, one whose earlier copy an exchange left in the stage,
// and, with `complete`, the backup to drop.
class PlantedRunTest : public InstallDirsTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallDirsTest::SetUp());
        WriteFile(m_target + "/victim.cfg", "the user's file", kBaseSeconds);
        WriteFile(m_target + "/sub/other.cfg", "another of the user's", kBaseSeconds);
        std::filesystem::create_directories(m_target + "/empty");
    }

    // The planted run directory: hidden in the template directory, or in
    // the temporary directory, or at `at`.
    std::string Plant(bool hidden, bool complete, const std::string& at = std::string()) {
        const std::string runDir = !at.empty() ? at
                                   : hidden    ? m_target + "/.qa-0123456789abcdef.run"
                                               : m_temp + "/qrstp7";
        const std::string backup = runDir + "/files";
        std::filesystem::create_directories(backup + "/sub");
        WriteFile(backup + "/victim.cfg", "planted over the user's file", kBaseSeconds);
        WriteFile(backup + "/sub/other.cfg", "planted too", kBaseSeconds);
        run_journal::Header header;
        header.targetDir = U16(m_target + "/");
        header.backupDir = U16(backup + "/");
        header.tag = u"0123456789abcdef";
        std::string journal = run_journal::EncodeHeader(header);
        const std::vector<std::pair<run_journal::Step, std::string>> entries = {
            {run_journal::Step::Directory, m_target + "/empty"},
            {run_journal::Step::NewFile, "victim.cfg"},
            {run_journal::Step::Replace, "sub/other.cfg"},
            {run_journal::Step::Overwrite, "victim.cfg"},
        };
        for (const auto& entry : entries) {
            journal += run_journal::EncodeEntry({entry.first, U16(entry.second)});
        }
        // Not the staged copy the entry describes: an undo would put it in
        // place of the user's file.
        WriteFile(runDir + "/stage/0/4", "planted in the stage", kBaseSeconds - 100);
        run_journal::Entry exchange{run_journal::Step::Exchange, u"victim.cfg"};
        exchange.stage = u"0/4";
        exchange.seconds = kBaseSeconds;
        exchange.size = 3;
        journal += run_journal::EncodeEntry(exchange);
        if (complete) {
            journal += run_journal::EncodeEntry({run_journal::Step::Complete, u""});
        }
        WriteFile(runDir + "/journal", journal);
        for (const std::string& directory :
             {runDir, backup, backup + "/sub", runDir + "/stage", runDir + "/stage/0"}) {
            ::chmod(directory.c_str(), 0700);
        }
        ::chmod((runDir + "/journal").c_str(), 0600);
        return runDir;
    }

    RecoveryResult Recover() {
        FileSystem fileSystem;
        return run_recovery::RecoverRuns(fileSystem, {U16(m_target)}, nullptr);
    }
};

// Each way a run directory is not the user's own alone, for a hidden run
// and one in the temporary directory, complete or not: nothing is done,
// and the run directory is reported.
TEST_F(PlantedRunTest, ForeignOrSharedRunsAreLeftAlone) {
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<void(const std::string& runDir)> spoil;
    };
    const Case cases[] = {
        {"run directory of another user", true,
         [](const std::string& run) { ASSERT_EQ(::lchown(run.c_str(), kOtherUser, -1), 0); }},
        {"journal of another user", true,
         [](const std::string& run) {
             ASSERT_EQ(::lchown((run + "/journal").c_str(), kOtherUser, -1), 0);
         }},
        {"backup of another user", true,
         [](const std::string& run) {
             ASSERT_EQ(::lchown((run + "/files").c_str(), kOtherUser, -1), 0);
         }},
        {"run directory others may write", false,
         [](const std::string& run) { ASSERT_EQ(::chmod(run.c_str(), 0770), 0); }},
        {"journal others may write", false,
         [](const std::string& run) { ASSERT_EQ(::chmod((run + "/journal").c_str(), 0602), 0); }},
        {"backup others may write", false,
         [](const std::string& run) { ASSERT_EQ(::chmod((run + "/files").c_str(), 0720), 0); }},
        {"journal that is a link", false,
         [](const std::string& run) {
             std::filesystem::rename(run + "/journal", run + "/real");
             ASSERT_EQ(::symlink((run + "/real").c_str(), (run + "/journal").c_str()), 0);
         }},
    };
    for (const Case& c : cases) {
        for (const bool hidden : {true, false}) {
            for (const bool complete : {false, true}) {
                SCOPED_TRACE(std::string(c.what) + (hidden ? ", hidden" : ", in TMPDIR") +
                             (complete ? ", complete" : ""));
                if (c.needsRoot && !root) {
                    continue;
                }
                const std::string runDir = Plant(hidden, complete);
                c.spoil(runDir);
                const Tree target = Snapshot(m_target);
                const Tree run = Snapshot(runDir);
                const RecoveryResult result = Recover();
                EXPECT_EQ(result.restored + result.completed, 0);
                ASSERT_EQ(result.refused.size(), 1u);
                EXPECT_EQ(U8(result.refused.front()), runDir);
                EXPECT_EQ(Snapshot(m_target), target);
                EXPECT_EQ(Snapshot(runDir), run);
                std::filesystem::remove_all(runDir);
            }
        }
    }
}

// A hidden run may speak only of its own folder: one whose journal names
// another template directory is not obeyed.
TEST_F(PlantedRunTest, HiddenRunNamingAnotherDirectoryIsLeftAlone) {
    const std::string elsewhere = m_root.path() + "/elsewhere";
    const std::string runDir = elsewhere + "/.qa-0123456789abcdef.run";
    std::filesystem::create_directories(elsewhere);
    Plant(true, false, runDir);
    const Tree before = Snapshot(m_target);
    FileSystem fileSystem;
    const RecoveryResult result =
        run_recovery::RecoverRuns(fileSystem, {U16(m_target), U16(elsewhere)}, nullptr);
    EXPECT_EQ(result.restored, 0);
    ASSERT_EQ(result.refused.size(), 1u);
    EXPECT_EQ(Snapshot(m_target), before);
}

// The user's own run is obeyed, but an undo walks every level itself: a
// link put in place of a folder after the run leads nowhere, so nothing
// outside the template directory is removed, restored over or emptied.
TEST_F(PlantedRunTest, UndoNeverFollowsALinkInPlaceOfAFolder) {
    const std::string outside = m_root.path() + "/outside";
    WriteFile(outside + "/other.cfg", "outside the template directory", kBaseSeconds);
    WriteFile(outside + "/victim.cfg", "outside too", kBaseSeconds);
    std::filesystem::create_directories(outside + "/empty");
    std::filesystem::remove_all(m_target + "/sub");
    ASSERT_EQ(::symlink(outside.c_str(), (m_target + "/sub").c_str()), 0);
    const std::string runDir = Plant(true, false);
    // Entries below the link: a new file, a directory, and the backup of
    // sub/other.cfg (planted) to be restored through it.
    run_journal::Entry file{run_journal::Step::NewFile, u"sub/victim.cfg"};
    run_journal::Entry level{run_journal::Step::Directory, U16(m_target + "/sub/empty")};
    std::string journal = ReadFile(runDir + "/journal");
    journal += run_journal::EncodeEntry(file) + run_journal::EncodeEntry(level);
    WriteFile(runDir + "/journal", journal);
    ::chmod((runDir + "/journal").c_str(), 0600);
    const Tree outsideBefore = Snapshot(outside);

    const RecoveryResult result = Recover();
    EXPECT_TRUE(result.refused.empty());
    EXPECT_EQ(Snapshot(outside), outsideBefore);
    // What could not be put back through the link stays in the backup.
    EXPECT_EQ(result.keptBackups.size(), 1u);
    EXPECT_EQ(ReadFile(runDir + "/files/sub/other.cfg"), "planted too");
}

}  // namespace
