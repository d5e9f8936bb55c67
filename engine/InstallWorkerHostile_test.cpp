// The worker against what a template directory may hold besides plain
// files, against names that look like patterns, against a case-insensitive
// lookup, and the events and cancel checks a run gives.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/DurableSync.h"
#include "engine/InstallTestSupport.h"
#include "engine/RunUndo.h"
#include "text/Languages.h"

using namespace install_test;

namespace {

using InstallWorkerHostileTest = InstallKitTest;

bool MakeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    path.copy(address.sun_path, path.size());
    const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return bound;
}

mode_t TypeOf(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? (status.st_mode & S_IFMT) : 0;
}

// Regressions: a pipe at a kit path hung the run in open(); a directory
// newer than the record was skipped and the run reported success; a link
// was followed to a file outside the template directory.
TEST_F(InstallWorkerHostileTest, NonRegularFileWhereAKitFileGoesFailsWith87AndIsLeftAlone) {
    const std::string outside = m_root / "outside.cfg";
    const struct {
        const char* what;
        std::function<bool(const std::string&)> make;
    } cases[] = {
        {"fifo", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }},
        {"socket", MakeSocket},
        {"older directory",
         [](const std::string& p) {
             std::filesystem::create_directory(p);
             SetModificationTime(p, kBaseSeconds - 1000);
             return true;
         }},
        {"newer directory",
         [](const std::string& p) {
             std::filesystem::create_directory(p);
             SetModificationTime(p, kBaseSeconds + 1000);
             return true;
         }},
        {"link to a file",
         [&](const std::string& p) { return symlink(outside.c_str(), p.c_str()) == 0; }},
        {"dangling link",
         [&](const std::string& p) { return symlink("/nonexistent/x", p.c_str()) == 0; }},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        std::filesystem::remove_all(m_target);
        WriteFile(T("keep/a.cfg"), "installed a", kBaseSeconds - 100);
        WriteFile(outside, "outside", kBaseSeconds - 100);
        std::filesystem::create_directories(T("odd"));
        ASSERT_TRUE(entry.make(T("odd/x.cfg")));
        const mode_t type = TypeOf(T("odd/x.cfg"));
        const Tree before = Snapshot(T("keep"));

        const RunResult result = Install({{"keep\\a.cfg", "kit a", kBaseSeconds},
                                          {"keep\\new.cfg", "kit new", kBaseSeconds},
                                          {"odd\\x.cfg", "kit x", kBaseSeconds}});
        EXPECT_EQ(result.code, kErrorInvalidParameter);
        EXPECT_EQ(result.statusCode, kErrorInvalidParameter);
        EXPECT_EQ(Snapshot(T("keep")), before);
        EXPECT_EQ(TypeOf(T("odd/x.cfg")), type);
        EXPECT_EQ(ListDir(T("odd")), std::vector<std::string>{"x.cfg"});
        EXPECT_EQ(ReadFile(outside), "outside");
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    }
}

