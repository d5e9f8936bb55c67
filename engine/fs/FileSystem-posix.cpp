// Plain POSIX in place of the calls only Linux has (O_TMPFILE,
// copy_file_range, syncfs): each says it cannot, and FileSystem takes its
// portable way (a named file unlinked at once, a copy through the caller's
// buffer, a sync of each file and directory). Used on macOS and in the
// QA_PORTABLE_FS build.

#include <errno.h>

#include "engine/fs/FileSystemPlatform.h"

namespace fs_platform {

int OpenUnnamed(const char*, int) {
    errno = ENOTSUP;
    return -1;
}

bool CopyInKernel(int, std::uint64_t, int, std::uint32_t, std::uint32_t*, int*) {
    return false;
}

bool SyncWholeFileSystem(int, int*) {
    return false;
}

}  // namespace fs_platform
