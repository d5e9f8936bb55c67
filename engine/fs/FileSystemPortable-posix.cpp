// Plain POSIX in place of the calls that Linux and macOS each have in a form
// of their own, for the QA_PORTABLE_FS build: the no-replace rename becomes a
// link and an unlink, two names are never exchanged, a file system's type is not asked (every one
// counts as keeping its data), and fsync is taken to reach the medium.

#include <errno.h>

#include "engine/fs/FileSystemPlatform.h"

namespace fs_platform {

int RenameExclusive(int, const char*, int, const char*) {
    errno = ENOSYS;
    return -1;
}

int Exchange(int, const char*, int, const char*) {
    errno = ENOSYS;
    return -1;
}

int FlushDeviceCache(int) {
    return 0;
}

int KeepsDataAcrossPowerCut(const char*, bool* persistent) {
    *persistent = true;
    return 0;
}

}  // namespace fs_platform