// Regression: only the last component of a kit path was checked, so a link
// planted in place of a directory level was followed and a kit file was
// written outside the template directory. Any non-directory at a level
// fails the run with 87 before anything at that path is touched, and the
// files installed before it are rolled back.
TEST_F(InstallWorkerHostileTest, LinkInPlaceOfADirectoryLevelIsNotFollowed) {
    const std::string outside = m_root / "outside";
    const struct {
        const char* what;
        const char* kitName;
        std::function<bool()> make;
    } cases[] = {
        {"link to a directory", "conf\\x.cfg",
         [&] { return symlink(outside.c_str(), T("conf").c_str()) == 0; }},
        {"link one level deeper", "conf\\deep\\x.cfg",
         [&] {
             std::filesystem::create_directory(T("conf"));
             return symlink(outside.c_str(), T("conf/deep").c_str()) == 0;
         }},
        {"relative link", "conf\\x.cfg",
         [&] { return symlink("../outside", T("conf").c_str()) == 0; }},
        {"dangling link", "conf\\x.cfg",
         [&] { return symlink("/nonexistent/dir", T("conf").c_str()) == 0; }},
        {"regular file", "conf\\x.cfg",
         [&] {
             WriteFile(T("conf"), "a file", kBaseSeconds);
             return true;
         }},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        std::filesystem::remove_all(m_target);
        std::filesystem::remove_all(outside);
        std::filesystem::create_directories(outside);
        WriteFile(outside + "/x.cfg", "outside", kBaseSeconds - 100);
        WriteFile(T("keep.cfg"), "installed", kBaseSeconds - 100);
        ASSERT_TRUE(entry.make());
        // No snapshot of the template tree: it holds the planted link.
        const std::vector<std::string> names = ListDir(m_target);
        const mode_t type = TypeOf(T("conf"));
        const Tree outsideBefore = Snapshot(outside);

        const RunResult result = Install({{"keep.cfg", "kit keep", kBaseSeconds},
                                          {"new\\a.cfg", "kit a", kBaseSeconds},
                                          {entry.kitName, "kit x", kBaseSeconds}});
        EXPECT_EQ(result.code, kErrorInvalidParameter);
        EXPECT_EQ(result.statusCode, kErrorInvalidParameter);
        EXPECT_EQ(ListDir(m_target), names);
        EXPECT_EQ(ReadFile(T("keep.cfg")), "installed");
        EXPECT_EQ(TypeOf(T("conf")), type);
        EXPECT_EQ(Snapshot(outside), outsideBefore);
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    }
}

// Regression: existence checks took "*" as a pattern, so "a*\x.cfg" failed
// with 2 only because an unrelated directory "ab" existed.
TEST_F(InstallWorkerHostileTest, PatternCharactersInKitNamesAreLiteral) {
    WriteFile(T("ab/unrelated.cfg"), "unrelated", kBaseSeconds - 100);
    WriteFile(T("qq.cfg"), "unrelated qq", kBaseSeconds - 100);
    WriteFile(T("a.cfg"), "unrelated a", kBaseSeconds - 100);
    const RunResult result = Install({{"a*\\x.cfg", "star", kBaseSeconds},
                                      {"q?.cfg", "question", kBaseSeconds},
                                      {"[ab].cfg", "bracket", kBaseSeconds}});
    ASSERT_EQ(result.code, kErrorSuccess);
    EXPECT_EQ(ReadFile(T("a*/x.cfg")), "star");
    EXPECT_EQ(ReadFile(T("q?.cfg")), "question");
    EXPECT_EQ(ReadFile(T("[ab].cfg")), "bracket");
    EXPECT_EQ(ReadFile(T("ab/unrelated.cfg")), "unrelated");
    EXPECT_EQ(ReadFile(T("qq.cfg")), "unrelated qq");
    EXPECT_EQ(ReadFile(T("a.cfg")), "unrelated a");
}

// Every path below one of the roots (the template directory, the run
// directories) is looked up in lower case, as a case-insensitive file
// system finds "A.cfg" under "a.cfg".
class CaseFoldingFileSystem : public FaultInjectingFileSystem {
public:
    static inline std::vector<std::string> s_roots;

    static stdx::u16string Fold(const stdx::u16string& path) {
        std::string bytes = U8(path);
        for (const std::string& root : s_roots) {
            if (bytes.compare(0, root.size(), root) == 0) {
                for (std::size_t i = root.size(); i < bytes.size(); ++i) {
                    bytes[i] =
                        static_cast<char>(std::tolower(static_cast<unsigned char>(bytes[i])));
                }
            }
        }
        return U16(bytes);
    }

