#include "engine/fs/FileTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <vector>

namespace file_tree {
namespace {

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// One directory on the way down a removal.
struct Level {
    // Null while closed to stay within the descriptor budget.
    DIR* listing = nullptr;
    dev_t device = 0;
    ino_t inode = 0;
    // Its name in the directory above (unused for the top).
    std::string name;
    // Entries that could not be removed; a reopened listing skips them
    // instead of trying them again for ever.
    std::set<std::string> kept;
    bool removedAll = true;
};

// At most this many listings are open at once, whatever the depth: a tree
// deeper than the open-file limit must still go completely.
constexpr std::size_t kOpenListings = 16;

// Opens `name` below `directory` as a listing if it is still the directory
// that `status` describes: a directory swapped for a link or for another
// directory since the fstatat must not lead the removal somewhere else.
DIR* OpenListing(int directory, const char* name, const struct stat& status) {
    const int fd = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat opened;
    DIR* listing = nullptr;
    if (::fstat(fd, &opened) == 0 && opened.st_dev == status.st_dev &&
        opened.st_ino == status.st_ino) {
        listing = ::fdopendir(fd);
    }
    if (listing == nullptr) {
        ::close(fd);
    }
    return listing;
}

// Closes the shallowest open listing once more than kOpenListings are open.
// The open ones are always the deepest levels, so this closes at most one.
void KeepWithinBudget(std::vector<Level>& levels) {
    std::size_t open = 0;
    for (const Level& level : levels) {
        open += level.listing != nullptr ? 1 : 0;
    }
    for (Level& level : levels) {
        if (open <= kOpenListings) {
            return;
        }
        if (level.listing != nullptr) {
            ::closedir(level.listing);
            level.listing = nullptr;
            --open;
        }
    }
}

// Opens the closed listing of `parent` again through ".." of the level just
// finished, whose listing is still open. Only if ".." is still the same
// directory: one moved elsewhere meanwhile is left alone.
bool ReopenParent(Level& parent, const Level& child) {
    const int fd = ::openat(::dirfd(child.listing), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || opened.st_dev != parent.device ||
        opened.st_ino != parent.inode || (parent.listing = ::fdopendir(fd)) == nullptr) {
        ::close(fd);
        return false;
    }
    return true;
}

void CloseAll(std::vector<Level>& levels) {
    for (Level& level : levels) {
        if (level.listing != nullptr) {
            ::closedir(level.listing);
        }
    }
    levels.clear();
}

// Removes the directory tree at `path` (whose lstat is `status`) without
// recursion: the levels are kept in memory and only the deepest
// kOpenListings of them hold a descriptor.
bool RemoveDirectoryTree(const char* path, const struct stat& status) {
    std::vector<Level> levels(1);
    levels[0].listing = OpenListing(AT_FDCWD, path, status);
    levels[0].device = status.st_dev;
    levels[0].inode = status.st_ino;
    if (levels[0].listing == nullptr) {
        return false;
    }
    for (;;) {
        Level& top = levels.back();
        const int fd = ::dirfd(top.listing);
        errno = 0;
        if (const dirent* entry = ::readdir(top.listing)) {
            const std::string name(entry->d_name);
            if (IsDotOrDotDot(name.c_str()) || top.kept.count(name) != 0) {
                continue;
            }
            // The listing's own type saves a status per file; unlinkat
            // refuses a directory anyway, should one have taken the name.
            if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_DIR) {
                if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
                    top.kept.insert(name);
                    top.removedAll = false;
                }
                continue;
            }
            struct stat child;
            if (::fstatat(fd, name.c_str(), &child, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno != ENOENT) {
                    top.kept.insert(name);
                    top.removedAll = false;
                }
                continue;
            }
            if (!S_ISDIR(child.st_mode)) {
                if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
                    top.kept.insert(name);
                    top.removedAll = false;
                }
                continue;
            }
            Level next;
            next.listing = OpenListing(fd, name.c_str(), child);
            if (next.listing == nullptr) {
                top.kept.insert(name);
                top.removedAll = false;
                continue;
            }
            next.device = child.st_dev;
            next.inode = child.st_ino;
            next.name = name;
            levels.push_back(std::move(next));
            KeepWithinBudget(levels);
            continue;
        }
        if (errno != 0) {
            // A listing that cannot be read to its end cannot be emptied.
            top.removedAll = false;
        }
        if (levels.size() == 1) {
            const bool removedAll = top.removedAll;
            CloseAll(levels);
            return (::unlinkat(AT_FDCWD, path, AT_REMOVEDIR) == 0 || errno == ENOENT) && removedAll;
        }
        Level& parent = levels[levels.size() - 2];
        if (parent.listing == nullptr && !ReopenParent(parent, top)) {
            CloseAll(levels);
            return false;
        }
        // The parent's listing continues where it was, or starts again when
        // it was reopened; what is gone is not listed again, what stayed is
        // in `kept`.
        if (!top.removedAll ||
            (::unlinkat(::dirfd(parent.listing), top.name.c_str(), AT_REMOVEDIR) != 0 &&
             errno != ENOENT)) {
            parent.kept.insert(top.name);
            parent.removedAll = false;
        }
        ::closedir(top.listing);
        levels.pop_back();
    }
}

}  // namespace

bool RemoveTree(const std::string& path) {
    const std::string target = StripTrailingSlashes(path);
    const std::size_t slash = target.rfind('/');
    const std::string last = slash == std::string::npos ? target : target.substr(slash + 1);
    // Like rm, never "." or "..": they would empty the directory around them.
    if (target.empty() || target == "/" || IsDotOrDotDot(last.c_str())) {
        return false;
    }
    struct stat status;
    if (::lstat(target.c_str(), &status) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(status.st_mode)) {
        return ::unlink(target.c_str()) == 0 || errno == ENOENT;
    }
    return RemoveDirectoryTree(target.c_str(), status);
}

}  // namespace file_tree
