// The tree removal: every depth within a bounded number of descriptors, no
// link followed, and what cannot go left with the directories above it.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemTestSupport.h"
#include "engine/fs/FileTree.h"

using fs_test::Exists;
using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

TEST(FileSystemRemove, RemoveTreeNeverFollowsLinks) {
    TempDir dir;
    FileSystem fs;
    ::mkdir((dir / "outside").c_str(), 0700);
    WriteFile(dir / "outside/keep", "keep");
    ::mkdir((dir / "tree").c_str(), 0700);
    ::mkdir((dir / "tree/sub").c_str(), 0700);
    WriteFile(dir / "tree/sub/file", "x");
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/link").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "toplink").c_str()), 0);

    EXPECT_EQ(fs.RemoveTree(U16(dir / "tree")), 0u);
    EXPECT_FALSE(Exists(dir / "tree"));
    // A trailing slash must not turn a link into the directory it names.
    EXPECT_EQ(fs.RemoveTree(U16(dir / "toplink/")), 0u);
    EXPECT_FALSE(Exists(dir / "toplink"));
    EXPECT_EQ(ReadFile(dir / "outside/keep"), "keep");
    EXPECT_EQ(fs.RemoveTree(U16(dir / "gone")), 0u);
}

TEST(FileSystemRemove, RemoveTreeRefusesDotAndDotDot) {
    TempDir dir;
    FileSystem fs;
    ::mkdir((dir / "sub").c_str(), 0700);
    WriteFile(dir / "keep", "keep");
    WriteFile(dir / "sub/keep", "keep");
    EXPECT_EQ(fs.RemoveTree(U16(dir / "sub/..")), 0u);
    EXPECT_EQ(fs.RemoveTree(U16(dir / "sub/.")), 0u);
    EXPECT_EQ(fs.RemoveTree(U16(dir.path() + "/./")), 0u);
    EXPECT_EQ(ReadFile(dir / "keep"), "keep");
    EXPECT_EQ(ReadFile(dir / "sub/keep"), "keep");
}

// Builds `depth` nested directories "d" below `top`, each holding a file,
// with a link to `outside` at the bottom. Through descriptors: the whole
// path is far longer than a path may be.
void MakeDeepTree(const std::string& top, int depth, const std::string& outside) {
    ASSERT_EQ(::mkdir(top.c_str(), 0700), 0);
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (int level = 0; level < depth; ++level) {
        const int file = ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(file, 0);
        ::close(file);
        ASSERT_EQ(::mkdirat(fd, "d", 0700), 0) << level;
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        ASSERT_GE(next, 0) << level;
        fd = next;
    }
    EXPECT_EQ(::symlinkat(outside.c_str(), fd, "link"), 0);
    ::close(fd);
}

// file_tree::RemoveTree under an open-file limit of 64.
bool RemoveWithFewDescriptors(const std::string& path) {
    struct rlimit saved;
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit low = saved;
    low.rlim_cur = 64;
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const bool removed = file_tree::RemoveTree(path);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    return removed;
}

TEST(FileSystemRemove, RemoveTreeDeeperThanTheOpenFileLimitWasLeftHalfRemoved) {
    // In memory: thousands of directories on a busy disk take long to make.
    TempDir dir("/dev/shm");
    ::mkdir((dir / "outside").c_str(), 0700);
    WriteFile(dir / "outside/keep", "keep");
    MakeDeepTree(dir / "tree", 3000, dir / "outside");

    EXPECT_TRUE(RemoveWithFewDescriptors(dir / "tree"));
    EXPECT_FALSE(Exists(dir / "tree"));
    EXPECT_EQ(ReadFile(dir / "outside/keep"), "keep");
}

// Opens level `level` of a tree made by MakeDeepTree.
int OpenLevel(const std::string& top, int level) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < level && fd >= 0; ++i) {
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

// Sets or clears the immutable flag of a file. False where the file system
// or the privileges do not allow it.
bool SetImmutable(int directory, const char* name, bool immutable) {
    const int fd = ::openat(directory, name, O_RDONLY | O_CLOEXEC);
    int flags = 0;
    const bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                      (flags = immutable ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL,
                       ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) {
        ::close(fd);
    }
    return done;
}

TEST(FileSystemRemove, DeepRemovalAroundAnEntryThatCannotGoNeverEnded) {
    TempDir dir("/dev/shm");
    const std::string top = dir / "tree";
    MakeDeepTree(top, 3000, dir.path());
    const int stuckLevel = OpenLevel(top, 1500);
    ASSERT_GE(stuckLevel, 0);
    const int stuck = ::openat(stuckLevel, "stuck", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ::close(stuck);
    if (!SetImmutable(stuckLevel, "stuck", true)) {
        ::close(stuckLevel);
        GTEST_SKIP() << "no immutable files here; a deep tree stays behind in " << dir.path();
    }

    EXPECT_FALSE(RemoveWithFewDescriptors(top));
    // Only the way to the stuck file is left, without the files beside it.
    int depth = 0;
    for (int fd = OpenLevel(top, 0); fd >= 0; ++depth) {
        struct stat status;
        EXPECT_NE(::fstatat(fd, "f", &status, AT_SYMLINK_NOFOLLOW), 0) << depth;
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    EXPECT_EQ(depth, 1501);

    ASSERT_TRUE(SetImmutable(stuckLevel, "stuck", false));
    ::close(stuckLevel);
    EXPECT_TRUE(file_tree::RemoveTree(top));
    EXPECT_FALSE(Exists(top));
}

}  // namespace