    ErrorCode RemoveTree(const stdx::u16string& path) {
        return FaultInjectingFileSystem::RemoveTree(Fold(path));
    }
    ErrorCode RemoveFile(const stdx::u16string& path) {
        return FaultInjectingFileSystem::RemoveFile(Fold(path));
    }
    ErrorCode Status(const stdx::u16string& path, FileStatus* status) {
        return FaultInjectingFileSystem::Status(Fold(path), status);
    }
    ErrorCode CreateExclusive(const stdx::u16string& path, bool privateMode, FileHandle* handle) {
        return FaultInjectingFileSystem::CreateExclusive(Fold(path), privateMode, handle);
    }
    ErrorCode CreateDirectory(const stdx::u16string& path, bool privateMode) {
        return FaultInjectingFileSystem::CreateDirectory(Fold(path), privateMode);
    }
    ErrorCode Rename(const stdx::u16string& from, const stdx::u16string& to, bool replace) {
        return FaultInjectingFileSystem::Rename(Fold(from), Fold(to), replace);
    }
    ErrorCode RemoveDirectory(const stdx::u16string& path) {
        return FaultInjectingFileSystem::RemoveDirectory(Fold(path));
    }
    ErrorCode OpenDirectory(const stdx::u16string& path, FileHandle* handle) {
        return FaultInjectingFileSystem::OpenDirectory(Fold(path), handle);
    }
    ErrorCode SyncDirectory(const stdx::u16string& path) {
        return FaultInjectingFileSystem::SyncDirectory(Fold(path));
    }
    // A name relative to an open directory lies below a root whenever a
    // root is set: the worker opens nothing else.
    static std::string FoldName(std::string name) {
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return name;
    }
    ErrorCode OpenDirectoryAt(FileHandle directory, const std::string& name, FileHandle* handle) {
        return FaultInjectingFileSystem::OpenDirectoryAt(
            directory, directory == kInvalidHandle ? U8(Fold(U16(name))) : FoldName(name), handle);
    }
    ErrorCode StatusAt(FileHandle directory, const std::string& name, FileStatus* status) {
        return FaultInjectingFileSystem::StatusAt(directory, FoldName(name), status);
    }
    ErrorCode CreateExclusiveAt(FileHandle directory, const std::string& name, bool privateMode,
                                FileHandle* handle) {
        return FaultInjectingFileSystem::CreateExclusiveAt(directory, FoldName(name), privateMode,
                                                           handle);
    }
    ErrorCode CreateDirectoryAt(FileHandle directory, const std::string& name, bool privateMode) {
        return FaultInjectingFileSystem::CreateDirectoryAt(directory, FoldName(name), privateMode);
    }
    ErrorCode RenameAt(FileHandle fromDirectory, const std::string& from, FileHandle toDirectory,
                       const std::string& to, bool replace) {
        return FaultInjectingFileSystem::RenameAt(fromDirectory, FoldName(from), toDirectory,
                                                  FoldName(to), replace);
    }
    ErrorCode ExchangeAt(FileHandle firstDirectory, const std::string& first,
                         FileHandle secondDirectory, const std::string& second) {
        return FaultInjectingFileSystem::ExchangeAt(firstDirectory, FoldName(first),
                                                    secondDirectory, FoldName(second));
    }
    ErrorCode RemoveFileAt(FileHandle directory, const std::string& name) {
        return FaultInjectingFileSystem::RemoveFileAt(directory, FoldName(name));
    }
    ErrorCode RemoveDirectoryAt(FileHandle directory, const std::string& name) {
        return FaultInjectingFileSystem::RemoveDirectoryAt(directory, FoldName(name));
    }
};

