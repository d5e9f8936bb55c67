#pragma once

// What the sources of FileSystem share: the conversions between its paths,
// handles and codes and those of the system calls, and the last error of a
// descriptor operation. Only engine/fs/FileSystem*.cpp include this.

#include <errno.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "engine/fs/FileSystem.h"
#include "text/Encoding.h"

namespace fs_internal {

// One value per thread: every reader asks right after its own failed call, so
// the install thread and the user-interface thread must not see each other's.
extern thread_local ErrorCode t_lastError;

inline ErrorCode Fail(ErrorCode code) {
    t_lastError = code;
    return code;
}

inline std::string Narrow(const stdx::u16string& path) {
    stdx::string bytes = Utf16ToUtf8(path);
    return std::string(bytes.c_str(), bytes.size());
}

inline stdx::u16string Wide(const std::string& bytes) {
    return Utf8ToUtf16(stdx::string(bytes.data(), bytes.size()));
}

inline ErrorCode CodeFromErrno(int error) {
    return error == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

// The codes of the operations that create a name.
inline ErrorCode CreateCode(int error) {
    if (error == EEXIST) {
        return kErrorAlreadyExists;
    }
    return CodeFromErrno(error);
}

// Descriptors are ints; anything else cannot have come from Open.
inline bool ToDescriptor(FileHandle handle, int* fd) {
    if (handle < 0 || handle > INT_MAX) {
        return false;
    }
    *fd = static_cast<int>(handle);
    return true;
}

inline FileType TypeOf(mode_t mode) {
    if (S_ISREG(mode)) {
        return FileType::Regular;
    }
    if (S_ISDIR(mode)) {
        return FileType::Directory;
    }
    if (S_ISLNK(mode)) {
        return FileType::Link;
    }
    return FileType::Other;
}

inline void FillStatus(const struct stat& from, FileStatus* to) {
    to->type = TypeOf(from.st_mode);
    to->device = static_cast<std::uint64_t>(from.st_dev);
    to->inode = static_cast<std::uint64_t>(from.st_ino);
    to->owner = static_cast<std::uint32_t>(from.st_uid);
    to->mode = static_cast<std::uint32_t>(from.st_mode & 07777);
    to->size = static_cast<std::uint64_t>(from.st_size);
    to->modified = FileSystem::FromUnixSeconds(from.st_mtime);
}

// Renames without replacing, through the platform's own call where it has
// one, else (or where the file system refuses that call) as a second name
// made with link and the first one unlinked: link refuses an existing
// destination just as the rename would. Directories cannot be linked; they
// stay where they are and the rename fails. AT_FDCWD serves for paths.
// 0 or the code (183 for an existing destination).
ErrorCode RenameNoReplace(int fromDirectory, const char* from, int toDirectory, const char* to);

}  // namespace fs_internal
