#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

// What a directory holds: the names in one directory, and everything below
// one as a snapshot that compares equal only when nothing changed.
namespace test_support {

// The names in a directory other than "." and "..", in the order the system
// lists them; none when it cannot be read, so that a directory that is not
// there holds nothing.
inline std::vector<std::string> ListDir(const std::string& directory) {
    std::vector<std::string> names;
    DIR* stream = ::opendir(directory.c_str());
    if (stream == nullptr) {
        return names;
    }
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(stream);
    return names;
}

// The number of entries of a directory. Counting one that is not there is a
// test failure rather than a count of none.
inline std::size_t CountEntries(const std::string& directory) {
    struct stat status;
    EXPECT_TRUE(::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        << "no directory " << directory;
    return ListDir(directory).size();
}

// The entries of a directory whose name starts with prefix.
inline std::vector<std::string> EntriesWithPrefix(const std::string& directory,
                                                  const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& name : ListDir(directory)) {
        if (name.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(name);
        }
    }
    return found;
}

// How much of each entry a snapshot keeps.
enum class TreeDetail {
    // What a user sees: which entries are directories, and the bytes and
    // modification time in whole seconds of every other one (of what a link
    // leads to, for the bytes). Directory times are left out: adding and
    // removing entries changes them, however carefully it is undone.
    kContents,
    // Byte for byte: the mode, size and modification time to the nanosecond
    // of every entry, directories and links included, and the bytes of
    // regular files. Nothing else is opened, so FIFOs and devices may stand
    // in the tree.
    kExact,
};

// One entry of a tree as a snapshot keeps it; what the detail leaves out
// stays zero.
struct TreeEntry {
    bool directory = false;
    std::string bytes;
    std::int64_t mtime = 0;
    std::int64_t mtimeNanoseconds = 0;
    std::uint32_t mode = 0;
    std::int64_t size = 0;

    bool operator==(const TreeEntry& other) const {
        return directory == other.directory && bytes == other.bytes && mtime == other.mtime &&
               mtimeNanoseconds == other.mtimeNanoseconds && mode == other.mode &&
               size == other.size;
    }
    bool operator!=(const TreeEntry& other) const { return !(*this == other); }
};

// Keeps a failed comparison readable: a short start of the bytes, not a
// dump of the object.
inline void PrintTo(const TreeEntry& entry, std::ostream* out) {
    if (entry.directory) {
        *out << "directory";
    } else {
        const std::size_t shown = 40;
        *out << '"' << entry.bytes.substr(0, shown) << (entry.bytes.size() > shown ? "...\"" : "\"")
             << " of " << entry.mtime;
    }
    if (entry.mode != 0) {
        *out << " at " << entry.mtime << "." << entry.mtimeNanoseconds << " mode " << std::oct
             << entry.mode << std::dec << " size " << entry.size;
    }
}

// Every entry below a root, by its path relative to the root.
using Tree = std::map<std::string, TreeEntry>;

inline void SnapshotInto(const std::string& root, const std::string& relative, TreeDetail detail,
                         Tree* tree) {
    for (const std::string& name : ListDir(relative.empty() ? root : root + "/" + relative)) {
        const std::string childRelative = relative.empty() ? name : relative + "/" + name;
        const std::string childPath = root + "/" + childRelative;
        struct stat status;
        if (::lstat(childPath.c_str(), &status) != 0) {
            continue;
        }
        TreeEntry& entry = (*tree)[childRelative];
        entry.directory = S_ISDIR(status.st_mode);
        if (detail == TreeDetail::kExact) {
            entry.mode = status.st_mode;
            entry.size = status.st_size;
            entry.mtime = status.st_mtime;
            entry.mtimeNanoseconds = status.st_mtim.tv_nsec;
            if (S_ISREG(status.st_mode)) {
                entry.bytes = ReadFile(childPath);
            }
        } else if (!entry.directory) {
            struct stat target;
            entry.mtime = status.st_mtime;
            if (::stat(childPath.c_str(), &target) == 0 && S_ISREG(target.st_mode)) {
                entry.bytes = ReadFile(childPath);
            }
        }
        if (entry.directory) {
            SnapshotInto(root, childRelative, detail, tree);
        }
    }
}

// Every entry below root (root itself left out); none when root is not
// there.
inline Tree Snapshot(const std::string& root, TreeDetail detail = TreeDetail::kContents) {
    Tree tree;
    SnapshotInto(root, "", detail, &tree);
    return tree;
}

// Where a run directory keeps an earlier copy with these bytes while the
// run works: below its backup directory ("files"), or, after an exchange
// with its replacement, below its stage. Empty when it holds none.
inline std::string EarlierCopyIn(const std::string& runDir, const std::string& bytes) {
    for (const auto& entry : Snapshot(runDir)) {
        const bool inside =
            entry.first.compare(0, 6, "files/") == 0 || entry.first.compare(0, 6, "stage/") == 0;
        if (inside && !entry.second.directory && entry.second.bytes == bytes) {
            return runDir + "/" + entry.first;
        }
    }
    return std::string();
}

}  // namespace test_support
