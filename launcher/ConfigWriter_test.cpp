#include "launcher/ConfigWriter.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "launcher/ConfigReader.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

namespace {

using test_support::CountEntries;
using test_support::Exists;
using test_support::ReadFile;
using test_support::TempDir;
using test_support::U16;
using test_support::WriteFile;

int ThrownCode(const std::function<void()>& action) {
    try {
        action();
    } catch (int code) {
        return code;
    }
    return 0;
}

mode_t ModeOf(const std::string& path) {
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

// A list that formats to well over `bytes` bytes.
ConfigList BigList(std::size_t bytes) {
    ConfigList list;
    for (std::size_t i = 0; i * 64 < bytes; ++i) {
        list.push_back({U16("Key" + std::to_string(i)), {U16(std::string(58, 'v'))}});
    }
    return list;
}

// Writes only the first `budget` bytes, then fails the way a full disk does.
class FullDiskIo : public ConfigFileIo {
public:
    explicit FullDiskIo(std::size_t budget) : m_budget(budget) {}
    bool Write(int descriptor, const char* data, std::size_t size) {
        std::size_t now = std::min(size, m_budget);
        ConfigFileIo::Write(descriptor, data, now);
        m_budget -= now;
        return now == size;
    }

private:
    std::size_t m_budget;
};

// Fails one chosen step of the replacement.
class FailingStepIo : public ConfigFileIo {
public:
    enum Step { kMayWrite, kCreate, kSetMode, kSync, kClose, kRename };
    explicit FailingStepIo(Step step) : m_step(step) {}
    bool MayWrite(const std::string& path) {
        return m_step != kMayWrite && ConfigFileIo::MayWrite(path);
    }
    int CreateNew(const std::string& path) {
        if (m_step == kCreate) {
            // Not a permission error: that one makes the writer fall back to
            // rewriting the file in place.
            errno = EIO;
            return -1;
        }
        return ConfigFileIo::CreateNew(path);
    }
    bool SetMode(int descriptor, mode_t mode) {
        return m_step != kSetMode && ConfigFileIo::SetMode(descriptor, mode);
    }
    bool Sync(int descriptor) { return m_step != kSync && ConfigFileIo::Sync(descriptor); }
    bool Close(int descriptor) { return ConfigFileIo::Close(descriptor) && m_step != kClose; }
    bool Rename(const std::string& from, const std::string& to) {
        return m_step != kRename && ConfigFileIo::Rename(from, to);
    }

private:
    Step m_step;
};

// Finds every name taken but the last few, as if stale files lay about.
class CrowdedDirectoryIo : public ConfigFileIo {
public:
    explicit CrowdedDirectoryIo(int taken) : m_taken(taken) {}
    int CreateNew(const std::string& path) {
        if (m_calls++ < m_taken) {
            errno = EEXIST;
            return -1;
        }
        return ConfigFileIo::CreateNew(path);
    }

private:
    int m_taken;
    int m_calls = 0;
};

TEST(ConfigWriterTest, WritesOneLinePerValueInListOrder) {
    TempDir dir;
    const ConfigList list{{u"CommonInfoBases", {u"A", u"B"}},
                          {u"Empty", {}},
                          {u"NoEquals", {u""}},
                          {u"", {u"value"}},
                          {u"cr", {u"x\r"}}};
    WriteConfigFile(U16(dir / "qalaunch.cfg"), list);
    EXPECT_EQ(ReadFile(dir / "qalaunch.cfg"),
              "CommonInfoBases=A\nCommonInfoBases=B\nNoEquals=\n=value\ncr=x\r\n");
}

TEST(ConfigWriterTest, EmptyListGivesAnEmptyFile) {
    TempDir dir;
    WriteFile(dir / "qalaunch.cfg", "old=1\n");
    WriteConfigFile(U16(dir / "qalaunch.cfg"), ConfigList());
    EXPECT_EQ(ReadFile(dir / "qalaunch.cfg"), "");
}

TEST(ConfigWriterTest, ReadAndWriteBackKeepsTheFileApartFromMerges) {
    TempDir dir;
    const std::string path = dir / "qalaunch.cfg";
    WriteFile(path, "\xEF\xBB\xBFПуть = 模板\r\nbare\n=lead\na=b=c\nPUTЬ=x\nbare=\n");
    ConfigList list;
    ReadConfigFile(U16(path), list);
    WriteConfigFile(U16(path), list);
    // No mark is written; "=" is added to the bare line; the duplicate merges.
    EXPECT_EQ(ReadFile(path), "Путь = 模板\r\nbare=\n=lead\na=b=c\nPUTЬ=x\n");
}

TEST(ConfigWriterTest, LinesThatWouldReadBackAsOtherLinesAreLeftOut) {
    TempDir dir;
    const ConfigList list{{u"ConfigurationTemplatesLocation", {u"/a\nDefaultVersion=evil", u"/b"}},
                          {u"k=ey", {u"v"}},
                          {stdx::u16string(u"z\0z", 3), {u"v"}}};
    WriteConfigFile(U16(dir / "qalaunch.cfg"), list);
    EXPECT_EQ(ReadFile(dir / "qalaunch.cfg"), "ConfigurationTemplatesLocation=/b\n");
}

TEST(ConfigWriterTest, KeepsThePermissionBitsOfTheOldFile) {
    TempDir dir;
    const std::string path = dir / "qalaunch.cfg";
    WriteFile(path, "a=1\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    WriteConfigFile(U16(path), ConfigList{{u"a", {u"2"}}});
    EXPECT_EQ(ModeOf(path), 0640u);
    EXPECT_EQ(ReadFile(path), "a=2\n");
}

TEST(ConfigWriterTest, NewFileGetsTheUsualBitsUnderTheUmask) {
    TempDir dir;
    const mode_t old = ::umask(022);
    WriteConfigFile(U16(dir / "qalaunch.cfg"), ConfigList{{u"a", {u"1"}}});
    ::umask(old);
    EXPECT_EQ(ModeOf(dir / "qalaunch.cfg"), 0644u);
}

TEST(ConfigWriterTest, SymbolicLinkStaysAndItsTargetIsReplaced) {
    TempDir dir;
    WriteFile(dir / "real.cfg", "a=1\n");
    ASSERT_EQ(::symlink((dir / "real.cfg").c_str(), (dir / "qalaunch.cfg").c_str()), 0);
    WriteConfigFile(U16(dir / "qalaunch.cfg"), ConfigList{{u"a", {u"2"}}});
    struct stat status;
    ASSERT_EQ(::lstat((dir / "qalaunch.cfg").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(ReadFile(dir / "real.cfg"), "a=2\n");
}

TEST(ConfigWriterTest, MissingDirectoryThrowsOne) {
    TempDir dir;
    EXPECT_EQ(ThrownCode([&] { WriteConfigFile(U16(dir / "no/such/qalaunch.cfg"), {}); }),
              kConfigCannotCreate);
    EXPECT_EQ(CountEntries(dir.path()), 0u);
}

TEST(ConfigWriterTest, TakenTemporaryNamesAreSkipped) {
    TempDir dir;
    CrowdedDirectoryIo crowded(5);
    WriteConfigFile(U16(dir / "qalaunch.cfg"), ConfigList{{u"a", {u"1"}}}, crowded);
    EXPECT_EQ(ReadFile(dir / "qalaunch.cfg"), "a=1\n");

    CrowdedDirectoryIo full(1000);
    EXPECT_EQ(ThrownCode([&] { WriteConfigFile(U16(dir / "qalaunch.cfg"), {}, full); }),
              kConfigCannotCreate);
    EXPECT_EQ(ReadFile(dir / "qalaunch.cfg"), "a=1\n");
}

class ConfigWriterFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_old = "DefaultVersion=8.3\nCommonInfoBases=/Users/me/bases.v8i\n";
        WriteFile(m_path, m_old);
        ASSERT_EQ(::chmod(m_path.c_str(), 0600), 0);
    }

    // The old file byte for byte, and nothing else in the directory.
    void ExpectOldFileUntouched() {
        EXPECT_EQ(ReadFile(m_path), m_old);
        EXPECT_EQ(ModeOf(m_path), 0600u);
        EXPECT_EQ(CountEntries(m_dir.path()), 1u);
    }

    TempDir m_dir;
    const std::string m_path = m_dir / "qalaunch.cfg";
    std::string m_old;
};

TEST_F(ConfigWriterFailureTest, WriteFailingHalfWayLeavesTheOldFile) {
    for (std::size_t budget : {std::size_t{0}, std::size_t{1}, std::size_t{4000}}) {
        FullDiskIo io(budget);
        EXPECT_EQ(ThrownCode([&] { WriteConfigFile(U16(m_path), BigList(8192), io); }),
                  kConfigWriteError)
            << budget;
        ExpectOldFileUntouched();
    }
}

TEST_F(ConfigWriterFailureTest, EachLaterStepFailingLeavesTheOldFile) {
    for (auto step : {FailingStepIo::kSetMode, FailingStepIo::kSync, FailingStepIo::kClose,
                      FailingStepIo::kRename}) {
        FailingStepIo io(step);
        EXPECT_EQ(ThrownCode([&] { WriteConfigFile(U16(m_path), BigList(100), io); }),
                  kConfigWriteError)
            << step;
        ExpectOldFileUntouched();
    }
}

TEST_F(ConfigWriterFailureTest, CreateFailingOrAnUnwritableOldFileThrowsOne) {
    for (auto step : {FailingStepIo::kMayWrite, FailingStepIo::kCreate}) {
        FailingStepIo io(step);
        EXPECT_EQ(ThrownCode([&] { WriteConfigFile(U16(m_path), BigList(100), io); }),
                  kConfigCannotCreate)
            << step;
        ExpectOldFileUntouched();
    }
}

TEST_F(ConfigWriterFailureTest, ReadOnlyOldFileIsNotReplaced) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not bind root";
    }
    ASSERT_EQ(::chmod(m_path.c_str(), 0400), 0);
    EXPECT_EQ(ThrownCode([&] { WriteConfigFile(U16(m_path), BigList(100)); }), kConfigCannotCreate);
    EXPECT_EQ(ReadFile(m_path), m_old);
}

// The kernel itself refuses the write half-way: the file-size limit stops
// it after 4 KiB, as a full disk would.
TEST_F(ConfigWriterFailureTest, RealWriteStoppedByTheFileSizeLimitLeavesTheOldFile) {
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    if (old.rlim_max != RLIM_INFINITY && old.rlim_max < 4096) {
        GTEST_SKIP() << "file-size limit already below 4 KiB";
    }
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction oldAction;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &oldAction), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);

    const int code = ThrownCode([&] { WriteConfigFile(U16(m_path), BigList(65536)); });

    ::setrlimit(RLIMIT_FSIZE, &old);
    ::sigaction(SIGXFSZ, &oldAction, nullptr);
    EXPECT_EQ(code, kConfigWriteError);
    ExpectOldFileUntouched();
}

