#pragma once

#include <string>

// The whole-tree removal behind FileSystem::RemoveTree. Paths are UTF-8
// bytes; nothing here follows a symbolic link it meets inside a tree.
namespace file_tree {

// Removes `path` and, when it is a directory (not a link to one), everything
// below it, however deep: at most 16 directories are held open at once, and
// a directory that had to be closed is found again through ".." of its
// child only while it is still the same directory. A missing path counts as
// removed. "", "/" and paths ending in "." or ".." are refused. True when
// nothing is left; otherwise the entries that could not go stay, with the
// directories above them.
bool RemoveTree(const std::string& path);

}  // namespace file_tree
