// The operations on paths: the temporary directory and files, making,
// renaming and removing names, and what stands at a path.

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <limits>
#include <string>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemInternal.h"
#include "engine/fs/FileSystemPlatform.h"
#include "engine/fs/FileTree.h"

using fs_internal::CodeFromErrno;
using fs_internal::CreateCode;
using fs_internal::Fail;
using fs_internal::Narrow;
using fs_internal::t_lastError;
using fs_internal::Wide;

namespace {

// Creates a new file exclusively in `directory`, named from at most 5
// characters of `prefix` and a unique tail; the descriptor (read and write)
// or -1.
int CreateUniqueFile(const stdx::u16string& directory, const stdx::u16string& prefix,
                     std::string* name) {
    std::size_t prefixUnits = prefix.size() < 5 ? prefix.size() : 5;
    // Never cut a surrogate pair in half.
    if (prefixUnits == 5 && prefix[4] >= 0xD800 && prefix[4] <= 0xDBFF) {
        prefixUnits = 4;
    }
    *name = Narrow(directory);
    if (!name->empty() && name->back() != '/') {
        name->push_back('/');
    }
    *name += Narrow(prefix.substr(0, prefixUnits));
    *name += "XXXXXX";
    // mkostemp creates the name exclusively, so nobody else's file can be
    // taken over and then removed as ours.
    return ::mkostemp(&(*name)[0], O_CLOEXEC);
}

}  // namespace

ErrorCode fs_internal::RenameNoReplace(int fromDirectory, const char* from, int toDirectory,
                                       const char* to) {
    if (fs_platform::RenameExclusive(fromDirectory, from, toDirectory, to) == 0) {
        return kErrorSuccess;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        if (::linkat(fromDirectory, from, toDirectory, to, 0) != 0) {
            error = errno;
        } else if (::unlinkat(fromDirectory, from, 0) != 0) {
            error = errno;
            ::unlinkat(toDirectory, to, 0);
        } else {
            return kErrorSuccess;
        }
    }
    return CreateCode(error);
}

ErrorCode FileSystem::TempDirectory(stdx::u16string* path) {
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    std::string directory = "/var/tmp/";
    const char* fromEnvironment = ::getenv("TMPDIR");
    struct stat status;
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0' &&
        ::stat(fromEnvironment, &status) == 0 && S_ISDIR(status.st_mode)) {
        directory = fromEnvironment;
    }
    if (directory.back() != '/') {
        directory.push_back('/');
    }
    *path = Wide(directory);
    return kErrorSuccess;
}

ErrorCode FileSystem::CreateTempFile(const stdx::u16string& directory,
                                     const stdx::u16string& prefix, stdx::u16string* path) {
    if (path == nullptr) {
        return kErrorTempFile;
    }
    *path = stdx::u16string();
    std::string name;
    const int fd = CreateUniqueFile(directory, prefix, &name);
    if (fd < 0) {
        return kErrorTempFile;
    }
    ::close(fd);
    *path = Wide(name);
    return kErrorSuccess;
}

ErrorCode FileSystem::CreateUnnamedTempFile(const stdx::u16string& directory,
                                            const stdx::u16string& prefix, FileHandle* handle) {
    if (handle == nullptr) {
        return kErrorTempFile;
    }
    const std::string bytes = Narrow(directory);
    const int unnamed = fs_platform::OpenUnnamed(bytes.empty() ? "." : bytes.c_str(), O_RDWR);
    if (unnamed >= 0) {
        *handle = unnamed;
        return kErrorSuccess;
    }
    // No unnamed files here (the platform or the file system lacks them):
    // the descriptor that creation returns is kept, and the name exists
    // only until the unlink right after it.
    std::string name;
    const int fd = CreateUniqueFile(directory, prefix, &name);
    if (fd < 0) {
        return kErrorTempFile;
    }
    ::unlink(name.c_str());
    *handle = fd;
    return kErrorSuccess;
}

