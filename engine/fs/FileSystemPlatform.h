#pragma once

// The system calls that differ between platforms, each behind one function.
// engine/fs/CMakeLists.txt compiles one implementation of each:
// FileSystem-linux.cpp on Linux; FileSystem-darwin.cpp and, for the calls
// macOS lacks, FileSystem-posix.cpp on macOS; with QA_PORTABLE_FS,
// FileSystem-posix.cpp and FileSystemPortable-posix.cpp, plain POSIX only.
// FileSystemFeatures.h (generated) tells which of them the build has. Only
// the FileSystem sources include this.

#include <cstdint>

namespace fs_platform {

// Opens, with `access` (O_RDWR or O_WRONLY) and close-on-exec, a new file in
// `directory` that has no name (O_TMPFILE). -1 where the platform or the
// file system cannot make one: the caller then creates a named file and
// unlinks it.
int OpenUnnamed(const char* directory, int access);

// Renames within one file system, failing with EEXIST when `to` exists. 0,
// or -1 with errno; ENOSYS, EINVAL and ENOTSUP mean the platform or the
// file system has no such rename, and the caller links and unlinks instead.
int RenameExclusive(int fromDirectory, const char* from, int toDirectory, const char* to);

// Exchanges two existing names within one file system atomically: each
// names afterwards what the other named. 0, or -1 with errno; ENOSYS,
// EINVAL and ENOTSUP mean the platform or the file system cannot, and the
// caller takes another way.
int Exchange(int fromDirectory, const char* from, int toDirectory, const char* to);

// Copies up to `count` bytes of `in` from `offset` to the position of `out`
// inside the kernel, advancing `out` only. False, having copied nothing,
// where that cannot be done between these two files; otherwise *copied, and
// *error 0 or the errno of the failure.
bool CopyInKernel(int in, std::uint64_t offset, int out, std::uint32_t count, std::uint32_t* copied,
                  int* error);

// Makes every change on the file system holding `fd` durable (syncfs).
// False where the platform has no such call; otherwise *error 0 or errno.
bool SyncWholeFileSystem(int fd, int* error);

// Pushes what the storage device holds in its own volatile cache to stable
// storage where fsync stops short of that (F_FULLFSYNC). 0 or errno.
int FlushDeviceCache(int fd);

// Whether the file system holding `path` keeps its data across a power cut
// (false for one held in memory). 0 or errno.
int KeepsDataAcrossPowerCut(const char* path, bool* persistent);

}  // namespace fs_platform
