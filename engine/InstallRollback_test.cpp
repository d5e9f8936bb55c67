// Every failure and every cancel of a run leaves the template directory as
// it was: proven by failing each file-system operation of a representative
// run in turn, and by cancelling before each one, on one file system and
// across two.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/InstallTestSupport.h"
#include "engine/fs/FileSystemFeatures.h"
#include "text/Languages.h"

using namespace install_test;

namespace {

// Replaces older files in nested existing directories, adds files to
// existing directories and adds files in new nested directories; skips
// files that are as new or newer.
void WriteInstalledTree(const std::string& target) {
    std::filesystem::create_directories(target);
    WriteFile(target + "/top.cfg", "installed top", kBaseSeconds - 100);
    WriteFile(target + "/sub/one.cfg", "installed one", kBaseSeconds - 100);
    WriteFile(target + "/sub/deep/two.cfg", "installed two, longer than the new one",
              kBaseSeconds - 5000);
    WriteFile(target + "/sub/deep/three.cfg", "installed three", kBaseSeconds - 1);
    WriteFile(target + "/sub/keep.cfg", "installed newer", kBaseSeconds + 100);
    WriteFile(target + "/sub/same.cfg", "old same", kBaseSeconds);
    WriteFile(target + "/sub/deep/user.txt", "not in the kit", kBaseSeconds - 7);
    std::filesystem::create_directories(target + "/emptydir");
}

std::vector<KitFile> RepresentativeKit() {
    return {
        {"top.cfg", "kit top", kBaseSeconds},
        {"fresh\\nested\\x.cfg", "kit x", kBaseSeconds + 1},
        {"sub\\one.cfg", "kit one", kBaseSeconds},
        {"sub\\added.cfg", "kit added", kBaseSeconds},
        {"sub\\deep\\two.cfg", "kit two", kBaseSeconds},
        {"sub\\keep.cfg", "kit keep (older)", kBaseSeconds},
        {"sub\\same.cfg", "kit same", kBaseSeconds},
        {"emptydir\\new.cfg", "kit new", kBaseSeconds},
        {"sub\\deep\\three.cfg", "kit three", kBaseSeconds},
        {"fresh\\nested\\y.cfg", "kit y", kBaseSeconds + 2},
        {"fresh\\z.cfg", "kit z", kBaseSeconds + 3},
        // More than the kit's copy buffer, so it takes several copies.
        {"sub\\deep\\more\\big.bin", std::string(1024 * 1024 + 4096, 'b'), kBaseSeconds},
        {"sub\\zero.cfg", "", kBaseSeconds},
    };
}

// Watches the shared status before every operation of a run: a final status
// (an error code or 100) must not be visible while the run still reaches the
// disk, that is before its rollback is over. Optionally cancels before
// operation number cancelAt.
// Atomic: with two writers the operations come from two threads.
struct RunWatch {
    FaultyData* data = nullptr;
    std::int64_t cancelAt = 0;
    std::atomic<int> earlyFinalStatus{0};
    std::atomic<std::int32_t> lastPercent{0};

    static void Hook(std::int64_t number, const char*, void* context) {
        RunWatch* watch = static_cast<RunWatch*>(context);
        ErrorCode code = 0;
        std::int32_t percent = 0;
        watch->data->GetStatus(&code, nullptr, &percent);
        if (code != kErrorSuccess || percent == 100) {
            ++watch->earlyFinalStatus;
        } else {
            watch->lastPercent = percent;
        }
        if (number == watch->cancelAt) {
            watch->data->Cancel();
        }
    }
};

// The threads that reached the disk during a run.
struct ThreadsSeen {
    std::mutex mutex;
    std::set<std::thread::id> threads;

