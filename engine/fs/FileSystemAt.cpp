// The operations relative to an open directory: one name each, never a
// link followed at it.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemInternal.h"
#include "engine/fs/FileSystemPlatform.h"

using fs_internal::CreateCode;
using fs_internal::Fail;
using fs_internal::t_lastError;
using fs_internal::ToDescriptor;

namespace {

// An open directory and one name in it: anything else is refused, so that
// no "At" operation resolves more than the one level it is given.
bool OneLevel(FileHandle directory, const std::string& name, int* fd) {
    return ToDescriptor(directory, fd) && !name.empty() && name.find('/') == std::string::npos;
}

}  // namespace

ErrorCode FileSystem::OpenDirectoryAt(FileHandle directory, const std::string& name,
                                      FileHandle* handle) {
    if (handle == nullptr) {
        return kErrorInvalidParameter;
    }
    int base = AT_FDCWD;
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (directory != kInvalidHandle) {
        if (!OneLevel(directory, name, &base)) {
            return kErrorInvalidParameter;
        }
        flags |= O_NOFOLLOW;
    }
    int fd;
    do {
        fd = ::openat(base, name.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // ENOTDIR and ELOOP: something other than a directory stands there.
        return errno == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
    }
    *handle = fd;
    return kErrorSuccess;
}

ErrorCode FileSystem::StatusAt(FileHandle directory, const std::string& name, FileStatus* status) {
    int base;
    if (status == nullptr || !OneLevel(directory, name, &base)) {
        return kErrorInvalidParameter;
    }
    *status = FileStatus();
    struct stat info;
    if (::fstatat(base, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? kErrorSuccess : kErrorInvalidParameter;
    }
    fs_internal::FillStatus(info, status);
    return kErrorSuccess;
}

ErrorCode FileSystem::CreateExclusiveAt(FileHandle directory, const std::string& name,
                                        bool privateMode, FileHandle* handle) {
    t_lastError = kErrorSuccess;
    int base;
    if (handle == nullptr || !OneLevel(directory, name, &base)) {
        return Fail(kErrorInvalidParameter);
    }
    int fd;
    do {
        fd = ::openat(base, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      privateMode ? 0600 : 0660);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail(CreateCode(errno));
    }
    *handle = fd;
    return kErrorSuccess;
}

ErrorCode FileSystem::CreateDirectoryAt(FileHandle directory, const std::string& name,
                                        bool privateMode) {
    int base;
    if (!OneLevel(directory, name, &base)) {
        return kErrorInvalidParameter;
    }
    if (::mkdirat(base, name.c_str(), privateMode ? 0700 : 0777) == 0) {
        return kErrorSuccess;
    }
    return CreateCode(errno);
}

ErrorCode FileSystem::RenameAt(FileHandle fromDirectory, const std::string& from,
                               FileHandle toDirectory, const std::string& to, bool replace) {
    int source;
    int destination;
    if (!OneLevel(fromDirectory, from, &source) || !OneLevel(toDirectory, to, &destination)) {
        return kErrorInvalidParameter;
    }
    if (replace) {
        if (::renameat(source, from.c_str(), destination, to.c_str()) == 0) {
            return kErrorSuccess;
        }
        return errno == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
    }
    return fs_internal::RenameNoReplace(source, from.c_str(), destination, to.c_str());
}

ErrorCode FileSystem::ExchangeAt(FileHandle firstDirectory, const std::string& first,
                                 FileHandle secondDirectory, const std::string& second) {
    int one;
    int other;
    if (!OneLevel(firstDirectory, first, &one) || !OneLevel(secondDirectory, second, &other)) {
        return kErrorInvalidParameter;
    }
    if (fs_platform::Exchange(one, first.c_str(), other, second.c_str()) == 0) {
        return kErrorSuccess;
    }
    const int error = errno;
    if (error == ENOSYS || error == EINVAL || error == ENOTSUP) {
        return kErrorNotSupported;
    }
    return error == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

ErrorCode FileSystem::RemoveFileAt(FileHandle directory, const std::string& name) {
    int base;
    if (!OneLevel(directory, name, &base)) {
        return kErrorInvalidParameter;
    }
    if (::unlinkat(base, name.c_str(), 0) == 0) {
        return kErrorSuccess;
    }
    return errno == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

ErrorCode FileSystem::RemoveDirectoryAt(FileHandle directory, const std::string& name) {
    int base;
    if (!OneLevel(directory, name, &base)) {
        return kErrorInvalidParameter;
    }
    if (::unlinkat(base, name.c_str(), AT_REMOVEDIR) == 0) {
        return kErrorSuccess;
    }
    return errno == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

ErrorCode FileSystem::ListDirectory(FileHandle directory, std::vector<std::string>* names) {
    int fd;
    if (names == nullptr || !ToDescriptor(directory, &fd)) {
        return kErrorInvalidParameter;
    }
    names->clear();
    // fdopendir takes over the descriptor it is given, and reads from its
    // position: a fresh descriptor of the same directory, read from the
    // start, leaves the caller's alone.
    const int own = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) {
        return kErrorInvalidParameter;
    }
    DIR* stream = ::fdopendir(own);
    if (stream == nullptr) {
        ::close(own);
        return kErrorInvalidParameter;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(stream)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            names->emplace_back(name);
        }
    }
    const bool complete = errno == 0;
    ::closedir(stream);
    return complete ? kErrorSuccess : kErrorInvalidParameter;
}
