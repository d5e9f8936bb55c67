#include "engine/fs/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/FileSystemTestSupport.h"

using fs_test::EnvOverride;
using fs_test::Exists;
using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::U8;
using fs_test::WriteFile;

namespace {

FileHandle OpenOrFail(FileSystem& fs, const std::string& path, std::uint32_t access,
                      std::uint32_t disposition) {
    FileHandle handle = kInvalidHandle;
    EXPECT_EQ(fs.Open(U16(path), access, 0, disposition, &handle, kAttributeNormal), 0u) << path;
    return handle;
}

TEST(FileSystemOpen, DispositionCreateKeepsTheOldTailUntilSetEnd) {
    TempDir dir;
    FileSystem fs;
    WriteFile(dir / "f", "0123456789");
    FileHandle handle = OpenOrFail(fs, dir / "f", kAccessWrite, kDispositionCreate);
    std::uint32_t written = 0;
    ASSERT_EQ(fs.Write(handle, "abc", 3, &written), 0u);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(ReadFile(dir / "f"), "abc3456789");
    ASSERT_EQ(fs.SetEnd(handle), 0u);
    fs.Close(handle);
    EXPECT_EQ(ReadFile(dir / "f"), "abc");
}

TEST(FileSystemOpen, DispositionsAndResultCodes) {
    TempDir dir;
    FileSystem fs;
    FileHandle handle = 1234;
    EXPECT_EQ(fs.Open(U16(dir / "missing"), kAccessRead, 0, kDispositionOpenExisting, &handle,
                      kAttributeNormal),
              kErrorNotFound);
    EXPECT_EQ(fs.LastError(), kErrorNotFound);
    EXPECT_EQ(handle, 1234) << "the handle is written only on success";
    // A directory cannot be opened for writing: any errno but ENOENT is 87.
    EXPECT_EQ(fs.Open(U16(dir.path()), kAccessWrite, 0, kDispositionOpenExisting, &handle,
                      kAttributeNormal),
              kErrorInvalidParameter);

    WriteFile(dir / "t", "0123456789");
    handle = OpenOrFail(fs, dir / "t", kAccessReadWrite, kDispositionTruncate);
    fs.Close(handle);
    EXPECT_EQ(ReadFile(dir / "t"), "");
}

TEST(FileSystemOpen, CreatesWith0660LessUmaskAndCloseOnExec) {
    TempDir dir;
    FileSystem fs;
    const mode_t old = ::umask(022);
    FileHandle handle = OpenOrFail(fs, dir / "new", kAccessWrite, kDispositionCreate);
    ::umask(old);
    struct stat status;
    ASSERT_EQ(::stat((dir / "new").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_NE(::fcntl(static_cast<int>(handle), F_GETFD) & FD_CLOEXEC, 0);
    fs.Close(handle);
}

TEST(FileSystemReadWrite, ReadFillsTheCountOrStopsAtTheEnd) {
    TempDir dir;
    FileSystem fs;
    WriteFile(dir / "four", "abcd");
    FileHandle handle = OpenOrFail(fs, dir / "four", kAccessRead, kDispositionOpenExisting);
    char buffer[16] = {};
    std::uint32_t got = 99;
    ASSERT_EQ(fs.Read(handle, buffer, 10, &got), 0u);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, got), "abcd");
    ASSERT_EQ(fs.Read(handle, buffer, 10, &got), 0u);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(fs.Read(handle, buffer, 10, nullptr), kErrorInvalidParameter);
    EXPECT_EQ(fs.LastError(), kErrorInvalidParameter);
    fs.Close(handle);
}

TEST(FileSystemReadWrite, InvalidHandleCodes) {
    FileSystem fs;
    std::uint32_t count = 0;
    EXPECT_EQ(fs.Write(kInvalidHandle, "x", 1, &count), kErrorInvalidHandle);
    EXPECT_EQ(fs.LastError(), kErrorInvalidHandle);
    EXPECT_EQ(fs.Seek(kInvalidHandle, 0, kSeekBegin), -1);
    EXPECT_EQ(fs.LastError(), kErrorInvalidHandle);
    EXPECT_EQ(fs.SetEnd(kInvalidHandle), kErrorInvalidHandle);
    FileStatus status;
    EXPECT_EQ(fs.HandleStatus(kInvalidHandle, &status, nullptr), kErrorInvalidHandle);
    FileTime time = 0;
    EXPECT_EQ(fs.SetTimes(kInvalidHandle, nullptr, nullptr, &time), kErrorInvalidHandle);
}

TEST(FileSystemReadWrite, SeekOriginsAndAFailedSeekIsVisibleInTheLastError) {
    TempDir dir;
    FileSystem fs;
    WriteFile(dir / "f", "0123456789");
    FileHandle handle = OpenOrFail(fs, dir / "f", kAccessRead, kDispositionOpenExisting);
    EXPECT_EQ(fs.Seek(handle, 0, kSeekEnd), 10);
    EXPECT_EQ(fs.Seek(handle, 4, kSeekBegin), 4);
    EXPECT_EQ(fs.Seek(handle, 2, kSeekCurrent), 6);
    EXPECT_EQ(fs.Seek(handle, 1, 77), 1) << "an unknown origin counts as the start";
    EXPECT_EQ(fs.Seek(handle, -5, kSeekBegin), -1);
    EXPECT_NE(fs.LastError(), 0u);
    fs.Close(handle);
}

TEST(FileSystemReadWrite, LastErrorBelongsToTheCallingThread) {
    FileSystem fs;
    std::uint32_t count = 0;
    ASSERT_EQ(fs.Write(kInvalidHandle, "x", 1, &count), kErrorInvalidHandle);
    ErrorCode seenElsewhere = 99;
    std::thread other([&] {
        FileSystem own;
        seenElsewhere = own.LastError();
    });
    other.join();
    EXPECT_EQ(seenElsewhere, 0u);
    EXPECT_EQ(fs.LastError(), kErrorInvalidHandle);
}

TEST(FileSystemTimes, WholeSecondsOnly) {
    EXPECT_EQ(FileSystem::FromUnixSeconds(0), 116444736000000000ull);
    EXPECT_EQ(FileSystem::ToUnixSeconds(116444736000000000ull + 15999999), 1);
    EXPECT_EQ(FileSystem::FromUnixSeconds(-11644473600 - 5), 0u) << "before 1601 clamps";

    TempDir dir;
    FileSystem fs;
    WriteFile(dir / "f", "x");
    FileHandle handle = OpenOrFail(fs, dir / "f", kAccessWrite, kDispositionOpenExisting);
    const FileTime set = FileSystem::FromUnixSeconds(1500000000) + 7654321;
    ASSERT_EQ(fs.SetTimes(handle, nullptr, nullptr, &set), 0u);
    FileStatus status;
    ASSERT_EQ(fs.HandleStatus(handle, &status, nullptr), 0u);
    EXPECT_EQ(status.modified, FileSystem::FromUnixSeconds(1500000000));
    EXPECT_LT(status.modified, set);
    struct stat times;
    ASSERT_EQ(::fstat(static_cast<int>(handle), &times), 0);
    EXPECT_EQ(times.st_atime, times.st_mtime) << "access time set with the modification time";
    EXPECT_EQ(fs.SetTimes(handle, nullptr, nullptr, nullptr), kErrorInvalidParameter);
    fs.Close(handle);
    EXPECT_EQ(fs_test::ModifiedSeconds(dir / "f"), 1500000000);
}

TEST(FileSystemTimes, FromUnixSecondsOverflowedForTheLargestTimes) {
    constexpr FileTime kLargest = std::numeric_limits<FileTime>::max();
    const FileTime largestWhole = kLargest - kLargest % 10000000;
    EXPECT_EQ(FileSystem::FromUnixSeconds(std::numeric_limits<std::int64_t>::max()), kLargest);
    EXPECT_EQ(FileSystem::FromUnixSeconds(std::numeric_limits<std::int64_t>::max() - 11644473600),
              kLargest);
    EXPECT_EQ(FileSystem::FromUnixSeconds(FileSystem::ToUnixSeconds(kLargest)), largestWhole);
    EXPECT_EQ(FileSystem::ToUnixSeconds(kLargest), 1833029933770);
    EXPECT_EQ(FileSystem::FromUnixSeconds(std::numeric_limits<std::int64_t>::min()), 0u);
}

TEST(FileSystemTempDirectory, FollowsTmpdirOnlyWhenItIsADirectory) {
    TempDir dir;
    FileSystem fs;
    stdx::u16string path;
    WriteFile(dir / "file", "x");
    {
        EnvOverride env("TMPDIR", (dir / "file").c_str());
        ASSERT_EQ(fs.TempDirectory(&path), 0u);
        EXPECT_EQ(U8(path), "/var/tmp/");
    }
    {
        EnvOverride env("TMPDIR", (dir / "missing").c_str());
        fs.TempDirectory(&path);
        EXPECT_EQ(U8(path), "/var/tmp/");
    }
    {
        EnvOverride env("TMPDIR", "/tmp");
        fs.TempDirectory(&path);
        EXPECT_EQ(U8(path), "/tmp/");
    }
    {
        EnvOverride env("TMPDIR", (dir.path() + "/").c_str());
        fs.TempDirectory(&path);
        EXPECT_EQ(U8(path), dir.path() + "/");
    }
}

TEST(FileSystemCreateTempFile, ExclusiveUniqueNamesWithAShortPrefix) {
    TempDir dir;
    FileSystem fs;
    stdx::u16string first;
    stdx::u16string second;
    ASSERT_EQ(fs.CreateTempFile(U16(dir.path()), u"abcdefgh", &first), 0u);
    ASSERT_EQ(fs.CreateTempFile(U16(dir.path() + "/"), u"abcdefgh", &second), 0u);
    EXPECT_NE(first, second);
    const std::string name = U8(first);
    EXPECT_EQ(name.rfind(dir.path() + "/abcde", 0), 0u) << name;
    EXPECT_EQ(name.size(), (dir.path() + "/abcde").size() + 6)
        << "at most 5 prefix characters and a unique tail";
    EXPECT_TRUE(Exists(name));
    EXPECT_EQ(ReadFile(name), "");

    stdx::u16string failed = u"stale";
    EXPECT_EQ(fs.CreateTempFile(U16(dir / "missing"), u"pdk", &failed), kErrorTempFile);
    EXPECT_TRUE(failed.empty()) << "no name to remove that is not ours";
}

TEST(FileSystemMakeDirectory, CreatesEveryLevelAndReportsTheTableCodes) {
    TempDir dir;
    FileSystem fs;
    EXPECT_EQ(fs.MakeDirectory(U16(dir.path())), kErrorAlreadyExists);
    EXPECT_EQ(fs.MakeDirectory(U16(dir / "a/b//c/")), 0u);
    struct stat status;
    ASSERT_EQ(::stat((dir / "a/b/c").c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(fs.MakeDirectory(U16(dir / "a/b/c")), kErrorAlreadyExists);

    WriteFile(dir / "file", "x");
    EXPECT_EQ(fs.MakeDirectory(U16(dir / "file/sub")), kErrorNotFound);
    EXPECT_EQ(fs.MakeDirectory(U16(dir / "file")), kErrorNotFound);
    EXPECT_EQ(fs.MakeDirectory(U16(dir / std::string(300, 'n'))), kErrorInvalidParameter);
}

TEST(FileSystemRemove, RemoveFileUnlinksOnlyThatName) {
    TempDir dir;
    FileSystem fs;
    WriteFile(dir / "target", "t");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    EXPECT_EQ(fs.RemoveFile(U16(dir / "link")), 0u);
    EXPECT_FALSE(Exists(dir / "link"));
    EXPECT_TRUE(Exists(dir / "target"));
    EXPECT_EQ(fs.RemoveFile(U16(dir / "missing")), 0u);
}

// Names that a shell would have taken as commands are plain names here.
TEST(FileSystemShellMetacharacters, PathsReachTheSystemUnchanged) {
    TempDir dir;
    FileSystem fs;
    const std::string weird = dir / "a \"q\" $(touch pwned) `touch pwned2` ; rm -rf x & Ключ";
    ASSERT_EQ(fs.MakeDirectory(U16(weird + "/sub dir")), 0u);
    FileHandle handle =
        OpenOrFail(fs, weird + "/sub dir/f $HOME", kAccessWrite, kDispositionCreate);
    std::uint32_t written = 0;
    ASSERT_EQ(fs.Write(handle, "ok", 2, &written), 0u);
    fs.Close(handle);
    ASSERT_EQ(fs.Rename(U16(weird + "/sub dir/f $HOME"), U16(weird + "/moved `x`"), false), 0u);
    EXPECT_EQ(ReadFile(weird + "/moved `x`"), "ok");
    stdx::u16string temp;
    ASSERT_EQ(fs.CreateTempFile(U16(weird), u"$(x)", &temp), 0u);
    EXPECT_TRUE(Exists(U8(temp)));
    EXPECT_EQ(fs.RemoveTree(U16(weird)), 0u);
    EXPECT_FALSE(Exists(weird));
    EXPECT_FALSE(Exists("pwned"));
    EXPECT_FALSE(Exists(dir / "pwned"));
    EXPECT_FALSE(Exists("pwned2"));
    EXPECT_EQ(fs_test::CountEntries(dir.path()), 0u);
}

TEST(FileSystemSizes, SizesBeyondFourGiB) {
    TempDir dir;
    FileSystem fs;
    const std::string path = dir / "sparse";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5ll << 30), 0);
    ::close(fd);
    std::uint64_t full = 0;
    EXPECT_FALSE(fs.GetFileSize(U16(path), &full));
    EXPECT_EQ(full, 5ull << 30);
    EXPECT_TRUE(fs.GetFileSize(U16(dir / "missing"), &full));
    EXPECT_TRUE(fs.GetFileSize(U16(path), nullptr));
}

TEST(FileSystemSizes, TempFreeSpace) {
    FileSystem fs;
    std::uint64_t freeBytes = 0;
    ASSERT_EQ(fs.GetTempFreeSpace(&freeBytes), 0u);
    EXPECT_GT(freeBytes, 0u);
    EXPECT_EQ(fs.GetTempFreeSpace(nullptr), kErrorInvalidParameter);
}

TEST(FileSystemKernelCopy, CopyRangeAtMovesBytesAndAdvancesOnlyTheTarget) {
    TempDir dir;
    FileSystem fs;
    WriteFile(dir / "from", "0123456789");
    FileHandle from = OpenOrFail(fs, dir / "from", kAccessRead, kDispositionOpenExisting);
    FileHandle to = OpenOrFail(fs, dir / "to", kAccessWrite, kDispositionCreate);
    std::uint32_t copied = 99;
    ErrorCode code = 99;
    const bool inKernel = fs.CopyRangeAt(from, 3, to, 4, &copied, &code);
    if (!fs_features::kKernelCopy) {
        // The caller copies through its own buffer: nothing happened yet.
        EXPECT_FALSE(inKernel);
        EXPECT_EQ(copied, 0u);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(fs.Seek(to, 0, kSeekCurrent), 0);
        fs.Close(from);
        fs.Close(to);
        EXPECT_EQ(ReadFile(dir / "to"), "");
        return;
    }
    if (!inKernel) {
        GTEST_SKIP() << "copy_file_range is not available between these files";
    }
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(copied, 4u);
    EXPECT_EQ(fs.Seek(from, 0, kSeekCurrent), 0);
    EXPECT_EQ(fs.Seek(to, 0, kSeekCurrent), 4);
    ASSERT_TRUE(fs.CopyRangeAt(from, 7, to, 100, &copied, &code));
    EXPECT_EQ(copied, 3u);
    ASSERT_TRUE(fs.CopyRangeAt(from, 10, to, 100, &copied, &code));
    EXPECT_EQ(copied, 0u) << "0 only at the end of the source";
    fs.Close(from);
    fs.Close(to);
    EXPECT_EQ(ReadFile(dir / "to"), "3456789");
}

}  // namespace
