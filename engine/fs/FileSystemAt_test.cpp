// The operations relative to an open directory: one level each, no link
// followed, the same codes as their path forms.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/FileSystemTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

class FileSystemAtTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir((m_dir / "sub").c_str(), 0700), 0);
        WriteFile(m_dir / "file", "file bytes");
        ASSERT_EQ(symlink((m_dir / "sub").c_str(), (m_dir / "link").c_str()), 0);
        ASSERT_EQ(symlink("/nonexistent/x", (m_dir / "dangling").c_str()), 0);
        ASSERT_EQ(m_fs.OpenDirectoryAt(kInvalidHandle, m_dir.path(), &m_handle), kErrorSuccess);
    }
    void TearDown() override { m_fs.Close(m_handle); }

    TempDir m_dir;
    FileSystem m_fs;
    FileHandle m_handle = kInvalidHandle;
};

TEST_F(FileSystemAtTest, OpenDirectoryAtOpensOneRealDirectoryLevel) {
    const struct {
        const char* name;
        ErrorCode code;
    } cases[] = {
        {"sub", kErrorSuccess},           {"missing", kErrorNotFound},
        {"link", kErrorInvalidParameter}, {"dangling", kErrorInvalidParameter},
        {"file", kErrorInvalidParameter}, {"sub/..", kErrorInvalidParameter},
        {"", kErrorInvalidParameter},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        FileHandle handle = kInvalidHandle;
        EXPECT_EQ(m_fs.OpenDirectoryAt(m_handle, entry.name, &handle), entry.code);
        EXPECT_EQ(handle != kInvalidHandle, entry.code == kErrorSuccess);
        if (handle != kInvalidHandle) {
            m_fs.Close(handle);
        }
    }
    // The root is named by the user: a link to a directory serves there.
    FileHandle root = kInvalidHandle;
    EXPECT_EQ(m_fs.OpenDirectoryAt(kInvalidHandle, m_dir / "link", &root), kErrorSuccess);
    m_fs.Close(root);
}

TEST_F(FileSystemAtTest, StatusAtTellsTheNameItself) {
    const struct {
        const char* name;
        FileType type;
    } cases[] = {
        {"sub", FileType::Directory}, {"file", FileType::Regular},    {"link", FileType::Link},
        {"dangling", FileType::Link}, {"missing", FileType::Missing},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        FileStatus status;
        EXPECT_EQ(m_fs.StatusAt(m_handle, entry.name, &status), kErrorSuccess);
        EXPECT_EQ(status.type, entry.type);
    }
    FileStatus status;
    EXPECT_EQ(m_fs.StatusAt(m_handle, "sub/x", &status), kErrorInvalidParameter);
}

