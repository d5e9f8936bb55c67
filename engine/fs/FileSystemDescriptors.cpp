// The operations on an open descriptor: reading, writing, positions, times,
// mappings, the kernel copy, durability and locks.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/fs/FileSystem.h"
#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/FileSystemInternal.h"
#include "engine/fs/FileSystemPlatform.h"

using fs_internal::CodeFromErrno;
using fs_internal::Fail;
using fs_internal::Narrow;
using fs_internal::t_lastError;
using fs_internal::ToDescriptor;

thread_local ErrorCode fs_internal::t_lastError = kErrorSuccess;

namespace {

// Reads until count bytes are in or the file ends: at *offset when given
// (the descriptor's position stays), else at the descriptor's position.
// 0, or the code of the failed read, also kept as the last error.
ErrorCode ReadFully(int fd, const std::uint64_t* offset, void* buffer, std::uint32_t count,
                    std::uint32_t* countRead) {
    char* out = static_cast<char*>(buffer);
    while (*countRead < count) {
        const ssize_t got = offset != nullptr ? ::pread(fd, out + *countRead, count - *countRead,
                                                        static_cast<off_t>(*offset + *countRead))
                                              : ::read(fd, out + *countRead, count - *countRead);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(CodeFromErrno(errno));
        }
        if (got == 0) {
            break;
        }
        *countRead += static_cast<std::uint32_t>(got);
    }
    return kErrorSuccess;
}

}  // namespace

ErrorCode FileSystem::Open(const stdx::u16string& path, std::uint32_t access, std::uint32_t share,
                           std::uint32_t disposition, FileHandle* handle,
                           std::uint32_t attributes) {
    (void)share;
    (void)attributes;
    t_lastError = kErrorSuccess;
    if (handle == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    int flags = O_CLOEXEC;
    if (access >= kAccessReadWrite) {
        flags |= O_RDWR;
    } else if ((access & kAccessWrite) != 0) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (disposition == kDispositionCreate) {
        flags |= O_CREAT;
    } else if (disposition == kDispositionTruncate) {
        flags |= O_TRUNC;
    }
    const std::string bytes = Narrow(path);
    int fd;
    do {
        fd = ::open(bytes.c_str(), flags, 0660);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return Fail(CodeFromErrno(errno));
    }
    *handle = fd;
    return kErrorSuccess;
}

ErrorCode FileSystem::Read(FileHandle handle, void* buffer, std::uint32_t count,
                           std::uint32_t* countRead) {
    t_lastError = kErrorSuccess;
    if (countRead == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    *countRead = 0;
    if (count == 0) {
        return kErrorSuccess;
    }
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return Fail(kErrorInvalidParameter);
    }
    return ReadFully(fd, nullptr, buffer, count, countRead);
}

ErrorCode FileSystem::ReadAt(FileHandle handle, std::uint64_t offset, void* buffer,
                             std::uint32_t count, std::uint32_t* countRead) {
    t_lastError = kErrorSuccess;
    if (countRead == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    *countRead = 0;
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return Fail(kErrorInvalidParameter);
    }
    return ReadFully(fd, &offset, buffer, count, countRead);
}

ErrorCode FileSystem::Write(FileHandle handle, const void* buffer, std::uint32_t count,
                            std::uint32_t* countWritten) {
    t_lastError = kErrorSuccess;
    if (countWritten == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    *countWritten = 0;
    if (handle == kInvalidHandle) {
        return Fail(kErrorInvalidHandle);
    }
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return Fail(kErrorInvalidParameter);
    }
    // A short write (a signal, a full disk) is retried for the rest; only a
    // write that makes no progress is a failure.
    const char* in = static_cast<const char*>(buffer);
    while (*countWritten < count) {
        const ssize_t put = ::write(fd, in + *countWritten, count - *countWritten);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(CodeFromErrno(errno));
        }
        if (put == 0) {
            return Fail(kErrorInvalidParameter);
        }
        *countWritten += static_cast<std::uint32_t>(put);
    }
    return kErrorSuccess;
}

std::int64_t FileSystem::Seek(FileHandle handle, std::int64_t offset, int origin) {
    t_lastError = kErrorSuccess;
    if (handle == kInvalidHandle) {
        t_lastError = kErrorInvalidHandle;
        return -1;
    }
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        t_lastError = kErrorInvalidParameter;
        return -1;
    }
    const int whence = origin == kSeekCurrent ? SEEK_CUR : origin == kSeekEnd ? SEEK_END : SEEK_SET;
    const off_t position = ::lseek(fd, static_cast<off_t>(offset), whence);
    if (position < 0) {
        // Callers must be able to tell a failed seek from success by the
        // last error as well as by the -1.
        t_lastError = kErrorInvalidParameter;
        return -1;
    }
    return position;
}

