// A run killed at any file-system operation, during its work, its rollback
// or a recovery, is finished by the next recovery: the template directory
// then holds exactly what it held before the run or the fully installed
// tree, and nothing of the run is left anywhere. Each kill is real: a forked
// child installs and raises SIGKILL at the chosen operation.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/InstallRecovery.h"
#include "engine/InstallTestSupport.h"
#include "engine/RunRecovery.h"
#include "engine/fs/FileSystemFeatures.h"

using namespace install_test;

namespace {

// The number of the last operation of one name that a fault schedule's hook
// saw.
struct LastNamed {
    std::string operation;
    std::int64_t number = 0;
    static void Hook(std::int64_t number, const char* operation, void* context) {
        LastNamed* last = static_cast<LastNamed*>(context);
        if (last->operation == operation) {
            last->number = number;
        }
    }
};

// Replaces files in nested existing directories, adds one to an existing
// directory and one in new nested directories, and skips a newer one.
void WriteInstalledTree(const std::string& target) {
    std::filesystem::remove_all(target);
    std::filesystem::create_directories(target);
    WriteFile(target + "/top.cfg", "installed top", kBaseSeconds - 100);
    WriteFile(target + "/sub/deep/two.cfg", "installed two", kBaseSeconds - 5000);
    WriteFile(target + "/sub/keep.cfg", "installed newer", kBaseSeconds + 100);
}

std::vector<KitFile> SmallKit() {
    return {
        {"top.cfg", "kit top", kBaseSeconds},
        {"sub\\deep\\two.cfg", "kit two", kBaseSeconds},
        {"sub\\added.cfg", "kit added", kBaseSeconds},
        {"fresh\\nested\\x.cfg", "kit x", kBaseSeconds + 1},
        {"sub\\keep.cfg", "kit keep (older)", kBaseSeconds},
    };
}

void KillAt(std::int64_t number, const char*, void* context) {
    if (number == *static_cast<std::int64_t*>(context)) {
        raise(SIGKILL);
    }
}

// Runs body in a forked child whose file-system operations are counted
// from its start, operation failAt failing (0: none); the child kills itself
// before operation killAt. True when it died that way, false when it ended
// before reaching it.
template <class Body>
bool InChildKilledAt(std::int64_t killAt, Body body, std::int64_t failAt = 0) {
    const pid_t child = fork();
    if (child == 0) {
        FaultSchedule::SetHook(&KillAt, &killAt);
        FaultSchedule::Arm(failAt);
        body();
        _exit(0);
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

struct CountingSink : InstallEventSink {
    int rollbacks = 0;
    void OnFileAction(const stdx::u16string&, FileAction) override {}
    void OnRollback(int, int) override { ++rollbacks; }
};

class InstallRecoveryTest : public InstallDirsTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallDirsTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(PlaceTarget());
        if (IsSkipped()) {
            return;
        }
        ASSERT_EQ(BuildKit(m_kitPath, SmallKit()), "");
        ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
        WriteInstalledTree(m_target);
        m_before = Snapshot(m_target);
        FaultyWorker worker;
        const RunResult reference = RunArmed(m_kit, m_data, m_target, 0, nullptr, nullptr, &worker);
        ASSERT_EQ(reference.code, kErrorSuccess);
        m_backupDir = U8(worker.Entries().back().m_backupDir);
        m_after = Snapshot(m_target);
        m_operations = reference.operations;
        WriteInstalledTree(m_target);
    }

    // Where the template directory lies: beside the temporary directory.
    virtual void PlaceTarget() {}

    // Kills a run at every operation in turn and recovers after each. With
    // two writers a run's operations come in another order each time, and
    // their number may differ by a few (levels both writers try to make).
    void KillAtEveryOperation() {
        if (m_writers > 1) {
            FaultyWorker worker;
            worker.SetWriters(m_writers);
            const RunResult reference =
                RunArmed(m_kit, m_data, m_target, 0, nullptr, nullptr, &worker);
            ASSERT_EQ(reference.code, kErrorSuccess);
            ASSERT_EQ(Snapshot(m_target), m_after);
            m_operations = reference.operations;
            WriteInstalledTree(m_target);
        }
        const std::int64_t slack = m_writers > 1 ? 4 : 0;
        int restored = 0;
        int completed = 0;
        for (std::int64_t n = 1; n <= m_operations + 1 + slack; ++n) {
            SCOPED_TRACE("killed at operation " + std::to_string(n));
            const bool killed = InstallKilledAt(n, m_kit);
            if (!killed) {
                EXPECT_GT(n, m_operations - slack);
                break;
            }
            const RecoveryResult result = Recover();
            EXPECT_TRUE(result.keptBackups.empty());
            restored += result.restored;
            completed += result.completed;
            ExpectFinished(true);
            if (HasFailure()) {
                return;
            }
        }
        // Both outcomes occur: kills before the run was complete and after.
        EXPECT_GT(restored, 10);
        EXPECT_GE(completed, 1);
        EXPECT_EQ(m_sink.rollbacks, restored);
    }

    // Installs in a child killed before operation number killAt, operation
    // failAt failing (0: none).
    bool InstallKilledAt(std::int64_t killAt, FaultyKit& kit, std::int64_t failAt = 0) {
        return InChildKilledAt(
            killAt,
            [&] {
                FaultyWorker worker;
                worker.SetFinishPause(std::chrono::milliseconds(0));
                worker.SetWriters(m_writers);
                m_data.SetInstallData(&kit, U16(m_target));
                worker.Run(&m_data);
            },
            failAt);
    }

    // The number of the last operation named `name` in a successful run.
    std::int64_t LastOperation(const char* name) {
        LastNamed last;
        last.operation = name;
        EXPECT_EQ(RunArmed(m_kit, m_data, m_target, 0, &LastNamed::Hook, &last).code,
                  kErrorSuccess);
        WriteInstalledTree(m_target);
        return last.number;
    }

    // The template locations a start knows of.
    std::vector<stdx::u16string> Locations() const { return {U16(m_target)}; }

    RecoveryResult Recover() {
        FileSystem fileSystem;
        return run_recovery::RecoverRuns(fileSystem, Locations(), &m_sink);
    }

    // What every recovery must leave: one of the two trees, nothing of any
    // run in the temporary directory, and a tree that a new run completes.
    void ExpectFinished(bool allowInstalled) {
        const Tree now = Snapshot(m_target);
        if (allowInstalled) {
            EXPECT_TRUE(now == m_before || now == m_after) << "a third outcome";
        } else {
            EXPECT_TRUE(now == m_before) << "not restored";
        }
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
        EXPECT_FALSE(HasInterruptedRuns(Locations()));
        EXPECT_EQ(RunArmed(m_kit, m_data, m_target, 0).code, kErrorSuccess);
        EXPECT_EQ(Snapshot(m_target), m_after);
        WriteInstalledTree(m_target);
    }

    FaultyKit m_kit;
    FaultyData m_data;
    CountingSink m_sink;
    Tree m_before;
    Tree m_after;
    std::string m_backupDir;
    std::int64_t m_operations = 0;
    std::size_t m_writers = 1;
};

TEST_F(InstallRecoveryTest, KillAtEveryOperationIsFinishedByTheNextStart) {
    KillAtEveryOperation();
}

TEST_F(InstallRecoveryTest, KillAtEveryOperationOfATwoWriterRunIsFinishedByTheNextStart) {
    m_writers = 2;
    KillAtEveryOperation();
}

// The template directory on a tmpfs of its own, in a private mount
// namespace: the backups then live in a hidden directory inside it.
class InstallRecoveryAcrossDevicesTest : public InstallRecoveryTest {
protected:
    void PlaceTarget() override {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            GTEST_SKIP() << "cross-device case skipped: needs root to mount a tmpfs";
        }
        m_mountPoint = m_root / "other-device";
        std::filesystem::create_directories(m_mountPoint);
        if (mount("recovery-test", m_mountPoint.c_str(), "tmpfs", 0, "size=16m") != 0) {
            GTEST_SKIP() << "cross-device case skipped: cannot mount a tmpfs";
        }
        m_mounted = true;
        m_target = m_mountPoint + "/templates";
    }
    void TearDown() override {
        if (m_mounted) {
            umount2(m_mountPoint.c_str(), MNT_DETACH);
        }
    }