TEST(ConfigWriterReplaceKeyLines, OtherLinesComeBackByteForByte) {
    const std::vector<stdx::u16string> two{u"/n1", u"/n2"};
    const char kZeros[] = "a=1\n\n\0\0\na=1\nbare\n";
    const std::string zeros(kZeros, sizeof(kZeros) - 1);
    const std::string ours = "K=/n1\nK=/n2\n";
    struct Case {
        const char* what;
        std::string before;
        std::vector<stdx::u16string> values;
        std::string after;
    } const cases[] = {
        {"replaced where the first stood, later ones dropped",
         "a=1\nK=/o1\nb\n k=/o2\nk=/o3\r\nc=3", two, "a=1\n" + ours + "b\n k=/o2\nc=3"},
        {"appended after a last line without a line feed", "a=\xE9", two, "a=\xE9\n" + ours},
        {"appended to an empty file", "", two, ours},
        {"no values remove the key", "K=/o\na=1\n", {}, "a=1\n"},
        {"a mark before the key stays", "\xEF\xBB\xBFK=/o\na=1\n", two,
         "\xEF\xBB\xBF" + ours + "a=1\n"},
        {"a key spelled with bytes that are not UTF-8 is another key", "K\xFF=/o\n", two,
         "K\xFF=/o\n" + ours},
        {"zeros, blank lines and duplicates of other keys stay", zeros, two, zeros + ours},
        {"an unwritable value is left out", "K=/o\n", {u"/a\nb=c", u"/ok"}, "K=/ok\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplaceKeyLines(c.before, u"K", c.values), c.after) << c.what;
    }
}

ino_t InodeOf(const std::string& path) {
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_ino;
}

// A directory in which no new file may be made: CreateNew fails as it does
// there, and the first `failingWrites` writes stop after half their bytes.
class ClosedDirectoryIo : public ConfigFileIo {
public:
    explicit ClosedDirectoryIo(int failingWrites) : m_failingWrites(failingWrites) {}
    int CreateNew(const std::string&) {
        errno = EACCES;
        return -1;
    }
    bool Write(int descriptor, const char* data, std::size_t size) {
        if (m_failingWrites-- > 0) {
            ConfigFileIo::Write(descriptor, data, size / 2);
            return false;
        }
        return ConfigFileIo::Write(descriptor, data, size);
    }

private:
    int m_failingWrites;
};

TEST_F(ConfigWriterFailureTest, UnwritableDirectoryLeftTheLocationUnrecorded) {
    const ino_t inode = InodeOf(m_path);
    ClosedDirectoryIo io(0);
    WriteConfigText(U16(m_path), "a=2\n", io);
    EXPECT_EQ(ReadFile(m_path), "a=2\n");
    EXPECT_EQ(InodeOf(m_path), inode) << "rewritten in place";
    EXPECT_EQ(ModeOf(m_path), 0600u);
    EXPECT_EQ(CountEntries(m_dir.path()), 1u);

    // Longer and shorter texts both end where they should.
    const std::string longer(10000, 'x');
    WriteConfigText(U16(m_path), longer, io);
    EXPECT_EQ(ReadFile(m_path), longer);
}

TEST_F(ConfigWriterFailureTest, FailedWriteInPlaceLeftTheFileHalfWritten) {
    ClosedDirectoryIo io(1);
    const std::string longer(10000, 'x');
    EXPECT_EQ(ThrownCode([&] { WriteConfigText(U16(m_path), longer, io); }), kConfigWriteError);
    ExpectOldFileUntouched();
}

// Runs `action` in a child process as the unprivileged user 65534 when this
// process is root, so that permission bits bind; returns its exit code.
int RunUnprivileged(const std::function<int()>& action) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(100);
        }
        ::_exit(action());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST(ConfigWriterReadOnlyDirectory, WritableFileInAReadOnlyDirectoryWasNotRewritten) {
    TempDir dir;
    const std::string path = dir / "qalaunch.cfg";
    WriteFile(path, "a=\xE9\n");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    } else {
        ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    }
    const ino_t inode = InodeOf(path);
    const int code = RunUnprivileged([&] {
        if (::access(dir.path().c_str(), W_OK) == 0) {
            return 102;  // the directory is writable after all: nothing to show
        }
        ConfigFileIo io;
        return ThrownCode([&] { WriteConfigText(U16(path), "a=2\n", io); });
    });
    ::chmod(dir.path().c_str(), 0755);
    if (code == 100 || code == 102) {
        GTEST_SKIP() << "cannot make a directory read-only for the writer here";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(path), "a=2\n");
    EXPECT_EQ(InodeOf(path), inode);
    EXPECT_EQ(CountEntries(dir.path()), 1u);
}