TEST_F(FileSystemAtTest, CreateAndRenameCodes) {
    FileHandle created = kInvalidHandle;
    ASSERT_EQ(m_fs.CreateExclusiveAt(m_handle, "new", true, &created), kErrorSuccess);
    m_fs.Close(created);
    struct stat status;
    ASSERT_EQ(lstat((m_dir / "new").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u) << "private mode";
    // The plain POSIX build cannot exchange, and says so before it looks.
    const ErrorCode exchanged = fs_features::kExchangeRename ? kErrorSuccess : kErrorNotSupported;
    const ErrorCode exchangeMissing =
        fs_features::kExchangeRename ? kErrorNotFound : kErrorNotSupported;

    const struct {
        const char* what;
        std::function<ErrorCode()> call;
        ErrorCode code;
    } cases[] = {
        {"exclusive over a file",
         [&] {
             FileHandle h = kInvalidHandle;
             return m_fs.CreateExclusiveAt(m_handle, "file", false, &h);
         },
         kErrorAlreadyExists},
        {"exclusive over a dangling link",
         [&] {
             FileHandle h = kInvalidHandle;
             return m_fs.CreateExclusiveAt(m_handle, "dangling", false, &h);
         },
         kErrorAlreadyExists},
        {"directory over a link", [&] { return m_fs.CreateDirectoryAt(m_handle, "link", false); },
         kErrorAlreadyExists},
        {"new directory", [&] { return m_fs.CreateDirectoryAt(m_handle, "made", true); },
         kErrorSuccess},
        {"no-replace rename onto a file",
         [&] { return m_fs.RenameAt(m_handle, "new", m_handle, "file", false); },
         kErrorAlreadyExists},
        {"rename of a missing name",
         [&] { return m_fs.RenameAt(m_handle, "missing", m_handle, "x", true); }, kErrorNotFound},
        {"no-replace rename into another directory",
         [&] {
             FileHandle sub = kInvalidHandle;
             m_fs.OpenDirectoryAt(m_handle, "sub", &sub);
             const ErrorCode code = m_fs.RenameAt(m_handle, "new", sub, "moved", false);
             m_fs.Close(sub);
             return code;
         },
         kErrorSuccess},
        {"replacing rename",
         [&] { return m_fs.RenameAt(m_handle, "file", m_handle, "copy", true); }, kErrorSuccess},
        {"exchange with a missing name",
         [&] { return m_fs.ExchangeAt(m_handle, "copy", m_handle, "missing"); }, exchangeMissing},
        {"exchange with a name in another directory",
         [&] {
             FileHandle sub = kInvalidHandle;
             m_fs.OpenDirectoryAt(m_handle, "sub", &sub);
             const ErrorCode code = m_fs.ExchangeAt(m_handle, "copy", sub, "moved");
             m_fs.Close(sub);
             return code;
         },
         exchanged},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        EXPECT_EQ(entry.call(), entry.code);
    }
    EXPECT_EQ(ReadFile(m_dir / "copy"), fs_features::kExchangeRename ? "" : "file bytes");
    EXPECT_EQ(ReadFile(m_dir / "sub/moved"), fs_features::kExchangeRename ? "file bytes" : "");
    ASSERT_EQ(stat((m_dir / "made").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0077, 0u) << "private mode";
}

TEST_F(FileSystemAtTest, ReadsFromAnOffsetLeaveThePositionAlone) {
    FileHandle source = kInvalidHandle;
    ASSERT_EQ(m_fs.Open(U16(m_dir / "file"), kAccessRead, 0, kDispositionOpenExisting, &source,
                        kAttributeNormal),
              kErrorSuccess);
    char buffer[16] = {};
    std::uint32_t got = 0;
    ASSERT_EQ(m_fs.ReadAt(source, 5, buffer, sizeof(buffer), &got), kErrorSuccess);
    EXPECT_EQ(std::string(buffer, got), "bytes");

    FileHandle target = kInvalidHandle;
    ASSERT_EQ(m_fs.CreateExclusiveAt(m_handle, "out", false, &target), kErrorSuccess);
    std::uint32_t copied = 0;
    ErrorCode code = kErrorSuccess;
    if (m_fs.CopyRangeAt(source, 2, target, 3, &copied, &code)) {
        EXPECT_EQ(code, kErrorSuccess);
        EXPECT_EQ(copied, 3u);
        EXPECT_EQ(ReadFile(m_dir / "out"), "le ");
    }
    EXPECT_EQ(m_fs.Seek(source, 0, kSeekCurrent), 0) << "position untouched";
    m_fs.Close(target);
    m_fs.Close(source);
}

}  // namespace

namespace {

TEST_F(FileSystemAtTest, RemoveAtTakesOneLevelAndNeverFollowsALink) {
    ASSERT_EQ(mkdir((m_dir / "empty").c_str(), 0700), 0);
    WriteFile(m_dir / "sub/inside", "x");
    const struct {
        const char* name;
        bool directory;
        ErrorCode code;
        const char* gone;  // what must be gone afterwards, or null
    } cases[] = {
        {"file", false, kErrorSuccess, "file"},
        {"missing", false, kErrorNotFound, nullptr},
        {"empty", false, kErrorInvalidParameter, nullptr},
        {"link", false, kErrorSuccess, "link"},          // the link itself, not its target
        {"sub", true, kErrorInvalidParameter, nullptr},  // not empty
        {"dangling", true, kErrorInvalidParameter, nullptr},
        {"empty", true, kErrorSuccess, "empty"},
        {"missing", true, kErrorNotFound, nullptr},
        {"sub/inside", false, kErrorInvalidParameter, nullptr},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(std::string(entry.name) + (entry.directory ? " as directory" : ""));
        const ErrorCode code = entry.directory ? m_fs.RemoveDirectoryAt(m_handle, entry.name)
                                               : m_fs.RemoveFileAt(m_handle, entry.name);
        EXPECT_EQ(code, entry.code);
        if (entry.gone != nullptr) {
            struct stat status;
            EXPECT_NE(lstat((m_dir / entry.gone).c_str(), &status), 0);
        }
    }
    EXPECT_EQ(ReadFile(m_dir / "sub/inside"), "x");
}

TEST_F(FileSystemAtTest, ListDirectoryNamesEveryEntryAndLeavesTheHandleAlone) {
    std::vector<std::string> names;
    ASSERT_EQ(m_fs.ListDirectory(m_handle, &names), kErrorSuccess);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"dangling", "file", "link", "sub"}));
    // Twice in a row: the handle's own position was not used up.
    ASSERT_EQ(m_fs.ListDirectory(m_handle, &names), kErrorSuccess);
    EXPECT_EQ(names.size(), 4u);
    EXPECT_EQ(m_fs.ListDirectory(kInvalidHandle, &names), kErrorInvalidParameter);
}

