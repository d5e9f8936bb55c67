#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fs/PowerCutModel.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

// The real trees of a power-cut test's roots, read into the model when the
// recording begins and written back from the state a cut leaves. They work
// on the disk directly, not through a FileSystem policy: they stand for the
// machine, not for the code under test.
namespace power_cut {

// Adds everything below `path` to the model's start, below `directory`:
// directories with their permission bits, regular files with their bytes,
// time and permission bits, symbolic links with their target and time.
// Anything else is a test failure and left out.
inline void LoadTree(Model* model, NodeId directory, const std::string& path) {
    std::vector<std::string> names = test_support::ListDir(path);
    // Sorted, so that a tree gets the same node numbers on every run.
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string child = path + "/" + name;
        struct stat status;
        if (::lstat(child.c_str(), &status) != 0) {
            ADD_FAILURE() << "cannot read the status of " << child;
            continue;
        }
        const std::uint32_t mode = status.st_mode & 07777;
        const std::int64_t modified = status.st_mtim.tv_sec;
        if (S_ISDIR(status.st_mode)) {
            LoadTree(model, model->Add(directory, name, Kind::Directory, mode, modified, ""),
                     child);
        } else if (S_ISREG(status.st_mode)) {
            model->Add(directory, name, Kind::File, mode, modified, test_support::ReadFile(child));
        } else if (S_ISLNK(status.st_mode)) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(child, error).string();
            EXPECT_FALSE(error) << "cannot read the link " << child;
            model->Add(directory, name, Kind::Link, mode, modified, target);
        } else {
            ADD_FAILURE() << child << ": only directories, files and links are modeled";
        }
    }
}

// Removes what stands at `path`, a read-only directory tree included.
inline void RemoveEntry(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        test_support::MakeRemovable(path);
    }
    std::error_code error;
    std::filesystem::remove_all(path, error);
    EXPECT_FALSE(error) << "cannot remove " << path << ": " << error.message();
}

// Sets a node's time on what stands at `path`, a link itself rather than
// what it names.
inline void StoreTime(const std::string& path, std::int64_t seconds) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Whether what stands at `path` is `node` already; for a directory, whether
// a directory stands there.
inline bool Matches(const Node& node, const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        return false;
    }
    const bool same = (status.st_mode & 07777) == node.mode &&
                      static_cast<std::int64_t>(status.st_mtim.tv_sec) == node.modified;
    std::error_code error;
    switch (node.kind) {
        case Kind::Directory:
            return S_ISDIR(status.st_mode);
        case Kind::File:
            return S_ISREG(status.st_mode) && same && test_support::ReadFile(path) == node.bytes;
        case Kind::Link:
            return S_ISLNK(status.st_mode) && same &&
                   std::filesystem::read_symlink(path, error).string() == node.bytes;
    }
    return false;
}

// Makes what stands below `path` what the state names below `directory`:
// entries it lacks are removed, those that differ made anew, and the rest
// left alone, so that rebuilding a state like the last one costs little. A
// directory gets its permission bits once it is filled, so that a
// read-only one can be.
inline void StoreTree(const DiskState& state, NodeId directory, const std::string& path) {
    const auto& entries = state.nodes[directory].entries;
    for (const std::string& name : test_support::ListDir(path)) {
        if (entries.count(name) == 0) {
            RemoveEntry(path + "/" + name);
        }
    }
    for (const auto& entry : entries) {
        const Node& node = state.nodes[entry.second];
        const std::string child = path + "/" + entry.first;
        const bool matches = Matches(node, child);
        if (!matches) {
            RemoveEntry(child);
        }
        switch (node.kind) {
            case Kind::Directory:
                EXPECT_EQ(matches ? ::chmod(child.c_str(), 0700) : ::mkdir(child.c_str(), 0700), 0)
                    << child;
                StoreTree(state, entry.second, child);
                EXPECT_EQ(::chmod(child.c_str(), node.mode), 0) << child;
                break;
            case Kind::File:
                if (!matches) {
                    test_support::WriteFile(child, node.bytes);
                    EXPECT_EQ(::chmod(child.c_str(), node.mode), 0) << child;
                    StoreTime(child, node.modified);
                }
                break;
            case Kind::Link:
                if (!matches) {
                    EXPECT_EQ(::symlink(node.bytes.c_str(), child.c_str()), 0) << child;
                    StoreTime(child, node.modified);
                }
                break;
        }
    }
}

}  // namespace power_cut
