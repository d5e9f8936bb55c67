#include "engine/InstallWorker.h"
#include "engine/RunNames.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/InstallTestSupport.h"
#include "engine/fs/FaultInjectingFileSystem.h"
#include "text/Languages.h"

using namespace install_test;

namespace {

class InstallWorkerTest : public InstallDirsTest {
protected:
    void TearDown() override {
        FaultSchedule::Disarm();
        FaultSchedule::SetHook(nullptr, nullptr);
    }

    // Builds and loads a kit of files, then runs one worker over it into
    // targetDir (the template directory when not given).
    template <class FS = FileSystem>
    ErrorCode Install(const std::vector<KitFile>& files, Status* status,
                      const std::string* targetDir = nullptr, bool cancelFirst = false,
                      InstallWorker<FS>* worker = nullptr) {
        const std::string error = BuildKit(m_kitPath, files);
        EXPECT_EQ(error, "");
        InstallData<LZCompressor, FS> kit;
        EXPECT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
        BasicInstallProcessData<InstallData<LZCompressor, FS>> data;
        data.Init();
        data.SetInstallData(&kit, U16(targetDir != nullptr ? *targetDir : m_target));
        if (cancelFirst) {
            data.Cancel();
        }
        InstallWorker<FS> local;
        InstallWorker<FS>& used = worker != nullptr ? *worker : local;
        used.SetFinishPause(std::chrono::milliseconds(0));
        const ErrorCode code = used.Run(&data);
        *status = ReadStatus(data);
        return code;
    }

    std::string T(const std::string& relative) const { return m_target + "/" + relative; }
};

TEST_F(InstallWorkerTest, FreshInstallWritesBytesAndTimesAndRecordsEveryCreatedLevel) {
    const std::vector<KitFile> files = {
        {"top.cfg", "top", kBaseSeconds},
        {"a\\b\\c\\deep.cfg", "deep", kBaseSeconds + 7},
        {"a\\empty.cfg", "", kBaseSeconds - 3},
    };
    InstallWorker<FileSystem> worker;
    Status status;
    ASSERT_EQ(Install(files, &status, nullptr, false, &worker), kErrorSuccess);

    EXPECT_EQ(status.code, kErrorSuccess);
    EXPECT_EQ(status.percent, 100);
    EXPECT_EQ(status.text, LocalizedString("IDS_INSTALL_FINISH"));
    EXPECT_FALSE(status.text.empty());
    EXPECT_EQ(ReadFile(T("top.cfg")), "top");
    EXPECT_EQ(ReadFile(T("a/b/c/deep.cfg")), "deep");
    EXPECT_EQ(Mtime(T("a/b/c/deep.cfg")), kBaseSeconds + 7);
    EXPECT_EQ(ReadFile(T("a/empty.cfg")), "");
    EXPECT_EQ(Mtime(T("a/empty.cfg")), kBaseSeconds - 3);

    const BackupEntry& entry = worker.Entries().back();
    const std::vector<stdx::u16string> created = {U16(T("a")), U16(T("a/b")), U16(T("a/b/c"))};
    EXPECT_EQ(entry.m_createdDirs, created);
    EXPECT_EQ(entry.m_newFileCount, 3u);
    EXPECT_TRUE(entry.m_backedUpFiles.empty());
    EXPECT_EQ(entry.m_backupDir, U16(m_temp + "/qrstp0/files/"));
    EXPECT_TRUE(ListDir(m_temp).empty()) << "backup directory left behind";
}

TEST_F(InstallWorkerTest, EqualTimeIsSkippedAndOneSecondOlderIsReplaced) {
    // Of the kit's size: an intact copy (another size would be a damaged
    // one, repaired).
    WriteFile(T("same.cfg"), "old same", kBaseSeconds);
    WriteFile(T("older.cfg"), "installed older", kBaseSeconds - 1);
    WriteFile(T("newer.cfg"), "installed newer", kBaseSeconds + 1);
    // The disk keeps whole seconds only: a record half a second later than
    // the installed copy is the same file.
    WriteFile(T("fraction.cfg"), "old fraction", kBaseSeconds);
    const std::vector<KitFile> files = {
        {"same.cfg", "kit same", kBaseSeconds},
        {"older.cfg", "kit older", kBaseSeconds},
        {"newer.cfg", "kit newer", kBaseSeconds},
        {"fraction.cfg", "kit fraction", kBaseSeconds, 5000000},
    };
    InstallWorker<FileSystem> worker;
    Status status;
    ASSERT_EQ(Install(files, &status, nullptr, false, &worker), kErrorSuccess);

    EXPECT_EQ(ReadFile(T("same.cfg")), "old same");
    EXPECT_EQ(ReadFile(T("older.cfg")), "kit older");
    EXPECT_EQ(Mtime(T("older.cfg")), kBaseSeconds);
    EXPECT_EQ(ReadFile(T("newer.cfg")), "installed newer");
    EXPECT_EQ(ReadFile(T("fraction.cfg")), "old fraction");
    EXPECT_EQ(worker.Entries().back().m_backedUpFiles, std::vector<std::string>{"older.cfg"});
    EXPECT_TRUE(ListDir(m_temp).empty());
}

// Collects every distinct percent posted with a path, as seen between
// file-system operations.
struct PercentLog {
    const FaultyData* data = nullptr;
    std::vector<std::int32_t> percents;