void FileSystem::Close(FileHandle handle) {
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        t_lastError = kErrorInvalidParameter;
        return;
    }
    // Linux releases the descriptor even when close reports EINTR, so a
    // retry could close a descriptor another thread has just been given.
    if (::close(fd) != 0) {
        t_lastError = CodeFromErrno(errno);
    }
}

ErrorCode FileSystem::SetEnd(FileHandle handle) {
    t_lastError = kErrorSuccess;
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return Fail(kErrorInvalidHandle);
    }
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0) {
        return Fail(CodeFromErrno(errno));
    }
    // Most files end where they were written; truncating them anyway costs
    // a journal transaction per file on some file systems.
    struct stat status;
    if (::fstat(fd, &status) == 0 && status.st_size == position) {
        return kErrorSuccess;
    }
    if (::ftruncate(fd, position) != 0) {
        return Fail(CodeFromErrno(errno));
    }
    return kErrorSuccess;
}

ErrorCode FileSystem::SetTimes(FileHandle handle, const FileTime* created, const FileTime* accessed,
                               const FileTime* modified) {
    (void)created;
    (void)accessed;
    t_lastError = kErrorSuccess;
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return Fail(kErrorInvalidHandle);
    }
    if (modified == nullptr) {
        return Fail(kErrorInvalidParameter);
    }
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(ToUnixSeconds(*modified));
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (::futimens(fd, times) != 0) {
        return Fail(CodeFromErrno(errno));
    }
    return kErrorSuccess;
}

ErrorCode FileSystem::LastError() {
    return t_lastError;
}

bool FileSystem::CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                             std::uint32_t count, std::uint32_t* copied, ErrorCode* code) {
    int in;
    int out;
    if (copied == nullptr || code == nullptr || !ToDescriptor(source, &in) ||
        !ToDescriptor(target, &out)) {
        return false;
    }
    *copied = 0;
    *code = kErrorSuccess;
    t_lastError = kErrorSuccess;
    int error = 0;
    if (!fs_platform::CopyInKernel(in, offset, out, count, copied, &error)) {
        return false;
    }
    if (error != 0) {
        *code = Fail(CodeFromErrno(error));
    }
    return true;
}

ErrorCode FileSystem::Sync(FileHandle handle) {
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return kErrorInvalidParameter;
    }
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            return kErrorInvalidParameter;
        }
    }
    return kErrorSuccess;
}

bool FileSystem::SyncFileSystem(FileHandle handle, ErrorCode* code) {
    if (code == nullptr) {
        return false;
    }
    // A handle that is no descriptor still asks the platform, which fails
    // it, so that the answer says whether the call exists here.
    int fd = -1;
    ToDescriptor(handle, &fd);
    int error = 0;
    if (!fs_platform::SyncWholeFileSystem(fd, &error)) {
        return false;
    }
    *code = error == 0 ? kErrorSuccess : kErrorInvalidParameter;
    return true;
}

bool FileSystem::CanSyncFileSystem() {
    return fs_features::kFileSystemSync;
}

ErrorCode FileSystem::FlushDeviceCache(FileHandle handle) {
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return kErrorInvalidParameter;
    }
    return fs_platform::FlushDeviceCache(fd) == 0 ? kErrorSuccess : kErrorInvalidParameter;
}

std::size_t FileSystem::OpenHandleLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == 0) {
        return 1024;
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 1048576
               ? 1048576
               : static_cast<std::size_t>(limit.rlim_cur);
}

ErrorCode FileSystem::Lock(FileHandle handle, bool wait) {
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return kErrorInvalidParameter;
    }
    while (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno != EINTR) {
            return kErrorInvalidParameter;
        }
    }
    return kErrorSuccess;
}

ErrorCode FileSystem::HandleStatus(FileHandle handle, FileStatus* status, bool* linked) {
    int fd;
    struct stat info;
    if (status == nullptr || !ToDescriptor(handle, &fd) || ::fstat(fd, &info) != 0) {
        return kErrorInvalidHandle;
    }
    fs_internal::FillStatus(info, status);
    if (linked != nullptr) {
        *linked = info.st_nlink > 0;
    }
    return kErrorSuccess;
}