TEST_F(FileSystemAtTest, StatusAtGivesSizeAndPermissionBits) {
    ASSERT_EQ(chmod((m_dir / "file").c_str(), 0640), 0);
    FileStatus status;
    ASSERT_EQ(m_fs.StatusAt(m_handle, "file", &status), kErrorSuccess);
    EXPECT_EQ(status.size, 10u);
    EXPECT_EQ(status.mode, 0640u);
    ASSERT_EQ(m_fs.StatusAt(m_handle, "sub", &status), kErrorSuccess);
    EXPECT_EQ(status.mode, 0700u);
}

TEST_F(FileSystemAtTest, StorageTellsMemoryFileSystemsFromDisks) {
    StorageInfo info;
    ASSERT_EQ(m_fs.StorageOf(U16(m_dir.path()), &info), kErrorSuccess);
    struct stat status;
    ASSERT_EQ(stat(m_dir.path().c_str(), &status), 0);
    EXPECT_EQ(info.device, static_cast<std::uint64_t>(status.st_dev));
    EXPECT_EQ(m_fs.StorageOf(U16(m_dir / "missing"), &info), kErrorNotFound);
    EXPECT_TRUE(info.persistent) << m_dir.path();
    // /dev/shm is a memory file system on every Linux this runs on; without
    // the platform's word for that it counts as a disk.
    if (stat("/dev/shm", &status) == 0) {
        ASSERT_EQ(m_fs.StorageOf(u"/dev/shm", &info), kErrorSuccess);
        EXPECT_EQ(info.persistent, !fs_features::kTellsMemoryFileSystems);
    }
}

TEST_F(FileSystemAtTest, SyncingTheFileSystemSucceedsOrSaysItCannot) {
    constexpr ErrorCode kUntouched = 99;
    ErrorCode code = kUntouched;
    EXPECT_EQ(m_fs.SyncFileSystem(m_handle, &code), fs_features::kFileSystemSync);
    EXPECT_EQ(code, fs_features::kFileSystemSync ? kErrorSuccess : kUntouched);
    code = kUntouched;
    EXPECT_EQ(m_fs.SyncFileSystem(kInvalidHandle, &code), fs_features::kFileSystemSync);
    EXPECT_EQ(code, fs_features::kFileSystemSync ? kErrorInvalidParameter : kUntouched);
    EXPECT_EQ(m_fs.FlushDeviceCache(m_handle), kErrorSuccess);
    EXPECT_EQ(m_fs.FlushDeviceCache(kInvalidHandle), kErrorInvalidParameter);
}

}  // namespace