    static void Hook(std::int64_t, const char*, void* context) {
        ThreadsSeen* seen = static_cast<ThreadsSeen*>(context);
        std::lock_guard<std::mutex> lock(seen->mutex);
        seen->threads.insert(std::this_thread::get_id());
    }
};

class InstallRollbackTest : public InstallDirsTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallDirsTest::SetUp());
        ASSERT_EQ(BuildKit(m_kitPath, RepresentativeKit()), "");
        ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
    }

    void ResetTree(const std::string& target) {
        std::filesystem::remove_all(target);
        WriteInstalledTree(target);
    }

    // A fault-free run from the installed tree: the tree every successful
    // run must leave, and the number of operations to go through.
    void Reference(const std::string& target, std::size_t writers, Tree* after,
                   std::int64_t* operations) {
        ResetTree(target);
        FaultyWorker worker;
        worker.SetWriters(writers);
        ThreadsSeen seen;
        const RunResult result =
            RunArmed(m_kit, m_data, target, 0, &ThreadsSeen::Hook, &seen, &worker);
        ASSERT_EQ(result.code, kErrorSuccess);
        // Two writers really share the work, each on a thread of its own.
        EXPECT_EQ(seen.threads.size(), writers == 1 ? 1u : writers + 1);
        // The scenario really backs files up, adds new ones and makes dirs.
        const BackupEntry& entry = worker.Entries().back();
        ASSERT_EQ(entry.m_backedUpFiles.size(), 4u);
        ASSERT_EQ(entry.m_newFileCount, 7u);
        ASSERT_EQ(entry.m_createdDirs.size(), 3u);
        *after = Snapshot(target);
        *operations = result.operations;
        ASSERT_GT(*operations, 50);
    }

    // Fails each operation of the run in turn (or, with cancel set, cancels
    // before each one) and checks what every run leaves behind. With two
    // writers the numbering of operations differs from run to run; every
    // outcome must still be one of the two trees.
    void EveryOperation(const std::string& target, bool cancel, std::size_t writers = 1) {
        Tree after;
        std::int64_t operations = 0;
        Reference(target, writers, &after, &operations);
        int failed = 0;
        for (std::int64_t n = 1; n <= operations; ++n) {
            SCOPED_TRACE("operation " + std::to_string(n));
            ResetTree(target);
            const Tree before = Snapshot(target);
            RunWatch watch;
            watch.data = &m_data;
            watch.cancelAt = cancel ? n : 0;
            FaultyWorker worker;
            worker.SetWriters(writers);
            const RunResult result =
                RunArmed(m_kit, m_data, target, cancel ? 0 : n, &RunWatch::Hook, &watch, &worker);
            EXPECT_EQ(watch.earlyFinalStatus, 0) << "final status posted before the rollback ended";
            EXPECT_EQ(result.statusCode, result.code);
            if (result.code == kErrorSuccess) {
                EXPECT_EQ(result.percent, 100);
                EXPECT_EQ(Snapshot(target), after);
            } else {
                ++failed;
                EXPECT_EQ(Snapshot(target), before);
                if (cancel) {
                    EXPECT_EQ(result.code, kErrorCancelled);
                    EXPECT_EQ(result.statusText, LocalizedString("IDS_CANCEL_FINISH"));
                    // The walk posts statuses without reaching the disk, so
                    // with writers of their own it may post after the last
                    // operation was watched.
                    if (writers == 1) {
                        EXPECT_EQ(result.percent, watch.lastPercent);
                    } else {
                        EXPECT_GE(result.percent, watch.lastPercent);
                    }
                } else {
                    EXPECT_EQ(result.statusText, LocalizedString("IDS_INSTALL_ERROR"));
                }
            }
            EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
            EXPECT_TRUE(EntriesWithPrefix(m_temp, "pdk").empty());
            if (HasFailure()) {
                return;
            }
        }
        // Nearly every operation of the run can end it.
        EXPECT_GT(failed, operations / 2);
    }

    FaultyKit m_kit;
    FaultyData m_data;
};

TEST_F(InstallRollbackTest, EveryFailingOperationLeavesTheTemplateDirectoryAsItWas) {
    EveryOperation(m_target, false);
}

