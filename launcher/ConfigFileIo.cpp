#include "launcher/ConfigFileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"

int ConfigFileIo::CreateNew(const std::string& path) {
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (descriptor == -1 && errno == EINTR);
    return descriptor;
}

bool ConfigFileIo::Write(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool ConfigFileIo::Sync(int descriptor) {
    // Where fsync leaves the bytes in the drive's own cache (macOS), a power
    // cut after the rename could keep the new name over bytes that never
    // reached the medium: the user's launcher settings gone.
    return ::fsync(descriptor) == 0 && FileSystem().FlushDeviceCache(descriptor) == kErrorSuccess;
}

bool ConfigFileIo::SetMode(int descriptor, mode_t mode) {
    return ::fchmod(descriptor, mode) == 0;
}

bool ConfigFileIo::Close(int descriptor) {
    // After an interrupted close the descriptor is gone on Linux and macOS;
    // retrying could close someone else's.
    return ::close(descriptor) == 0 || errno == EINTR;
}

bool ConfigFileIo::Rename(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void ConfigFileIo::Remove(const std::string& path) {
    ::unlink(path.c_str());
}

void ConfigFileIo::SyncDirectory(const std::string& directory) {
    int descriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor == -1) {
        return;
    }
    if (::fsync(descriptor) == 0) {
        FileSystem().FlushDeviceCache(descriptor);
    }
    ::close(descriptor);
}

bool ConfigFileIo::MayWrite(const std::string& path) {
    // Non-blocking, so that a FIFO in the file's place cannot hang us.
    int descriptor = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor == -1) {
        return false;
    }
    ::close(descriptor);
    return true;
}

bool ConfigFileIo::Mode(const std::string& path, mode_t* mode) {
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        return false;
    }
    *mode = status.st_mode & 07777;
    return true;
}

std::string ConfigFileIo::Resolve(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
        return path;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        // A dangling link: write where the path says and replace the link.
        return path;
    }
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool ConfigFileIo::IsOther(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

bool ConfigFileIo::CopyOwner(int descriptor, const std::string& from) {
    if (::geteuid() != 0) {
        return true;
    }
    struct stat status;
    return ::stat(from.c_str(), &status) == 0 &&
           ::fchown(descriptor, status.st_uid, status.st_gid) == 0;
}

int ConfigFileIo::OpenInPlace(const std::string& path) {
    int descriptor;
    do {
        descriptor = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    } while (descriptor == -1 && errno == EINTR);
    struct stat status;
    if (descriptor != -1 && (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

bool ConfigFileIo::ReadAll(int descriptor, std::string* bytes) {
    char block[4096];
    for (;;) {
        const ssize_t count = ::read(descriptor, block, sizeof(block));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return count == 0;
        }
        bytes->append(block, static_cast<std::size_t>(count));
    }
}

bool ConfigFileIo::Rewind(int descriptor) {
    return ::lseek(descriptor, 0, SEEK_SET) == 0;
}

bool ConfigFileIo::Truncate(int descriptor, std::size_t size) {
    int result;
    do {
        result = ::ftruncate(descriptor, static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}