    static void Hook(std::int64_t, const char*, void* context) {
        PercentLog* log = static_cast<PercentLog*>(context);
        std::int32_t percent = 0;
        stdx::u16string text;
        log->data->GetStatus(nullptr, &text, &percent);
        if (!text.empty() && (log->percents.empty() || log->percents.back() != percent)) {
            log->percents.push_back(percent);
        }
    }
};

std::vector<std::int32_t> PercentsOfRun(const std::string& kitPath, const std::string& target,
                                        std::size_t count) {
    std::vector<KitFile> files;
    for (std::size_t i = 0; i < count; ++i) {
        files.push_back({"f" + std::to_string(i) + ".cfg", "x", kBaseSeconds});
    }
    EXPECT_EQ(BuildKit(kitPath, files), "");
    FaultyKit kit;
    EXPECT_EQ(kit.Load(U16(kitPath)), kErrorSuccess);
    FaultyData data;
    PercentLog log;
    log.data = &data;
    const RunResult result = RunArmed(kit, data, target, 0, &PercentLog::Hook, &log);
    EXPECT_EQ(result.code, kErrorSuccess);
    log.percents.push_back(result.percent);
    return log.percents;
}

TEST_F(InstallWorkerTest, PercentsOfFourAndOfThreeRecords) {
    EXPECT_EQ(PercentsOfRun(m_kitPath, m_target + "/four", 4),
              (std::vector<std::int32_t>{0, 25, 50, 75, 100}));
    EXPECT_EQ(PercentsOfRun(m_kitPath, m_target + "/three", 3),
              (std::vector<std::int32_t>{0, 33, 66, 100}));
}

TEST_F(InstallWorkerTest, BackupDirectoryTakesFirstFreeNumberAndLeavesTakenNamesAlone) {
    WriteFile(m_temp + "/qrstp0", "a file", kBaseSeconds);
    WriteFile(m_temp + "/qrstp1/inside", "a directory", kBaseSeconds);
    const Tree before = Snapshot(m_temp);
    WriteFile(T("a.cfg"), "old", kBaseSeconds - 10);

    InstallWorker<FileSystem> worker;
    Status status;
    ASSERT_EQ(Install({{"a.cfg", "new", kBaseSeconds}}, &status, nullptr, false, &worker),
              kErrorSuccess);
    EXPECT_EQ(worker.Entries().back().m_backupDir, U16(m_temp + "/qrstp2/files/"));
    EXPECT_EQ(Snapshot(m_temp), before);
    EXPECT_EQ(ReadFile(T("a.cfg")), "new");
}

TEST_F(InstallWorkerTest, KitWithoutFilesMakesAndRemovesTheBackupDirectory) {
    // Also into a template directory that does not exist: nothing creates it.
    const std::string missing = m_target + "/missing";
    for (const std::string& target : {m_target, missing}) {
        SCOPED_TRACE(target);
        InstallWorker<FileSystem> worker;
        Status status;
        ASSERT_EQ(Install({}, &status, &target, false, &worker), kErrorSuccess);
        EXPECT_EQ(status.percent, 100);
        EXPECT_EQ(status.text, LocalizedString("IDS_INSTALL_FINISH"));
        EXPECT_EQ(worker.Entries().back().m_backupDir, U16(m_temp + "/qrstp0/files/"));
        EXPECT_TRUE(ListDir(m_temp).empty());
        EXPECT_TRUE(ListDir(m_target).empty());
    }
}

TEST_F(InstallWorkerTest, EmptyTargetFailsBeforeTouchingAnything) {
    // Relative kit names would otherwise land in the working directory,
    // without any backup.
    const std::string cwd = m_root.path() + "/cwd";
    const std::string previous = std::filesystem::current_path().string();
    WriteFile(cwd + "/a.cfg", "old", kBaseSeconds - 10);
    std::filesystem::current_path(cwd);
    const Tree before = Snapshot(cwd);
    const std::string empty;
    Status status;
    const ErrorCode code = Install({{"a.cfg", "new", kBaseSeconds}}, &status, &empty);
    std::filesystem::current_path(previous);

    EXPECT_EQ(code, kErrorInvalidParameter);
    EXPECT_EQ(status.code, kErrorInvalidParameter);
    EXPECT_EQ(status.text, LocalizedString("IDS_INSTALL_ERROR"));
    EXPECT_EQ(status.percent, 0);
    EXPECT_EQ(Snapshot(cwd), before);
    for (const std::string& name : ListDir(m_temp)) {
        ADD_FAILURE() << "left in the temporary directory: " << name;
    }
}

// Five records; the third cannot be written because a file stands where its
// directory should be.
TEST_F(InstallWorkerTest, FailureInThirdOfFivePostsFortyAfterRestoringEverything) {
    WriteFile(T("one.cfg"), "old one", kBaseSeconds - 100);
    WriteFile(T("blocker"), "a file, not a directory", kBaseSeconds - 100);
    const Tree before = Snapshot(m_target);
    const std::vector<KitFile> files = {
        {"one.cfg", "new one", kBaseSeconds},
        {"made\\two.cfg", "new two", kBaseSeconds},
        {"blocker\\three.cfg", "new three", kBaseSeconds},
        {"four.cfg", "new four", kBaseSeconds},
        {"five.cfg", "new five", kBaseSeconds},
    };
    Status status;
    const ErrorCode code = Install(files, &status);
    EXPECT_NE(code, kErrorSuccess);
    EXPECT_EQ(status.code, code);
    EXPECT_EQ(status.percent, 40);
    EXPECT_EQ(status.text, LocalizedString("IDS_INSTALL_ERROR"));
    EXPECT_EQ(Snapshot(m_target), before);
    EXPECT_TRUE(ListDir(m_temp).empty());
}

TEST_F(InstallWorkerTest, RollbackRemovesNewFilesInExistingDirectories) {
    WriteFile(T("existing/keep.cfg"), "keep", kBaseSeconds);
    WriteFile(T("blocker"), "file", kBaseSeconds);
    const Tree before = Snapshot(m_target);
    Status status;
    EXPECT_NE(Install({{"existing\\added.cfg", "added", kBaseSeconds},
                       {"added-top.cfg", "added", kBaseSeconds},
                       {"blocker\\x.cfg", "x", kBaseSeconds}},
                      &status),
              kErrorSuccess);
    EXPECT_EQ(Snapshot(m_target), before);
}

TEST_F(InstallWorkerTest, RollbackRemovesEveryDirectoryLevelTheRunCreated) {
    WriteFile(T("blocker"), "file", kBaseSeconds);
    const Tree before = Snapshot(m_target);
    Status status;
    EXPECT_NE(Install({{"n1\\n2\\n3\\deep.cfg", "deep", kBaseSeconds},
                       {"blocker\\x.cfg", "x", kBaseSeconds}},
                      &status),
              kErrorSuccess);
    EXPECT_EQ(Snapshot(m_target), before);
    EXPECT_FALSE(std::filesystem::exists(T("n1")));
}

// Fails the first move of the only installed file (into the backup, or its
// exchange with the staged copy) and checks that the run stops instead of
// overwriting a file it could not save.
TEST_F(InstallWorkerTest, FailedBackupMoveEndsTheRunAndKeepsTheOldFile) {
    WriteFile(T("a.cfg"), "old", kBaseSeconds - 10);
    const Tree before = Snapshot(m_target);
    struct FirstMove {
        std::int64_t number = 0;
        static void Hook(std::int64_t number, const char* operation, void* context) {
            FirstMove* self = static_cast<FirstMove*>(context);
            const std::string name = operation;
            if (self->number == 0 && (name == "RenameAt" || name == "ExchangeAt")) {
                self->number = number;
            }
        }
    } firstMove;
    ASSERT_EQ(BuildKit(m_kitPath, {{"a.cfg", "new", kBaseSeconds}}), "");
    FaultyKit kit;
    ASSERT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
    FaultyData data;
    // A counting run finds the number of the Move; the tree is then rebuilt.
    EXPECT_EQ(RunArmed(kit, data, m_target, 0, &FirstMove::Hook, &firstMove).code, kErrorSuccess);
    ASSERT_GT(firstMove.number, 0);
    WriteFile(T("a.cfg"), "old", kBaseSeconds - 10);

    const RunResult result = RunArmed(kit, data, m_target, firstMove.number);
    EXPECT_TRUE(result.injected);
    EXPECT_EQ(result.code, kErrorInvalidParameter);
    EXPECT_EQ(result.statusCode, kErrorInvalidParameter);

    EXPECT_EQ(Snapshot(m_target), before);
    EXPECT_TRUE(ListDir(m_temp).empty());
}

// A directory of the template tree where the kit has a file: replacing it
// would move the whole directory into the backup and delete it on success.
TEST_F(InstallWorkerTest, DirectoryWhereKitHasFileFailsTheRun) {
    WriteFile(T("conf/inside.cfg"), "user data", kBaseSeconds);
    SetModificationTime(T("conf"), kBaseSeconds - 1000);
    const Tree before = Snapshot(m_target);
    Status status;
    EXPECT_EQ(Install({{"conf", "a file", kBaseSeconds}}, &status), kErrorInvalidParameter);
    EXPECT_EQ(status.code, kErrorInvalidParameter);
    EXPECT_EQ(Snapshot(m_target), before);
    EXPECT_TRUE(ListDir(m_temp).empty());
}

// Two records for one path: the second must not move the run's own copy over
// the backup of the original.
TEST_F(InstallWorkerTest, DuplicateRecordsStillRestoreTheOriginal) {
    WriteFile(T("dup.cfg"), "original", kBaseSeconds - 100);
    WriteFile(T("blocker"), "file", kBaseSeconds);
    const Tree before = Snapshot(m_target);
    Status status;
    EXPECT_NE(Install({{"dup.cfg", "first", kBaseSeconds},
                       {"dup.cfg", "second", kBaseSeconds + 50},
                       {"blocker\\x.cfg", "x", kBaseSeconds}},
                      &status),
              kErrorSuccess);
    EXPECT_EQ(Snapshot(m_target), before);
}

TEST_F(InstallWorkerTest, CancelBeforeTheFirstRecordPostsCancelAtZero) {
    WriteFile(T("a.cfg"), "old", kBaseSeconds - 10);
    const Tree before = Snapshot(m_target);
    Status status;
    EXPECT_EQ(Install({{"a.cfg", "new", kBaseSeconds}, {"b\\c.cfg", "new", kBaseSeconds}}, &status,
                      nullptr, true),
              kErrorCancelled);
    EXPECT_EQ(status.code, kErrorCancelled);
    EXPECT_EQ(status.text, LocalizedString("IDS_CANCEL_FINISH"));
    EXPECT_FALSE(status.text.empty());
    EXPECT_EQ(status.percent, 0);
    EXPECT_EQ(Snapshot(m_target), before);
    EXPECT_TRUE(ListDir(m_temp).empty());
}

TEST_F(InstallWorkerTest, UnsafeNameInTheFileListFailsTheRun) {
    // A loaded kit refuses such names; one put into the list afterwards must
    // still not reach the disk.
    ASSERT_EQ(BuildKit(m_kitPath, {{"a.cfg", "a", kBaseSeconds}, {"b.cfg", "b", kBaseSeconds}}),
              "");
    InstallData<LZCompressor, FileSystem> kit;
    ASSERT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
    kit.m_files[1].m_name = u"..\\escaped.cfg";
    InstallProcessData data;
    data.SetInstallData(&kit, U16(m_target));
    InstallWorker<FileSystem> worker;
    worker.SetFinishPause(std::chrono::milliseconds(0));
    EXPECT_EQ(worker.Run(&data), kErrorInvalidParameter);
    EXPECT_EQ(ReadStatus(data).percent, 50);
    EXPECT_FALSE(std::filesystem::exists(m_root.path() + "/escaped.cfg"));
    EXPECT_TRUE(ListDir(m_target).empty());
}

// A kit name that has a level named like one of the run's private names,
// in any case, would collide with them: the run then draws another tag.
TEST(NameMeetsTagTest, LevelsNamedLikeTheRunsPrivateNames) {
    const stdx::u16string tag = u"0123456789abcdef";
    const std::vector<std::pair<const char16_t*, bool>> cases = {
        {u".qa-0123456789abcdef.tmp", true},
        {u"dir\\.QA-0123456789ABCDEF.1.TMP", true},
        {u"a/.qa-0123456789abcdef.backup/x.cfg", true},
        {u".QA-0123456789ABCDEF.RUN\\x.cfg", true},
        {u".qa-0123456789abcdef.tmpx", false},
        {u"x.qa-0123456789abcdef.tmp", false},
        {u".qa-0123456789abcdee.tmp", false},
        {u".qa-0123456789abcdef.2.tmp", false},
        {u"plain.cfg", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_names::NameMeetsTag(c.first, tag), c.second) << U8(c.first);
    }
}

// A process that may hold few handles: the run's folder handles are closed
// and opened again as it goes, whatever the kit's order, and every file
// still lands where it belongs.
class FewHandlesFileSystem : public FileSystem {
public:
    std::size_t OpenHandleLimit() { return 8; }
};

TEST_F(InstallWorkerTest, KitInterleavedAcrossMoreFoldersThanHandlesInstallsExactly) {
    std::vector<KitFile> files;
    for (int round = 0; round < 3; ++round) {
        for (int folder = 0; folder < 40; ++folder) {
            const std::string name =
                "f" + std::to_string(folder) + "\\deep\\r" + std::to_string(round) + ".cfg";
            files.push_back({name, name, kBaseSeconds + round});
        }
    }
    WriteFile(T("f7/deep/r1.cfg"), "older", kBaseSeconds - 10);
    Status status;
    ASSERT_EQ(Install<FewHandlesFileSystem>(files, &status), kErrorSuccess);
    for (const KitFile& file : files) {
        std::string path = file.name;
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_EQ(ReadFile(T(path)), file.bytes) << path;
        EXPECT_EQ(Mtime(T(path)), file.seconds) << path;
    }
    EXPECT_TRUE(EntriesWithPrefix(m_target, ".qa-").empty());
}

}  // namespace