TEST_F(InstallRollbackTest, CancelBeforeEveryOperationLeavesTheTemplateDirectoryAsItWas) {
    EveryOperation(m_target, true);
}

TEST_F(InstallRollbackTest, EveryFailingOperationOfATwoWriterRunLeavesItAsItWas) {
    EveryOperation(m_target, false, 2);
}

TEST_F(InstallRollbackTest, CancelBeforeEveryOperationOfATwoWriterRunLeavesItAsItWas) {
    EveryOperation(m_target, true, 2);
}

// The directory that holds an earlier copy (the backup directory, or the
// stage after an exchange) is private: mode 0700, and (when the tests run
// as root) another user cannot read the earlier copy even where the
// temporary directory and the file itself are open to everyone.
TEST_F(InstallRollbackTest, BackupDirectoryIsPrivate) {
    ResetTree(m_target);
    for (const std::string& directory : {m_root.path(), m_temp, m_target}) {
        chmod(directory.c_str(), 0755);
    }
    chmod((m_target + "/top.cfg").c_str(), 0644);
    struct Probe {
        std::string temp;
        int backupMode = -1;
        int othersOpen = -2;
        int othersOpenPlain = -2;
        static void Hook(std::int64_t, const char*, void* context) {
            Probe* probe = static_cast<Probe*>(context);
            if (probe->backupMode >= 0) {
                return;
            }
            const std::string earlier = EarlierCopyIn(probe->temp + "/qrstp0", "installed top");
            const std::string backup = earlier.substr(0, earlier.rfind('/'));
            struct stat status;
            if (earlier.empty() || stat(backup.c_str(), &status) != 0) {
                return;
            }
            probe->backupMode = status.st_mode & 07777;
            if (geteuid() != 0) {
                return;
            }
            WriteFile(probe->temp + "/plain.txt", "open to all");
            chmod((probe->temp + "/plain.txt").c_str(), 0644);
            probe->othersOpen = OpenAsNobody(earlier);
            probe->othersOpenPlain = OpenAsNobody(probe->temp + "/plain.txt");
            unlink((probe->temp + "/plain.txt").c_str());
        }
        // 0 when the user nobody could open the file, else its errno.
        static int OpenAsNobody(const std::string& path) {
            const pid_t child = fork();
            if (child == 0) {
                if (setgid(65534) != 0 || setuid(65534) != 0) {
                    _exit(100);
                }
                const int fd = open(path.c_str(), O_RDONLY);
                _exit(fd >= 0 ? 0 : errno);
            }
            int status = 0;
            waitpid(child, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    } probe;
    probe.temp = m_temp;
    ASSERT_EQ(RunArmed(m_kit, m_data, m_target, 0, &Probe::Hook, &probe).code, kErrorSuccess);
    EXPECT_EQ(probe.backupMode, 0700);
    if (geteuid() != 0) {
        GTEST_SKIP() << "the unprivileged read needs root to switch users";
    }
    EXPECT_EQ(probe.othersOpenPlain, 0);
    EXPECT_EQ(probe.othersOpen, EACCES);
}

// A file system that cannot exchange two names, as some network file
// systems cannot.
class NoExchangeFileSystem : public FaultInjectingFileSystem {
public:
    ErrorCode ExchangeAt(FileHandle, const std::string&, FileHandle, const std::string&) {
        ++s_refusals;
        return kErrorNotSupported;
    }
    static std::atomic<int> s_refusals;
};
std::atomic<int> NoExchangeFileSystem::s_refusals{0};

// After the first refusal the run replaces files the other way, the
// earlier copy renamed into the backup and the new one into its place:
// the same tree when it succeeds, the tree before when its last rename
// fails.
TEST_F(InstallRollbackTest, WhereExchangesAreRefusedRunsMoveEarlierCopiesToTheBackup) {
    Tree installed;
    std::int64_t operations = 0;
    Reference(m_target, 1, &installed, &operations);
    using Kit = InstallData<LZCompressor, NoExchangeFileSystem>;
    Kit kit;
    ASSERT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
    struct LastRename {
        std::int64_t number = 0;
        static void Hook(std::int64_t number, const char* operation, void* context) {
            if (std::string(operation) == "RenameAt") {
                static_cast<LastRename*>(context)->number = number;
            }
        }
    } last;
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "its last rename failed" : "done");
        ResetTree(m_target);
        const Tree before = Snapshot(m_target);
        NoExchangeFileSystem::s_refusals = 0;
        BasicInstallProcessData<Kit> data;
        data.SetInstallData(&kit, U16(m_target));
        InstallWorker<NoExchangeFileSystem> worker;
        worker.SetFinishPause(std::chrono::milliseconds(0));
        FaultSchedule::SetHook(fail ? nullptr : &LastRename::Hook, &last);
        FaultSchedule::Arm(fail ? last.number : 0);
        const ErrorCode code = worker.Run(&data);
        FaultSchedule::Disarm();
        FaultSchedule::SetHook(nullptr, nullptr);
        EXPECT_EQ(NoExchangeFileSystem::s_refusals, fs_features::kExchangeRename ? 1 : 0);
        if (fail) {
            EXPECT_TRUE(FaultSchedule::Injected());
            EXPECT_NE(code, kErrorSuccess);
            EXPECT_EQ(Snapshot(m_target), before);
        } else {
            EXPECT_EQ(code, kErrorSuccess);
            EXPECT_EQ(worker.Entries().back().m_backedUpFiles.size(), 4u);
            EXPECT_EQ(Snapshot(m_target), installed);
        }
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    }
}

