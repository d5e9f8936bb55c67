#include <errno.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemTestSupport.h"

using fs_test::Exists;
using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

dev_t DeviceOf(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// A directory on another file system than /tmp: /dev/shm when it is one,
// else a small tmpfs mounted for the test (root only).
class OtherFileSystem {
public:
    OtherFileSystem() {
        if (DeviceOf("/dev/shm") != 0 && DeviceOf("/dev/shm") != DeviceOf("/tmp")) {
            m_dir.reset(new TempDir("/dev/shm"));
            m_path = m_dir->path();
            return;
        }
        m_dir.reset(new TempDir("/tmp"));
        if (::geteuid() == 0 &&
            ::mount("tmpfs", m_dir->path().c_str(), "tmpfs", 0, "size=16m") == 0) {
            m_mounted = true;
            m_path = m_dir->path();
        }
    }
    ~OtherFileSystem() {
        if (m_mounted) {
            ::umount2(m_dir->path().c_str(), MNT_DETACH);
        }
    }
    // Empty when no second file system could be had.
    const std::string& path() const { return m_path; }

private:
    std::unique_ptr<TempDir> m_dir;
    std::string m_path;
    bool m_mounted = false;
};

#define REQUIRE_OTHER_FILE_SYSTEM(other)                                                  \
    if ((other).path().empty()) {                                                         \
        GTEST_SKIP() << "no second file system: /dev/shm is /tmp's and mounting a tmpfs " \
                        "needs root";                                                     \
    }

mode_t ModeOf(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

TEST(FileSystemMoveAcrossDevices, FileKeepsBytesPermissionsAndTimes) {
    TempDir here;
    OtherFileSystem there;
    REQUIRE_OTHER_FILE_SYSTEM(there);
    FileSystem fs;
    const std::string source = here / "config $(x).cfg";
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7);
    }
    WriteFile(source, bytes);
    ::chmod(source.c_str(), 0751);
    const struct timespec times[2] = {{1400000000, 0}, {1300000000, 0}};
    ::utimensat(AT_FDCWD, source.c_str(), times, 0);

    const std::string target = there.path() + "/moved.cfg";
    ASSERT_EQ(fs.Move(U16(source), U16(target)), 0u);
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(ReadFile(target), bytes);
    EXPECT_EQ(ModeOf(target) & 07777, 0751u);
    EXPECT_EQ(fs_test::ModifiedSeconds(target), 1300000000);
    EXPECT_EQ(fs_test::CountEntries(there.path()), 1u) << "no temporary copy is left";

    // And back again over an existing file, which it replaces.
    WriteFile(here / "back", "old");
    ASSERT_EQ(fs.Move(U16(target), U16(here / "back")), 0u);
    EXPECT_EQ(ReadFile(here / "back"), bytes);
}

TEST(FileSystemMoveAcrossDevices, DirectoryTreeIsCopiedWhole) {
    TempDir here;
    OtherFileSystem there;
    REQUIRE_OTHER_FILE_SYSTEM(there);
    FileSystem fs;
    const std::string source = here / "tree";
    ::mkdir(source.c_str(), 0750);
    ::mkdir((source + "/sub").c_str(), 0700);
    WriteFile(source + "/a.txt", "a");
    WriteFile(source + "/sub/b.txt", "bb");
    ASSERT_EQ(::symlink("a.txt", (source + "/link").c_str()), 0);
    fs_test::SetModificationTime(source + "/sub", 1200000000);

    const std::string target = there.path() + "/tree";
    ASSERT_EQ(fs.Move(U16(source), U16(target)), 0u);
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(ReadFile(target + "/a.txt"), "a");
    EXPECT_EQ(ReadFile(target + "/sub/b.txt"), "bb");
    EXPECT_TRUE(S_ISLNK(ModeOf(target + "/link")));
    EXPECT_EQ(ReadFile(target + "/link"), "a");
    EXPECT_EQ(ModeOf(target) & 07777, 0750u);
    EXPECT_EQ(fs_test::ModifiedSeconds(target + "/sub"), 1200000000);
}

TEST(FileSystemMoveAcrossDevices, FailureLeavesTheSourceAndNoPartialCopy) {
    TempDir here;
    OtherFileSystem there;
    REQUIRE_OTHER_FILE_SYSTEM(there);
    FileSystem fs;
    WriteFile(here / "file", "file");
    ::mkdir((here / "dir").c_str(), 0700);
    WriteFile(here / "dir/inner", "inner");
    // A file cannot replace a directory, nor a directory a non-empty one.
    ::mkdir((there.path() + "/occupied").c_str(), 0700);
    WriteFile(there.path() + "/occupied/x", "x");

    EXPECT_EQ(fs.Move(U16(here / "file"), U16(there.path() + "/occupied")), kErrorInvalidParameter);
    EXPECT_EQ(fs.Move(U16(here / "dir"), U16(there.path() + "/occupied")), kErrorInvalidParameter);
    EXPECT_EQ(fs.Move(U16(here / "file"), U16(there.path() + "/missing/file")),
              kErrorInvalidParameter);
    EXPECT_EQ(ReadFile(here / "file"), "file");
    EXPECT_EQ(ReadFile(here / "dir/inner"), "inner");
    EXPECT_EQ(fs_test::CountEntries(there.path()), 1u);
    EXPECT_EQ(fs_test::CountEntries(there.path() + "/occupied"), 1u);
}

TEST(FileSystemMoveAcrossDevices, SpecialFilesAreRefused) {
    TempDir here;
    OtherFileSystem there;
    REQUIRE_OTHER_FILE_SYSTEM(there);
    FileSystem fs;
    ASSERT_EQ(::mkfifo((here / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(fs.Move(U16(here / "pipe"), U16(there.path() + "/pipe")), kErrorInvalidParameter);
    EXPECT_TRUE(Exists(here / "pipe"));
    EXPECT_EQ(fs_test::CountEntries(there.path()), 0u);
}

}  // namespace