    std::string m_mountPoint;
    bool m_mounted = false;
};

TEST_F(InstallRecoveryAcrossDevicesTest, KillAtEveryOperationRestoresFromTheHiddenBackup) {
    ASSERT_EQ(m_backupDir.compare(0, m_target.size() + 5, m_target + "/.qa-"), 0) << m_backupDir;
    KillAtEveryOperation();
}

// The run fails as it puts its last file in place, after it backed up two
// files, and is killed during its rollback.
TEST_F(InstallRecoveryTest, KillDuringTheRollbackOfAFailedRunIsUndoneByTheNextStart) {
    const std::int64_t lastPut = LastOperation("RenameAt");
    ASSERT_GT(lastPut, 0);
    const RunResult reference = RunArmed(m_kit, m_data, m_target, lastPut);
    ASSERT_NE(reference.code, kErrorSuccess);
    ASSERT_EQ(Snapshot(m_target), m_before);

    for (std::int64_t n = lastPut; n <= reference.operations + 1; ++n) {
        SCOPED_TRACE("killed at operation " + std::to_string(n));
        if (!InstallKilledAt(n, m_kit, lastPut)) {
            EXPECT_GT(n, reference.operations);
            break;
        }
        Recover();
        ExpectFinished(false);
        if (HasFailure()) {
            return;
        }
    }
}