// Regression: two records differing only in case name one file on a
// case-insensitive file system; the second backup move overwrote the
// backup of the original, which was then lost. With two writers, the
// second goes to the other writer (it is in another directory by name)
// unless the worker keeps names that may meet on one, in order.
TEST_F(InstallWorkerHostileTest, RecordsDifferingInCaseRestoreTheOriginal) {
    CaseFoldingFileSystem::s_roots = {m_target + "/", m_temp + "/qrstp"};
    using Kit = InstallData<LZCompressor, CaseFoldingFileSystem>;
    // Forty older fillers in other directories, SUB\A.cfg, large enough
    // that its copy is still going when the next record is looked at, then
    // sub\a.cfg, and with fail a record that cannot be written.
    auto run = [this](std::size_t writers, bool fail) {
        std::filesystem::remove_all(m_target);
        WriteFile(T("sub/a.cfg"), "original", kBaseSeconds - 100);
        WriteFile(T("blocker"), "a file", kBaseSeconds);
        std::vector<KitFile> files;
        for (int i = 0; i < 40; ++i) {
            const std::string directory = "other" + std::to_string(i % 4);
            const std::string leaf = "f" + std::to_string(i);
            files.push_back({directory + "\\" + leaf, "filler", kBaseSeconds});
            WriteFile(T(directory + "/" + leaf), "old filler", kBaseSeconds - 1);
        }
        const Tree before = Snapshot(m_target);
        files.push_back({"SUB\\A.cfg", std::string(8 << 20, 'f'), kBaseSeconds});
        files.push_back({"sub\\a.cfg", "second", kBaseSeconds + 10});
        if (fail) {
            files.push_back({"blocker\\x.cfg", "x", kBaseSeconds});
        }
        ASSERT_EQ(BuildKit(m_kitPath, files), "");
        Kit kit;
        ASSERT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
        BasicInstallProcessData<Kit> data;
        data.SetInstallData(&kit, U16(m_target));
        InstallWorker<CaseFoldingFileSystem> worker;
        worker.SetFinishPause(std::chrono::milliseconds(0));
        worker.SetWriters(writers);
        const ErrorCode code = worker.Run(&data);
        const auto& backedUp = worker.Entries().back().m_backedUpFiles;
        const auto original =
            std::count_if(backedUp.begin(), backedUp.end(), [](const std::string& path) {
                return CaseFoldingFileSystem::FoldName(path) == "sub/a.cfg";
            });
        EXPECT_LE(original, 1) << "backed up once";
        if (fail) {
            EXPECT_NE(code, kErrorSuccess);
            EXPECT_EQ(Snapshot(m_target), before);
        } else {
            EXPECT_EQ(code, kErrorSuccess);
            // Each filler and the original.
            EXPECT_EQ(backedUp.size(), 41u);
            EXPECT_EQ(ReadFile(T("sub/a.cfg")), "second");
            EXPECT_EQ(ListDir(T("sub")), std::vector<std::string>{"a.cfg"});
        }
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    };
    for (const std::size_t writers : {1u, 2u}) {
        for (const bool fail : {true, false}) {
            SCOPED_TRACE(std::to_string(writers) + (fail ? " writers, failed" : " writers, done"));
            run(writers, fail);
        }
    }
    CaseFoldingFileSystem::s_roots.clear();
}

// Regression: the undo restored a replaced file and then removed a new
// file of the run whose name met the replaced one's in another case,
// which on a case-insensitive file system removed the restored original.
TEST_F(InstallWorkerHostileTest, UndoOfANewFileMeetingARestoredOneKeepsTheOriginal) {
    const std::string backup = m_temp + "/qrstp0/files";
    CaseFoldingFileSystem::s_roots = {m_target + "/", backup + "/"};
    WriteFile(T("sub/a.cfg"), "written by the run", kBaseSeconds);
    WriteFile(backup + "/sub/a.cfg", "original", kBaseSeconds - 100);
    run_journal::Header header;
    header.targetDir = U16(m_target + "/");
    header.backupDir = U16(backup + "/");
    header.tag = u"0123456789abcdef";
    std::vector<run_journal::Entry> entries(2);
    entries[0].step = run_journal::Step::Replace;
    entries[0].path = u"SUB/A.cfg";
    entries[1].step = run_journal::Step::NewFile;
    entries[1].path = u"sub/a.cfg";
    CaseFoldingFileSystem fileSystem;
    DurableSync<CaseFoldingFileSystem> durable(fileSystem);
    FileHandle anchor = kInvalidHandle;
    ASSERT_EQ(fileSystem.OpenDirectory(U16(m_temp), &anchor), kErrorSuccess);
    durable.Start(anchor);
    run_undo::UndoCounts counts;
    EXPECT_TRUE(run_undo::Undo(fileSystem, stdx::u16string(), header, entries, durable, &counts));
    fileSystem.Close(anchor);
    EXPECT_EQ(ReadFile(T("sub/a.cfg")), "original");
    EXPECT_EQ(Mtime(T("sub/a.cfg")), kBaseSeconds - 100);
    CaseFoldingFileSystem::s_roots.clear();
}

