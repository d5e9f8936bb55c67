// The platform calls on Linux: every one of them has a call of its own here.

#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "engine/fs/FileSystemPlatform.h"

namespace fs_platform {

int OpenUnnamed(const char* directory, int access) {
    // O_EXCL: the file can never be given a name later either.
    return ::open(directory, O_TMPFILE | access | O_EXCL | O_CLOEXEC, 0600);
}

int RenameExclusive(int fromDirectory, const char* from, int toDirectory, const char* to) {
    return ::renameat2(fromDirectory, from, toDirectory, to, RENAME_NOREPLACE);
}

int Exchange(int fromDirectory, const char* from, int toDirectory, const char* to) {
    return ::renameat2(fromDirectory, from, toDirectory, to, RENAME_EXCHANGE);
}

bool CopyInKernel(int in, std::uint64_t offset, int out, std::uint32_t count, std::uint32_t* copied,
                  int* error) {
    for (;;) {
        loff_t position = static_cast<loff_t>(offset);
        const ssize_t moved = ::copy_file_range(in, &position, out, nullptr, count, 0);
        if (moved >= 0) {
            *copied = static_cast<std::uint32_t>(moved);
            *error = 0;
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        // These say "not between these two files", not "the copy failed".
        if (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
            errno == EBADF) {
            return false;
        }
        *error = errno;
        return true;
    }
}

bool SyncWholeFileSystem(int fd, int* error) {
    *error = ::syncfs(fd) == 0 ? 0 : errno;
    return true;
}

int FlushDeviceCache(int) {
    // fsync and syncfs already wait until the device has the data on its
    // medium.
    return 0;
}

int KeepsDataAcrossPowerCut(const char* path, bool* persistent) {
    struct statfs kind;
    if (::statfs(path, &kind) != 0) {
        return errno;
    }
    *persistent = kind.f_type != TMPFS_MAGIC && kind.f_type != RAMFS_MAGIC;
    return 0;
}

}  // namespace fs_platform