TEST_F(InstallRecoveryTest, KilledRecoveryIsFinishedByTheNextOne) {
    // Killed after the last backup but before the run was complete: the
    // recovery then has backups to restore and files and directories to
    // remove.
    const std::int64_t runKill = m_operations - 8;
    std::int64_t recoveryOperations = 0;
    {
        ASSERT_TRUE(InstallKilledAt(runKill, m_kit));
        FaultInjectingFileSystem fileSystem;
        FaultSchedule::Arm(0);
        const RecoveryResult result = run_recovery::RecoverRuns(fileSystem, Locations(), nullptr);
        recoveryOperations = FaultSchedule::Operations();
        FaultSchedule::Disarm();
        ASSERT_EQ(result.restored, 1);
        ASSERT_EQ(Snapshot(m_target), m_before);
        ASSERT_GT(recoveryOperations, 10);
    }
    for (std::int64_t m = 1; m <= recoveryOperations; ++m) {
        SCOPED_TRACE("recovery killed at operation " + std::to_string(m));
        WriteInstalledTree(m_target);
        ASSERT_TRUE(InstallKilledAt(runKill, m_kit));
        InChildKilledAt(m, [this] {
            FaultInjectingFileSystem fileSystem;
            run_recovery::RecoverRuns(fileSystem, Locations(), nullptr);
        });
        Recover();
        ExpectFinished(false);
        if (HasFailure()) {
            return;
        }
    }
}

TEST_F(InstallRecoveryTest, RunOfALiveInstallerIsLeftAlone) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    // The child stops in the middle of its run and waits to be killed.
    struct Pause {
        std::int64_t at;
        int fd;
        static void Hook(std::int64_t number, const char*, void* context) {
            Pause* pause = static_cast<Pause*>(context);
            if (number == pause->at) {
                const char byte = 1;
                (void)!write(pause->fd, &byte, 1);
                for (;;) {
                    ::pause();
                }
            }
        }
    } hold{m_operations - 8, ready[1]};
    const pid_t child = fork();
    if (child == 0) {
        FaultSchedule::SetHook(&Pause::Hook, &hold);
        FaultSchedule::Arm(0);
        FaultyWorker worker;
        m_data.SetInstallData(&m_kit, U16(m_target));
        worker.Run(&m_data);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    const Tree during = Snapshot(m_target);
    ASSERT_NE(during, m_before);

    EXPECT_FALSE(HasInterruptedRuns(Locations()));
    const RecoveryResult live = Recover();
    EXPECT_EQ(live.restored + live.completed, 0);
    EXPECT_EQ(Snapshot(m_target), during);
    EXPECT_EQ(EntriesWithPrefix(m_temp, "qrstp").size(), 1u);

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_TRUE(HasInterruptedRuns(Locations()));
    EXPECT_EQ(Recover().restored, 1);
    ExpectFinished(false);
}

// A rollback that cannot finish keeps the backup and the journal, names
// the backup for the user, and the next start restores from it. The run
// fails as it puts its last file in place, after backing up two files;
// then a restore move fails (the rollback's last rename), or the journal
// cannot be read back (the rollback's open of it). The user is shown the
// backup directory, or the run directory when earlier copies that were
// exchanged with their replacements may still lie in its stage.
TEST_F(InstallRecoveryTest, UnfinishedRollbackKeepsTheBackupUntilTheNextStart) {
    const std::int64_t lastPut = LastOperation("RenameAt");
    // One restore fails and one file stays, or nothing is restored and both
    // stay.
    const std::vector<std::pair<std::string, int>> cases = {{"RenameAt", 1}, {"Open", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        LastNamed last;
        last.operation = c.first;
        ASSERT_NE(RunArmed(m_kit, m_data, m_target, lastPut, &LastNamed::Hook, &last).code,
                  kErrorSuccess);
        ASSERT_GT(last.number, lastPut);
        WriteInstalledTree(m_target);

        FaultyWorker worker;
        const RunResult result =
            RunArmed(m_kit, m_data, m_target, lastPut, nullptr, nullptr, &worker, last.number);
        ASSERT_TRUE(result.injected);
        const std::string kept = U8(m_data.KeptBackup());
        const BackupEntry& run = worker.Entries().back();
        const bool inStage = fs_features::kExchangeRename && c.first == "Open";
        EXPECT_EQ(kept, U8(inStage ? run.m_runDir : run.m_backupDir));
        int keptFiles = 0;
        for (const auto& entry : Snapshot(kept)) {
            keptFiles +=
                entry.second.bytes == "installed top" || entry.second.bytes == "installed two" ? 1
                                                                                               : 0;
        }
        EXPECT_EQ(keptFiles, c.second) << "the files not moved back";
        EXPECT_NE(Snapshot(m_target), m_before);
        EXPECT_TRUE(HasInterruptedRuns(Locations()));

        const RecoveryResult recovered = Recover();
        EXPECT_EQ(recovered.restored, 1);
        EXPECT_TRUE(recovered.keptBackups.empty());
        ExpectFinished(false);
    }
}

}  // namespace
