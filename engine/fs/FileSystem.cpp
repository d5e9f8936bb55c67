#include "engine/fs/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <string>

#include "engine/fs/FileTree.h"
#include "text/Encoding.h"

namespace {

// One value per thread: every reader asks right after its own failed call, so
// the install thread and the user-interface thread must not see each other's.
thread_local ErrorCode t_lastError = kErrorSuccess;

constexpr std::int64_t kEpochDifferenceSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr FileTime kTicksPerSecond = 10000000;

std::string Narrow(const stdx::u16string& path) {
    stdx::string bytes = Utf16ToUtf8(path);
    return std::string(bytes.c_str(), bytes.size());
}

stdx::u16string Wide(const std::string& bytes) {
    return Utf8ToUtf16(stdx::string(bytes.data(), bytes.size()));
}

ErrorCode CodeFromErrno(int error) {
    return error == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

ErrorCode Fail(ErrorCode code) {
    t_lastError = code;
    return code;
}

// Descriptors are ints; anything else cannot have come from Open.
bool ToDescriptor(FileHandle handle, int* fd) {
    if (handle < 0 || handle > INT_MAX) {
        return false;
    }
    *fd = static_cast<int>(handle);
    return true;
}

using KeptTimes = StoredTimeRule;

// An odd second well inside every file system's range.
constexpr std::int64_t kOddProbeSeconds = 1000000001;

bool SetAndReadBack(int fd, std::int64_t seconds, std::int64_t* kept) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    struct stat status;
    if (::futimens(fd, times) != 0 || ::fstat(fd, &status) != 0) {
        return false;
    }
    *kept = status.st_mtim.tv_sec;
    return true;
}

// Sets the extreme times and an odd second on a new file in `directory` and
// reads back what stays. The file has no name where the kernel allows that
// (O_TMPFILE); otherwise a hidden exclusive one, removed at once.
bool ProbeKeptTimes(const std::string& directory, KeptTimes* kept) {
    std::string named;
    int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        named = directory + "/.qa-time-XXXXXX";
        fd = ::mkostemp(&named[0], O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
    }
    std::int64_t odd = 0;
    const bool probed =
        SetAndReadBack(fd, FileSystem::ToUnixSeconds(0), &kept->earliest) &&
        SetAndReadBack(fd, FileSystem::ToUnixSeconds(std::numeric_limits<FileTime>::max()),
                       &kept->latest) &&
        SetAndReadBack(fd, kOddProbeSeconds, &odd);
    ::close(fd);
    if (!named.empty()) {
        ::unlink(named.c_str());
    }
    kept->oddShift = odd - kOddProbeSeconds;
    return probed && kept->earliest <= kept->latest && kept->oddShift >= -1 && kept->oddShift <= 1;
}

// The kept times of the file system holding `directory` (or its nearest
// existing ancestor), probed once per device and process: the install
// worker asks for every file.
bool KeptTimesFor(std::string directory, KeptTimes* kept) {
    static std::mutex mutex;
    static std::map<dev_t, KeptTimes> known;
    struct stat status;
    while (::stat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        const std::size_t slash = directory.find_last_of('/', directory.size() - 1);
        if (directory.size() <= 1 || slash == std::string::npos) {
            return false;
        }
        directory.resize(slash == 0 ? 1 : slash);
    }
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = known.find(status.st_dev);
    if (found != known.end()) {
        *kept = found->second;
        return true;
    }
    // A failed probe (a directory we may not write) is not cached: another
    // directory on the same device may allow it.
    if (!ProbeKeptTimes(directory, kept)) {
        return false;
    }
    known.emplace(status.st_dev, *kept);
    return true;
}

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
#ifdef O_TMPFILE
    const std::string bytes = Narrow(directory);
    const int unnamed =
        ::open(bytes.empty() ? "." : bytes.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        *handle = unnamed;
        return kErrorSuccess;
    }
#endif
    // No O_TMPFILE (macOS, or a file system without it): the descriptor
    // that creation returns is kept, and the name exists only until the
    // unlink right after it.
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

ErrorCode FileSystem::RemoveTree(const stdx::u16string& path) {
    file_tree::RemoveTree(Narrow(path));
    return kErrorSuccess;
}

ErrorCode FileSystem::RemoveFile(const stdx::u16string& path) {
    const std::string target = Narrow(path);
    ::unlink(target.c_str());
    return kErrorSuccess;
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

FileTime StoredTimeRule::Apply(FileTime time) const {
    const FileTime whole = time - time % kTicksPerSecond;
    if (!known) {
        return whole;
    }
    std::int64_t seconds = FileSystem::ToUnixSeconds(whole);
    if (seconds % 2 != 0) {
        seconds += oddShift;
    }
    seconds = std::max(earliest, std::min(latest, seconds));
    return FileSystem::FromUnixSeconds(seconds);
}

StoredTimeRule FileSystem::StoredTimeRuleOf(const stdx::u16string& directory) {
    KeptTimes kept;
    kept.known = KeptTimesFor(Narrow(directory), &kept);
    return kept;
}

FileTime FileSystem::StoredTime(const stdx::u16string& directory, FileTime time) {
    return StoredTimeRuleOf(directory).Apply(time);
}

FileTime FileSystem::FromUnixSeconds(std::int64_t seconds) {
    if (seconds <= -kEpochDifferenceSeconds) {
        return 0;
    }
    // Unsigned: the sum of a large time and the epoch difference does not
    // fit a signed 64-bit value, and it is never negative here.
    const std::uint64_t sinceEpoch =
        static_cast<std::uint64_t>(seconds) + static_cast<std::uint64_t>(kEpochDifferenceSeconds);
    if (sinceEpoch > std::numeric_limits<FileTime>::max() / kTicksPerSecond) {
        return std::numeric_limits<FileTime>::max();
    }
    return sinceEpoch * kTicksPerSecond;
}

std::int64_t FileSystem::ToUnixSeconds(FileTime time) {
    // At most 2^64 / 10^7 seconds, far inside the signed range.
    return static_cast<std::int64_t>(time / kTicksPerSecond) - kEpochDifferenceSeconds;
}

const void* FileSystem::MapReadOnly(FileHandle handle, std::uint64_t offset, std::uint32_t length) {
    t_lastError = kErrorSuccess;
    int fd;
    if (!ToDescriptor(handle, &fd) || length == 0) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(offset));
    if (view == MAP_FAILED) {
        t_lastError = kErrorInvalidParameter;
        return nullptr;
    }
    return view;
}

void FileSystem::Unmap(const void* view, std::uint32_t length) {
    if (view != nullptr) {
        ::munmap(const_cast<void*>(view), length);
    }
}

namespace {

// copy_file_range from `in`, at *from when given (its own position stays),
// else at its own position, to the position of `out`. False when the kernel
// cannot copy between these two files, having copied nothing; otherwise
// *code is 0 or the failure code, also kept as the last error.
bool KernelCopy(int in, const std::uint64_t* from, int out, std::uint32_t count,
                std::uint32_t* copied, ErrorCode* code) {
    *copied = 0;
    t_lastError = kErrorSuccess;
    *code = kErrorSuccess;
#if defined(__linux__)
    for (;;) {
        loff_t position = from != nullptr ? static_cast<loff_t>(*from) : 0;
        const ssize_t moved =
            ::copy_file_range(in, from != nullptr ? &position : nullptr, out, nullptr, count, 0);
        if (moved >= 0) {
            *copied = static_cast<std::uint32_t>(moved);
            return true;
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        // These say "not between these two files", not "the copy failed".
        if (error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP ||
            error == EBADF) {
            return false;
        }
        *code = Fail(CodeFromErrno(error));
        return true;
    }
#else
    (void)in;
    (void)from;
    (void)out;
    (void)count;
    return false;
#endif
}

FileType TypeOf(mode_t mode) {
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

void FillStatus(const struct stat& from, FileStatus* to) {
    to->type = TypeOf(from.st_mode);
    to->device = static_cast<std::uint64_t>(from.st_dev);
    to->inode = static_cast<std::uint64_t>(from.st_ino);
    to->owner = static_cast<std::uint32_t>(from.st_uid);
    to->mode = static_cast<std::uint32_t>(from.st_mode & 07777);
    to->size = static_cast<std::uint64_t>(from.st_size);
    to->modified = FileSystem::FromUnixSeconds(from.st_mtim.tv_sec);
}

ErrorCode CreateCode(int error) {
    if (error == EEXIST) {
        return kErrorAlreadyExists;
    }
    return error == ENOENT ? kErrorNotFound : kErrorInvalidParameter;
}

// The no-replace rename: 0, or -1 with errno. EINVAL/ENOSYS/ENOTSUP mean the
// file system (or kernel) has no such rename; the caller falls back.
int RenameNoReplace(const char* from, const char* to) {
#if defined(__APPLE__)
    return ::renamex_np(from, to, RENAME_EXCL);
#elif defined(SYS_renameat2)
    // Through syscall: older C libraries lack the wrapper.
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, 1u));
#else
    errno = ENOSYS;
    return -1;
#endif
}

// The same between names in open directories.
int RenameNoReplaceAt(int fromDirectory, const char* from, int toDirectory, const char* to) {
#if defined(__APPLE__)
    return ::renameatx_np(fromDirectory, from, toDirectory, to, RENAME_EXCL);
#elif defined(SYS_renameat2)
    return static_cast<int>(::syscall(SYS_renameat2, fromDirectory, from, toDirectory, to, 1u));
#else
    (void)fromDirectory;
    (void)from;
    (void)toDirectory;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

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
    FillStatus(info, status);
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
    if (RenameNoReplace(source.c_str(), destination.c_str()) == 0) {
        return kErrorSuccess;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // A second name, then the first one gone: link refuses an existing
        // destination just as the rename would. Directories cannot be
        // linked; they stay where they are and the move fails.
        if (::link(source.c_str(), destination.c_str()) != 0) {
            error = errno;
        } else if (::unlink(source.c_str()) != 0) {
            error = errno;
            ::unlink(destination.c_str());
        } else {
            return kErrorSuccess;
        }
    }
    return CreateCode(error);
}

ErrorCode FileSystem::RemoveDirectory(const stdx::u16string& path) {
    const std::string target = Narrow(path);
    return ::rmdir(target.c_str()) == 0 ? kErrorSuccess : kErrorInvalidParameter;
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
    FillStatus(info, status);
    if (linked != nullptr) {
        *linked = info.st_nlink > 0;
    }
    return kErrorSuccess;
}

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
    FillStatus(info, status);
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
    if (RenameNoReplaceAt(source, from.c_str(), destination, to.c_str()) == 0) {
        return kErrorSuccess;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == ENOTSUP) {
        // As in Rename: a second name, then the first one gone.
        if (::linkat(source, from.c_str(), destination, to.c_str(), 0) != 0) {
            error = errno;
        } else if (::unlinkat(source, from.c_str(), 0) != 0) {
            error = errno;
            ::unlinkat(destination, to.c_str(), 0);
        } else {
            return kErrorSuccess;
        }
    }
    return CreateCode(error);
}

bool FileSystem::CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                             std::uint32_t count, std::uint32_t* copied, ErrorCode* code) {
    int in;
    int out;
    if (copied == nullptr || code == nullptr || !ToDescriptor(source, &in) ||
        !ToDescriptor(target, &out)) {
        return false;
    }
    return KernelCopy(in, &offset, out, count, copied, code);
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

bool FileSystem::SyncFileSystem(FileHandle handle, ErrorCode* code) {
#if defined(__linux__)
    int fd;
    if (code == nullptr) {
        return false;
    }
    *code = kErrorSuccess;
    if (!ToDescriptor(handle, &fd) || ::syncfs(fd) != 0) {
        *code = kErrorInvalidParameter;
    }
    return true;
#else
    (void)handle;
    (void)code;
    return false;
#endif
}

ErrorCode FileSystem::FlushDeviceCache(FileHandle handle) {
    int fd;
    if (!ToDescriptor(handle, &fd)) {
        return kErrorInvalidParameter;
    }
#if defined(__APPLE__)
    return ::fcntl(fd, F_FULLFSYNC) == 0 ? kErrorSuccess : kErrorInvalidParameter;
#else
    return kErrorSuccess;
#endif
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
#if defined(__linux__)
    struct statfs kind;
    if (::statfs(target.c_str(), &kind) != 0) {
        return CodeFromErrno(errno);
    }
    info->persistent = kind.f_type != TMPFS_MAGIC && kind.f_type != RAMFS_MAGIC;
#endif
    return kErrorSuccess;
}