// Mounts a tmpfs of its own for the template directory, in a private mount
// namespace so that nothing of it outlives the test process.
class CrossDeviceTest : public InstallRollbackTest {
protected:
    void SetUp() override {
        InstallRollbackTest::SetUp();
        if (unshare(CLONE_NEWNS) != 0) {
            GTEST_SKIP() << "cross-device case skipped: needs root (CAP_SYS_ADMIN) to mount a "
                            "tmpfs; unshare(CLONE_NEWNS): "
                         << strerror(errno);
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            GTEST_SKIP() << "cross-device case skipped: cannot make mounts private: "
                         << strerror(errno);
        }
        m_mountPoint = m_root.path() + "/other-device";
        std::filesystem::create_directories(m_mountPoint);
        if (mount("engine-test", m_mountPoint.c_str(), "tmpfs", 0, "size=64m") != 0) {
            GTEST_SKIP() << "cross-device case skipped: cannot mount a tmpfs: " << strerror(errno);
        }
        m_mounted = true;
        struct stat target;
        struct stat temp;
        ASSERT_EQ(stat(m_mountPoint.c_str(), &target), 0);
        ASSERT_EQ(stat(m_temp.c_str(), &temp), 0);
        ASSERT_NE(target.st_dev, temp.st_dev);
    }
    void TearDown() override {
        if (m_mounted) {
            umount2(m_mountPoint.c_str(), MNT_DETACH);
        }
    }

    std::string m_mountPoint;
    bool m_mounted = false;
};

// Watches the backups while a run works: the hidden run directory that
// holds them, and whether a backed-up original lies there with its bytes
// and time.
struct BackupProbe {
    std::string target;
    std::string runDir;
    bool sawBackup = false;
    static void Hook(std::int64_t, const char*, void* context) {
        BackupProbe* probe = static_cast<BackupProbe*>(context);
        for (const std::string& name : EntriesWithPrefix(probe->target, ".qa-")) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".run") == 0) {
                probe->runDir = probe->target + "/" + name;
            }
        }
        if (!probe->sawBackup && !probe->runDir.empty()) {
            const std::string backup = EarlierCopyIn(probe->runDir, "installed top");
            probe->sawBackup = !backup.empty() && Mtime(backup) == kBaseSeconds - 100;
        }
    }
};

