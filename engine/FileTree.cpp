#include "engine/FileTree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <random>
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

bool RemoveAt(int directory, const char* name) {
    struct stat status;
    if (::fstatat(directory, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(status.st_mode)) {
        return ::unlinkat(directory, name, 0) == 0 || errno == ENOENT;
    }
    bool removedAll = true;
    // O_NOFOLLOW: a directory swapped for a link since the fstatat must not
    // lead the removal somewhere else.
    const int fd = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0) {
            ::close(fd);
        }
        removedAll = false;
    } else {
        while (const dirent* entry = ::readdir(listing)) {
            if (!IsDotOrDotDot(entry->d_name) && !RemoveAt(::dirfd(listing), entry->d_name)) {
                removedAll = false;
            }
        }
        ::closedir(listing);
    }
    if (::unlinkat(directory, name, AT_REMOVEDIR) != 0 && errno != ENOENT) {
        removedAll = false;
    }
    return removedAll;
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
    return RemoveAt(AT_FDCWD, target.c_str());
}

}  // namespace file_tree
