#include "engine/fs/FileTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>
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

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RandomTag() {
    static const char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::string tag;
    for (int i = 0; i < 10; ++i) {
        tag.push_back(kAlphabet[engine() % (sizeof(kAlphabet) - 1)]);
    }
    return tag;
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

// The copy helpers return 0 or an errno value. `*created` tells the caller
// whether the target entry now exists and so must be removed on failure.
int CopyEntryAt(int fromDirectory, const char* fromName, const struct stat& status, int toDirectory,
                const char* toName, bool* created);

bool CopyBytes(int in, int out) {
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            return true;
        }
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = ::write(out, buffer.data() + done, got - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                if (put == 0) {
                    errno = EIO;
                }
                return false;
            }
            done += put;
        }
    }
}

int CopyFileAt(int fromDirectory, const char* fromName, const struct stat& status, int toDirectory,
               const char* toName, bool* created) {
    const int in = ::openat(fromDirectory, fromName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        return errno;
    }
    const int out = ::openat(toDirectory, toName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    *created = true;
    int result = 0;
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (!CopyBytes(in, out)) {
        result = errno != 0 ? errno : EIO;
    } else if (::fchmod(out, status.st_mode & 07777) != 0 || ::futimens(out, times) != 0) {
        result = errno;
    }
    ::close(in);
    // A late write error (a full disk on a network file system) can show up
    // only here.
    if (::close(out) != 0 && result == 0) {
        result = errno;
    }
    return result;
}

int CopyDirectoryAt(int fromDirectory, const char* fromName, const struct stat& status,
                    int toDirectory, const char* toName, bool* created) {
    const int in =
        ::openat(fromDirectory, fromName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        return errno;
    }
    if (::mkdirat(toDirectory, toName, 0700) != 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    *created = true;
    const int out = ::openat(toDirectory, toName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    DIR* listing = ::fdopendir(in);
    if (listing == nullptr) {
        const int error = errno;
        ::close(in);
        ::close(out);
        return error;
    }
    int result = 0;
    while (result == 0) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (entry == nullptr) {
            result = errno;
            break;
        }
        if (IsDotOrDotDot(entry->d_name)) {
            continue;
        }
        struct stat child;
        if (::fstatat(::dirfd(listing), entry->d_name, &child, AT_SYMLINK_NOFOLLOW) != 0) {
            result = errno;
            break;
        }
        bool childCreated = false;
        result =
            CopyEntryAt(::dirfd(listing), entry->d_name, child, out, entry->d_name, &childCreated);
    }
    ::closedir(listing);
    // Permissions and times last: a read-only directory must still take its
    // entries, and adding them would change its time.
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    if (result == 0 &&
        (::fchmod(out, status.st_mode & 07777) != 0 || ::futimens(out, times) != 0)) {
        result = errno;
    }
    ::close(out);
    return result;
}

int CopyLinkAt(int fromDirectory, const char* fromName, const struct stat& status, int toDirectory,
               const char* toName, bool* created) {
    std::vector<char> target(static_cast<std::size_t>(status.st_size) + 2);
    const ssize_t length = ::readlinkat(fromDirectory, fromName, target.data(), target.size());
    if (length < 0) {
        return errno;
    }
    if (static_cast<std::size_t>(length) >= target.size() - 1) {
        return ENAMETOOLONG;  // the link changed under us
    }
    target[length] = '\0';
    if (::symlinkat(target.data(), toDirectory, toName) != 0) {
        return errno;
    }
    *created = true;
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    ::utimensat(toDirectory, toName, times, AT_SYMLINK_NOFOLLOW);
    return 0;
}

int CopyEntryAt(int fromDirectory, const char* fromName, const struct stat& status, int toDirectory,
                const char* toName, bool* created) {
    *created = false;
    if (S_ISREG(status.st_mode)) {
        return CopyFileAt(fromDirectory, fromName, status, toDirectory, toName, created);
    }
    if (S_ISDIR(status.st_mode)) {
        return CopyDirectoryAt(fromDirectory, fromName, status, toDirectory, toName, created);
    }
    if (S_ISLNK(status.st_mode)) {
        return CopyLinkAt(fromDirectory, fromName, status, toDirectory, toName, created);
    }
    return EINVAL;  // devices, sockets and pipes are never part of a template tree
}

}  // namespace

bool MoveAcrossFileSystems(const std::string& source, const struct stat& status,
                           const std::string& destination) {
    const std::string from = StripTrailingSlashes(source);
    const std::string to = StripTrailingSlashes(destination);
    const std::string parent = ParentOf(to);
    // A hidden, random name in the destination's own directory: the final
    // rename is then atomic, and a crash leaves no half file under the real
    // name.
    std::string temporary;
    int result = EEXIST;
    for (int attempt = 0; attempt < 16 && result == EEXIST; ++attempt) {
        temporary = parent + "/.qa-move-" + RandomTag();
        bool created = false;
        result = CopyEntryAt(AT_FDCWD, from.c_str(), status, AT_FDCWD, temporary.c_str(), &created);
        if (result != 0 && created) {
            RemoveTree(temporary);
            return false;
        }
    }
    if (result != 0) {
        return false;
    }
    if (::rename(temporary.c_str(), to.c_str()) != 0) {
        RemoveTree(temporary);
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        return RemoveTree(from);
    }
    if (::unlink(from.c_str()) != 0 && errno != ENOENT) {
        // The source stays whole, so the copy goes: the move did not happen.
        ::unlink(to.c_str());
        return false;
    }
    return true;
}

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
