#pragma once

#include <sys/stat.h>

#include <string>

// Whole-tree operations behind FileSystem::Move and FileSystem::RemoveTree.
// Paths are UTF-8 bytes; nothing here follows a symbolic link it meets
// inside a tree.
namespace file_tree {

// Copies `source` (whose lstat is `status`: a file, a directory tree or a
// symbolic link) with its bytes, permission bits and times to a temporary
// name beside `destination`, renames that into place and then removes the
// source. On failure the partial copy is removed and false returned; the
// source is untouched, except that a directory whose removal fails half-way
// keeps what could not be removed while its complete copy stays at
// `destination`.
bool MoveAcrossFileSystems(const std::string& source, const struct stat& status,
                           const std::string& destination);

// Removes `path` and, when it is a directory (not a link to one), everything
// below it, however deep: at most 16 directories are held open at once, and
// a directory that had to be closed is found again through ".." of its
// child only while it is still the same directory. A missing path counts as
// removed. "", "/" and paths ending in "." or ".." are refused. True when
// nothing is left; otherwise the entries that could not go stay, with the
// directories above them.
bool RemoveTree(const std::string& path);

}  // namespace file_tree