TEST_F(CrossDeviceTest, BackupsAreRenamesOnTheTemplatesOwnFileSystem) {
    const std::string target = m_mountPoint + "/templates";
    ResetTree(target);
    BackupProbe probe;
    probe.target = target;
    const RunResult result = RunArmed(m_kit, m_data, target, 0, &BackupProbe::Hook, &probe);
    ASSERT_EQ(result.code, kErrorSuccess);
    EXPECT_TRUE(probe.sawBackup);
    EXPECT_EQ(ReadFile(target + "/sub/deep/two.cfg"), "kit two");
    EXPECT_FALSE(Exists(probe.runDir));
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
}

// Fills the file system at the mount point, but for `leave` bytes.
void FillUp(const std::string& mountPoint, std::uint64_t leave) {
    struct statvfs space;
    ASSERT_EQ(statvfs(mountPoint.c_str(), &space), 0);
    const std::uint64_t freeBytes = space.f_bavail * space.f_frsize;
    ASSERT_GT(freeBytes, leave);
    std::ofstream filler(mountPoint + "/filler", std::ios::binary);
    const std::string block(1024 * 1024, 'f');
    std::uint64_t left = freeBytes - leave;
    while (left > 0) {
        const std::uint64_t piece = left < block.size() ? left : block.size();
        filler.write(block.data(), static_cast<std::streamsize>(piece));
        left -= piece;
    }
}

// With the template's file system full, the kit's large file cannot be
// written: the run fails before it changes anything. Filled once every
// file is written, the run still completes: putting files in place and
// backing up the earlier ones are renames, which need no space.
TEST_F(CrossDeviceTest, FullTemplateFileSystemChangesNothingOrCompletes) {
    const std::string target = m_mountPoint + "/templates";
    ResetTree(target);
    const Tree before = Snapshot(target);
    ASSERT_NO_FATAL_FAILURE(FillUp(m_mountPoint, 128 * 1024));
    FaultyWorker worker;
    const RunResult failed = RunArmed(m_kit, m_data, target, 0, nullptr, nullptr, &worker);
    EXPECT_NE(failed.code, kErrorSuccess);
    EXPECT_TRUE(worker.Entries().back().m_backedUpFiles.empty());
    EXPECT_TRUE(m_data.KeptBackup().empty());
    EXPECT_EQ(Snapshot(target), before);
    std::filesystem::remove(m_mountPoint + "/filler");

    struct FillAtFirstRename {
        std::string mountPoint;
        bool filled = false;
        static void Hook(std::int64_t, const char* operation, void* context) {
            auto* self = static_cast<FillAtFirstRename*>(context);
            if (!self->filled && std::string(operation) == "RenameAt") {
                self->filled = true;
                FillUp(self->mountPoint, 0);
            }
        }
    } fill{m_mountPoint};
    FaultyWorker second;
    const RunResult done =
        RunArmed(m_kit, m_data, target, 0, &FillAtFirstRename::Hook, &fill, &second);
    EXPECT_TRUE(fill.filled);
    EXPECT_EQ(done.code, kErrorSuccess);
    EXPECT_EQ(second.Entries().back().m_backedUpFiles.size(), 4u);
    EXPECT_EQ(ReadFile(target + "/sub/deep/two.cfg"), "kit two");
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    EXPECT_TRUE(EntriesWithPrefix(target, ".qa-").empty());
    std::filesystem::remove(m_mountPoint + "/filler");
}

TEST_F(CrossDeviceTest, EveryFailingOperationAcrossFileSystems) {
    EveryOperation(m_mountPoint + "/templates", false);
}

TEST_F(CrossDeviceTest, CancelBeforeEveryOperationAcrossFileSystems) {
    EveryOperation(m_mountPoint + "/templates", true);
}

}  // namespace