struct RecordingSink : InstallEventSink {
    std::vector<std::pair<std::string, FileAction>> actions;
    std::vector<std::pair<int, int>> rollbacks;
    void OnFileAction(const stdx::u16string& path, FileAction action) override {
        actions.emplace_back(U8(path), action);
    }
    void OnRollback(int restored, int removed) override {
        rollbacks.emplace_back(restored, removed);
    }
};

TEST_F(InstallWorkerHostileTest, SinkHearsEachDecisionAndTheRollback) {
    WriteFile(T("old.cfg"), "old", kBaseSeconds - 100);
    WriteFile(T("same.cfg"), "old same", kBaseSeconds);
    WriteFile(T("blocker"), "a file", kBaseSeconds);
    RecordingSink sink;
    m_data.SetEventSink(&sink);
    const RunResult result = Install({{"old.cfg", "kit old", kBaseSeconds},
                                      {"same.cfg", "kit same", kBaseSeconds},
                                      {"d1\\d2\\new.cfg", "kit new", kBaseSeconds},
                                      {"blocker\\x.cfg", "x", kBaseSeconds}});
    m_data.SetEventSink(nullptr);
    EXPECT_NE(result.code, kErrorSuccess);
    const std::vector<std::pair<std::string, FileAction>> expected = {
        {"old.cfg", FileAction::Replace},
        {"same.cfg", FileAction::Skip},
        {"d1/d2/new.cfg", FileAction::Install},
    };
    // "blocker/x.cfg" is refused before any decision: a file stands where
    // its directory goes.
    EXPECT_EQ(sink.actions, expected);
    // Found before the run changed anything: a rollback with nothing to do.
    EXPECT_EQ(sink.rollbacks, (std::vector<std::pair<int, int>>{{0, 0}}));
}

// A cancel is seen between the pieces of one large file, not only after it:
// when the rollback starts, the file's staged copy holds less than the file.
TEST_F(InstallWorkerHostileTest, CancelIsSeenInsideALargeFile) {
    struct Probe {
        FaultyData* data;
        std::string staged;
        bool cancelled = false;
        std::int64_t writtenAtRollback = -1;
        static void Hook(std::int64_t, const char* operation, void* context) {
            auto* self = static_cast<Probe*>(context);
            const std::string name = operation;
            if (!self->cancelled && name == "CopyRangeAt") {
                self->data->Cancel();
                self->cancelled = true;
            } else if (self->cancelled && name == "RemoveTree" && self->writtenAtRollback < 0 &&
                       Exists(self->staged)) {
                self->writtenAtRollback =
                    static_cast<std::int64_t>(std::filesystem::file_size(self->staged));
            }
        }
    } probe{&m_data, m_temp + "/qrstp0/stage/0/0"};
    const std::uint32_t size = 3 * FaultyKit::kStopCheckBytes;
    const RunResult result =
        Install({{"big.bin", std::string(size, 'b'), kBaseSeconds}}, &Probe::Hook, &probe);
    EXPECT_EQ(result.code, kErrorCancelled);
    ASSERT_TRUE(probe.cancelled);
    EXPECT_GE(probe.writtenAtRollback, 0) << "no staged copy seen";
    EXPECT_LT(probe.writtenAtRollback, static_cast<std::int64_t>(size));
    EXPECT_TRUE(ListDir(m_target).empty());
}

}  // namespace