ErrorCode FileSystem::MakeDirectory(const stdx::u16string& path) {
    const std::string target = Narrow(path);
    struct stat status;
    if (::stat(target.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        return kErrorAlreadyExists;
    }
    if (target.empty()) {
        return kErrorNotFound;
    }
    // Every level in turn, like mkdir -p: an existing directory (or a link
    // to one) is passed through, anything else in the way fails.
    std::size_t end = 0;
    while (end != std::string::npos) {
        end = target.find('/', end + 1);
        const std::string level = target.substr(0, end);
        if (level.back() == '/') {
            continue;
        }
        if (::mkdir(level.c_str(), 0777) == 0) {
            continue;
        }
        const int error = errno;
        if (error == EEXIST) {
            if (::stat(level.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
                continue;
            }
            return kErrorNotFound;
        }
        return error == ENOENT || error == ENOTDIR ? kErrorNotFound : kErrorInvalidParameter;
    }
    return kErrorSuccess;
}

ErrorCode FileSystem::Status(const stdx::u16string& path, FileStatus* status) {
    if (status == nullptr) {
        return kErrorInvalidParameter;
    }
    *status = FileStatus();
    const std::string target = Narrow(path);
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? kErrorSuccess : kErrorInvalidParameter;
    }
    fs_internal::FillStatus(info, status);
    return kErrorSuccess;
}

ErrorCode FileSystem::CreateExclusive(const stdx::u16string& path, bool privateMode,
                                      FileHandle* handle) {
    t_lastError = kErrorSuccess;
    if (handle == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    const std::string target = Narrow(path);
    int fd;
    do {
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    privateMode ? 0600 : 0660);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail(CreateCode(errno));
    }
    *handle = fd;
    return kErrorSuccess;
}

ErrorCode FileSystem::CreateDirectory(const stdx::u16string& path, bool privateMode) {
    const std::string target = Narrow(path);
    if (::mkdir(target.c_str(), privateMode ? 0700 : 0777) == 0) {
        return kErrorSuccess;
    }
    return CreateCode(errno);
}

ErrorCode FileSystem::Rename(const stdx::u16string& from, const stdx::u16string& to, bool replace) {
    const std::string source = Narrow(from);
    const std::string destination = Narrow(to);
    if (replace) {
        if (::rename(source.c_str(), destination.c_str()) == 0) {
            return kErrorSuccess;
        }
        return errno == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
    }
    return fs_internal::RenameNoReplace(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str());
}

ErrorCode FileSystem::RemoveDirectory(const stdx::u16string& path) {
    const std::string target = Narrow(path);
    return ::rmdir(target.c_str()) == 0 ? kErrorSuccess : kErrorInvalidParameter;
}

ErrorCode FileSystem::RemoveTree(const stdx::u16string& path) {
    file_tree::RemoveTree(Narrow(path));
    return kErrorSuccess;
}

ErrorCode FileSystem::RemoveFile(const stdx::u16string& path) {
    const std::string target = Narrow(path);
    ::unlink(target.c_str());
    return kErrorSuccess;
}

ErrorCode FileSystem::OpenDirectory(const stdx::u16string& path, FileHandle* handle) {
    if (handle == nullptr) {
        return kErrorInvalidParameter;
    }
    const std::string target = Narrow(path);
    const int fd = ::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return CodeFromErrno(errno);
    }
    *handle = fd;
    return kErrorSuccess;
}

ErrorCode FileSystem::SyncDirectory(const stdx::u16string& path) {
    FileHandle handle = kInvalidHandle;
    ErrorCode code = OpenDirectory(path, &handle);
    if (code != kErrorSuccess) {
        return kErrorInvalidParameter;
    }
    code = Sync(handle);
    ::close(static_cast<int>(handle));
    return code;
}

bool FileSystem::GetFileSize(const stdx::u16string& path, std::uint64_t* size) {
    if (size == nullptr) {
        return true;
    }
    const std::string target = Narrow(path);
    struct stat status;
    if (::stat(target.c_str(), &status) != 0) {
        return true;
    }
    *size = static_cast<std::uint64_t>(status.st_size);
    return false;
}

ErrorCode FileSystem::GetTempFreeSpace(std::uint64_t* freeBytes) {
    if (freeBytes == nullptr) {
        return kErrorInvalidParameter;
    }
    *freeBytes = 0;
    stdx::u16string directory;
    TempDirectory(&directory);
    const std::string target = Narrow(directory);
    struct statvfs status;
    if (::statvfs(target.c_str(), &status) != 0) {
        return kErrorSuccess;
    }
    const std::uint64_t blocks = status.f_bfree;
    const std::uint64_t blockSize = status.f_frsize;
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    *freeBytes = blockSize != 0 && blocks > most / blockSize ? most : blocks * blockSize;
    return kErrorSuccess;
}

ErrorCode FileSystem::StorageOf(const stdx::u16string& path, StorageInfo* info) {
    if (info == nullptr) {
        return kErrorInvalidParameter;
    }
    *info = StorageInfo();
    const std::string target = Narrow(path);
    struct stat status;
    if (::stat(target.c_str(), &status) != 0) {
        return CodeFromErrno(errno);
    }
    info->device = static_cast<std::uint64_t>(status.st_dev);
    const int error = fs_platform::KeepsDataAcrossPowerCut(target.c_str(), &info->persistent);
    return error == 0 ? kErrorSuccess : CodeFromErrno(error);
}
