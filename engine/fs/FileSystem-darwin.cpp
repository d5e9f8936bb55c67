// The platform calls that macOS has in a form of its own. It has no
// O_TMPFILE, copy_file_range or syncfs: FileSystem-posix.cpp stands in for
// those.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/param.h>

#include "engine/fs/FileSystemPlatform.h"

namespace fs_platform {

int RenameExclusive(int fromDirectory, const char* from, int toDirectory, const char* to) {
    return ::renameatx_np(fromDirectory, from, toDirectory, to, RENAME_EXCL);
}

int Exchange(int fromDirectory, const char* from, int toDirectory, const char* to) {
    return ::renameatx_np(fromDirectory, from, toDirectory, to, RENAME_SWAP);
}

int FlushDeviceCache(int fd) {
    // fsync hands the data to the drive, which may keep it in its own cache
    // for a while; F_FULLFSYNC waits until the drive has written it out.
    return ::fcntl(fd, F_FULLFSYNC) == 0 ? 0 : errno;
}

int KeepsDataAcrossPowerCut(const char* path, bool* persistent) {
    struct statfs kind;
    if (::statfs(path, &kind) != 0) {
        return errno;
    }
    *persistent =
        ::strcmp(kind.f_fstypename, "tmpfs") != 0 && ::strcmp(kind.f_fstypename, "devfs") != 0;
    return 0;
}

}  // namespace fs_platform
