// The single steps the install worker is built from never follow a link
// and never replace what they are not told to.

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/FileSystemTestSupport.h"

using fs_test::Exists;
using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

// Regression: a link planted at a template path was followed by the write.
TEST(FileSystemSteps, CreateExclusiveRefusesEveryExistingNameAndNeverFollowsALink) {
    TempDir dir;
    WriteFile(dir / "file", "kept");
    ASSERT_EQ(symlink((dir / "elsewhere").c_str(), (dir / "dangling").c_str()), 0);
    ASSERT_EQ(symlink((dir / "file").c_str(), (dir / "to-file").c_str()), 0);
    FileSystem fileSystem;
    const struct {
        const char* name;
        ErrorCode code;
    } cases[] = {
        {"file", kErrorAlreadyExists},      {"dangling", kErrorAlreadyExists},
        {"to-file", kErrorAlreadyExists},   {"missing/x", kErrorNotFound},
        {"file/x", kErrorInvalidParameter}, {"new", kErrorSuccess},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        FileHandle handle = kInvalidHandle;
        EXPECT_EQ(fileSystem.CreateExclusive(U16(dir / entry.name), false, &handle), entry.code);
        if (handle != kInvalidHandle) {
            fileSystem.Close(handle);
        }
    }
    EXPECT_FALSE(Exists(dir / "elsewhere"));
    EXPECT_EQ(ReadFile(dir / "file"), "kept");
}

TEST(FileSystemSteps, RenameWithoutReplaceKeepsTheDestination) {
    TempDir dir;
    WriteFile(dir / "a", "a");
    WriteFile(dir / "b", "b");
    FileSystem fileSystem;
    EXPECT_EQ(fileSystem.Rename(U16(dir / "a"), U16(dir / "b"), false), kErrorAlreadyExists);
    EXPECT_EQ(ReadFile(dir / "a"), "a");
    EXPECT_EQ(ReadFile(dir / "b"), "b");
    EXPECT_EQ(fileSystem.Rename(U16(dir / "x"), U16(dir / "y"), false), kErrorNotFound);
    EXPECT_EQ(fileSystem.Rename(U16(dir / "a"), U16(dir / "c"), false), kErrorSuccess);
    EXPECT_EQ(ReadFile(dir / "c"), "a");
    EXPECT_EQ(fileSystem.Rename(U16(dir / "c"), U16(dir / "b"), true), kErrorSuccess);
    EXPECT_EQ(ReadFile(dir / "b"), "a");
    EXPECT_FALSE(Exists(dir / "c"));

    // A directory cannot be given a second name: without an exclusive
    // rename of the platform's own it stays where it is.
    ASSERT_EQ(mkdir((dir / "d").c_str(), 0700), 0);
    EXPECT_EQ(fileSystem.Rename(U16(dir / "d"), U16(dir / "e"), false),
              fs_features::kExclusiveRename ? kErrorSuccess : kErrorInvalidParameter);
    EXPECT_EQ(Exists(dir / "e"), fs_features::kExclusiveRename);
    EXPECT_NE(Exists(dir / "d"), fs_features::kExclusiveRename);
}

TEST(FileSystemSteps, StatusTellsTheLiteralEntry) {
    TempDir dir;
    WriteFile(dir / "f*", "x");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink((dir / "f*").c_str(), (dir / "link").c_str()), 0);
    FileSystem fileSystem;
    const struct {
        const char* name;
        FileType type;
    } cases[] = {
        {"f*", FileType::Regular}, {"f?", FileType::Missing},   {"pipe", FileType::Other},
        {"link", FileType::Link},  {"f*/x", FileType::Missing}, {"", FileType::Directory},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        FileStatus status;
        EXPECT_EQ(fileSystem.Status(U16(dir / entry.name), &status), kErrorSuccess);
        EXPECT_EQ(status.type, entry.type);
    }
}

}  // namespace