TEST(ConfigWriterOwner, RewriteAsRootGaveTheFileToRoot) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can give a file to another owner";
    }
    TempDir dir;
    const std::string path = dir / "qalaunch.cfg";
    WriteFile(path, "a=1\n");
    ASSERT_EQ(::chown(path.c_str(), 1234, 5678), 0);
    ASSERT_EQ(::chmod(path.c_str(), 02640), 0);
    const ino_t inode = InodeOf(path);
    ConfigFileIo io;
    WriteConfigText(U16(path), "a=2\n", io);
    struct stat status;
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_NE(status.st_ino, inode) << "replaced by a new file";
    EXPECT_EQ(status.st_uid, 1234u);
    EXPECT_EQ(status.st_gid, 5678u);
    EXPECT_EQ(status.st_mode & 07777, 02640u);
    EXPECT_EQ(ReadFile(path), "a=2\n");
}

TEST(ConfigWriterPathTest, DirectoryOfAPath) {
    EXPECT_EQ(DirectoryOf("/a/b/c.cfg"), "/a/b");
    EXPECT_EQ(DirectoryOf("/c.cfg"), "/");
    EXPECT_EQ(DirectoryOf("c.cfg"), ".");
    EXPECT_NE(TemporaryNameFor("/a/c.cfg", 0), TemporaryNameFor("/a/c.cfg", 1));
    EXPECT_EQ(DirectoryOf(TemporaryNameFor("/a/c.cfg", 0)), "/a");
}

}  // namespace
