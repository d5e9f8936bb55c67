#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>

#include "text/String.h"

// Enumerates the entries of one directory whose names match a pattern, or
// tests whether one plain path exists. Owned by one caller; not copyable.
class FileFinder {
public:
    FileFinder();
    ~FileFinder();
    FileFinder(const FileFinder&) = delete;
    FileFinder& operator=(const FileFinder&) = delete;

    // With a "*" in the last component ("dir/*.cfg"): starts enumerating the
    // directory before the last "/" and returns whether a first match was
    // found. Otherwise the path is plain: returns whether it exists, and the
    // current name is its last component. "." and ".." and hidden names
    // match "*"; callers skip "." and "..".
    bool First(const stdx::u16string& searchPath);
    // True when a further matching entry was found; false at the end of the
    // directory or when no enumeration runs. An entry that vanishes between
    // listing and status is skipped.
    bool Next();
    // The current entry's name (no directory part).
    stdx::u16string Name() const;
    // 16 when the current entry is a directory (links are followed), else 0.
    std::uint32_t IsDirectory() const;
    // True when the current entry itself is a symbolic link. Tree walks that
    // remove or move entries check it so that they never follow a link out
    // of the tree.
    bool IsSymbolicLink() const;

private:
    void CloseDirectory();

    stdx::u16string m_pattern;
    stdx::u16string m_searchPath;
    stdx::u16string m_name;
    DIR* m_directory;
    struct stat m_status;
    bool m_isLink;
};
