// What a file system keeps of a time, probed once per device.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemTestSupport.h"
#include "engine/fs/StoredTimeRules.h"

using fs_test::ProbeCountingFileSystem;
using fs_test::TempDir;
using fs_test::U16;

namespace {

// What a file really keeps when its time is set to `time` in `directory`.
FileTime KeptBySetting(FileSystem& fs, const std::string& directory, FileTime time) {
    const std::string path = directory + "/probe";
    FileHandle handle = kInvalidHandle;
    EXPECT_EQ(fs.CreateExclusive(U16(path), false, &handle), 0u);
    FileStatus status;
    status.modified = 1;
    EXPECT_EQ(fs.SetTimes(handle, nullptr, nullptr, &time), 0u);
    EXPECT_EQ(fs.HandleStatus(handle, &status, nullptr), 0u);
    fs.Close(handle);
    ::unlink(path.c_str());
    return status.modified;
}

TEST(StoredTimeRules, ApplyGivesWhatTheFileSystemKeeps) {
    constexpr FileTime kLargest = std::numeric_limits<FileTime>::max();
    const FileTime year2500 = FileSystem::FromUnixSeconds(16725225600);
    const FileTime times[] = {
        FileSystem::FromUnixSeconds(0),
        1,                                                  // 1601, not a whole second
        FileSystem::FromUnixSeconds(-8520336000),           // 1700
        FileSystem::FromUnixSeconds(-315619199),            // 1960, an odd second
        FileSystem::FromUnixSeconds(2208988800) + 5000000,  // 2040 and a half second
        year2500,
        kLargest,
    };
    struct Place {
        const char* parent;
        long type;  // the statfs magic the place must have, else it is skipped
    } const places[] = {{"/var/tmp", 0xEF53}, {"/dev/shm", 0x01021994}};
    FileSystem fs;
    for (const Place& place : places) {
        struct statfs info;
        if (::statfs(place.parent, &info) != 0 || static_cast<long>(info.f_type) != place.type) {
            std::printf("%s is not the expected file system; not checked there\n", place.parent);
            continue;
        }
        TempDir dir(place.parent);
        StoredTimeRules<> rules;
        for (FileTime time : times) {
            EXPECT_EQ(rules.Of(U16(dir.path())).Apply(time), KeptBySetting(fs, dir.path(), time))
                << place.parent << " " << time;
        }
        // A directory that does not exist yet is judged by its parent.
        EXPECT_EQ(rules.Of(U16(dir / "not/yet")).Apply(year2500),
                  KeptBySetting(fs, dir.path(), year2500));
        EXPECT_EQ(fs_test::CountEntries(dir.path()), 0u) << "the probe left a file";
        if (place.type == 0xEF53) {
            EXPECT_LT(rules.Of(U16(dir.path())).Apply(year2500), year2500) << "ext4 clamps";
        } else {
            EXPECT_EQ(rules.Of(U16(dir.path())).Apply(kLargest), kLargest - kLargest % 10000000);
        }
    }
}

dev_t DeviceOf(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

TEST(StoredTimeRules, ProbesOncePerDeviceAndKeepsNoUnknownRule) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ProbeCountingFileSystem::s_probes = 0;
    ProbeCountingFileSystem::s_refused = true;
    StoredTimeRules<ProbeCountingFileSystem> rules;
    EXPECT_FALSE(rules.Of(U16(dir.path())).known);
    EXPECT_FALSE(rules.Of(U16(dir.path())).known);
    EXPECT_EQ(ProbeCountingFileSystem::s_probes, 2) << "an unknown rule is probed again";

    ProbeCountingFileSystem::s_refused = false;
    const StoredTimeRule first = rules.Of(U16(dir.path()));
    EXPECT_TRUE(first.known);
    EXPECT_EQ(ProbeCountingFileSystem::s_probes, 3);
    const StoredTimeRule again = rules.Of(U16(dir / "sub"));
    EXPECT_EQ(ProbeCountingFileSystem::s_probes, 3) << "the same device is not probed again";
    EXPECT_TRUE(again.known);
    EXPECT_EQ(again.earliest, first.earliest);
    EXPECT_EQ(again.latest, first.latest);
    EXPECT_EQ(again.oddShift, first.oddShift);

    // A directory not made yet has no device of its own to be kept under.
    rules.Of(U16(dir / "not/yet"));
    rules.Of(U16(dir / "not/yet"));
    EXPECT_EQ(ProbeCountingFileSystem::s_probes, 5);

    if (DeviceOf("/dev/shm") != 0 && DeviceOf("/dev/shm") != DeviceOf(dir.path())) {
        TempDir other("/dev/shm");
        EXPECT_TRUE(rules.Of(U16(other.path())).known);
        EXPECT_EQ(ProbeCountingFileSystem::s_probes, 6) << "another device is probed";
    }
}

}  // namespace
