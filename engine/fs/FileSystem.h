#pragma once

// The file-system layer. Every part of FileSystem is declared here; its
// sources are split by concept and platform:
//   FileSystemDescriptors.cpp  reading, writing, positions, times, mappings,
//                              the kernel copy, syncing and locking a handle
//   FileSystemPaths.cpp        the temporary directory and files, making,
//                              renaming, removing and examining a path
//   FileSystemAt.cpp           the same for one name in an open directory
//   FileSystemTimes.cpp        FileTime conversions, the stored-time probe
//   StoredTimeRules.h          the probe's answers, kept per device
//   FileSystemInternal.h       what those share (codes, paths, statuses)
//   FileSystemPlatform.h       the calls that differ between platforms, in
//     FileSystem-linux.cpp     O_TMPFILE, renameat2, copy_file_range,
//                              syncfs, statfs f_type
//     FileSystem-darwin.cpp    renameatx_np, F_FULLFSYNC, f_fstypename
//     FileSystem-posix.cpp     plain POSIX where macOS lacks Linux's calls
//     FileSystemPortable-posix.cpp  plain POSIX for the rest (QA_PORTABLE_FS)
//   FileSystemFeatures.h.in    what the build's platform part does itself
//   FileTree.cpp               the tree removal behind RemoveTree
// FileFinder.h holds the directory search, ErrorCodes.h the result codes,
// FaultInjectingFileSystem.h the policy that fails chosen operations.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/fs/ErrorCodes.h"
#include "text/String.h"

// Signed descriptor; -1 means no file is open.
using FileHandle = std::int64_t;
constexpr FileHandle kInvalidHandle = -1;

// 100-nanosecond intervals since 1601-01-01 00:00 UTC. Only whole seconds
// travel to and from the disk.
using FileTime = std::uint64_t;

// Open arguments.
constexpr std::uint32_t kAccessRead = 0x80000000u;
constexpr std::uint32_t kAccessWrite = 0x40000000u;
constexpr std::uint32_t kAccessReadWrite = 0xC0000000u;
constexpr std::uint32_t kDispositionCreate = 2;        // O_CREAT, never truncates
constexpr std::uint32_t kDispositionOpenExisting = 3;  // the file must exist
constexpr std::uint32_t kDispositionTruncate = 5;      // O_TRUNC
constexpr std::uint32_t kAttributeNormal = 0x80;
constexpr std::uint32_t kAttributeSequential = 0x08000080;

// What lstat says about a path: the path itself, never what a link names.
enum class FileType { Missing, Regular, Directory, Link, Other };
struct FileStatus {
    FileType type = FileType::Missing;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t owner = 0;
    // The permission bits (set-id and sticky bits included), as chmod takes
    // them.
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    // Whole seconds, as every other time here.
    FileTime modified = 0;
};

// Where a path's data lives: the device, and whether it survives a power
// cut (false for a file system held in memory, such as tmpfs).
struct StorageInfo {
    std::uint64_t device = 0;
    bool persistent = true;
};

// What one file system keeps of a modification time set in whole seconds:
// the range it can hold (later and earlier times are clamped) and what it
// adds to an odd second (0, or -1 or +1 where it keeps even seconds only).
// Unknown (the file system could not be probed): whole seconds kept as
// they are.
struct StoredTimeRule {
    bool known = false;
    std::int64_t earliest = 0;
    std::int64_t latest = 0;
    std::int64_t oddShift = 0;

    // The time the file system keeps when a file's time is set to `time`.
    FileTime Apply(FileTime time) const;
};

// Seek origins.
constexpr int kSeekBegin = 0;
constexpr int kSeekCurrent = 1;
constexpr int kSeekEnd = 2;

// The only way the installer reaches the disk. It has no data members; the
// kit reader and the install worker hold it as a policy object, so tests can
// substitute a policy that fails chosen operations.
//
// Paths are UTF-16 and are converted to UTF-8 right before each system call.
// The "At" operations instead take one name already in UTF-8, relative to an
// open directory, so that a run over many files walks each directory once
// and never converts or resolves a whole path per call. No path ever
// reaches a shell.
class FileSystem {
public:
    // Codes: 0, 2 (ENOENT), 87 (any other errno). The handle is written only
    // on success. Descriptors are close-on-exec.
    ErrorCode Open(const stdx::u16string& path, std::uint32_t access, std::uint32_t share,
                   std::uint32_t disposition, FileHandle* handle, std::uint32_t attributes);
    // Fills the whole count unless the end of file comes first; 0 with a
    // smaller count means end of file. Codes: 0, 2, 87.
    ErrorCode Read(FileHandle handle, void* buffer, std::uint32_t count, std::uint32_t* countRead);
    // Codes: 0, 2, 6 (handle -1), 87.
    ErrorCode Write(FileHandle handle, const void* buffer, std::uint32_t count,
                    std::uint32_t* countWritten);
    // New position, or -1 (last error 6 for handle -1, else 87).
    std::int64_t Seek(FileHandle handle, std::int64_t offset, int origin);
    // Sets the last error only when closing fails (2, 87).
    void Close(FileHandle handle);
    // Cuts the file at its current position. Codes: 0, 2, 6, 87.
    ErrorCode SetEnd(FileHandle handle);
    // Sets access and modification time to *modified, in whole seconds; the
    // other two have no effect. Codes: 0, 6, 87 (no modification time given,
    // or the platform refused the time), 2.
    ErrorCode SetTimes(FileHandle handle, const FileTime* created, const FileTime* accessed,
                       const FileTime* modified);
    // The code of the last failed descriptor operation on this thread.
    ErrorCode LastError();

    // "TMPDIR" when it names a directory, else "/var/tmp/"; always ends in
    // "/". Always 0 (87 without an output).
    ErrorCode TempDirectory(stdx::u16string* path);
    // Creates a new empty file exclusively in the directory, its name made
    // of at most 5 characters of the prefix and a unique tail. 0, or 1013
    // with the path left empty.
    ErrorCode CreateTempFile(const stdx::u16string& directory, const stdx::u16string& prefix,
                             stdx::u16string* path);
    // Opens a new, empty file for reading and writing in the directory that
    // has no name there, so that nobody can open, replace or remove it by
    // name: O_TMPFILE where the kernel and the file system have it, else a
    // file created exclusively as CreateTempFile does and unlinked at once,
    // its creation descriptor kept. 0 with the handle, or 1013.
    ErrorCode CreateUnnamedTempFile(const stdx::u16string& directory, const stdx::u16string& prefix,
                                    FileHandle* handle);
    // 0 created (every missing level), 183 already a directory, 2 a file is
    // in the way or a level is missing, 87 anything else.
    ErrorCode MakeDirectory(const stdx::u16string& path);
    // Recursive to any depth with a bounded number of open descriptors,
    // never follows symbolic links (a link, even with a trailing "/", is
    // removed itself). "", "/" and paths ending in "." or ".." are left
    // alone. What cannot be removed stays with the directories above it.
    // Always 0.
    ErrorCode RemoveTree(const stdx::u16string& path);
    // Always 0.
    ErrorCode RemoveFile(const stdx::u16string& path);
    // The size of the file at `path` (links followed). True when it failed.
    bool GetFileSize(const stdx::u16string& path, std::uint64_t* size);
    // Free bytes of the temporary directory (0 when unknown). 0, or 87
    // without an output.
    ErrorCode GetTempFreeSpace(std::uint64_t* freeBytes);

    // lstat of the literal path: no pattern, no link followed. 0 with type
    // Missing when nothing is there (or a level of the path is missing or not
    // a directory); 87 when the status cannot be read.
    ErrorCode Status(const stdx::u16string& path, FileStatus* status);
    // Creates a new file exclusively (O_CREAT|O_EXCL|O_NOFOLLOW), open for
    // writing: mode 0660, or 0600 when privateMode, less the umask. 0; 183
    // when anything (a link too) is at the path; 2 when its directory is
    // missing; 87 anything else.
    ErrorCode CreateExclusive(const stdx::u16string& path, bool privateMode, FileHandle* handle);
    // Creates exactly one directory level: mode 0777, or 0700 when
    // privateMode, less the umask. 0; 183 when anything is at the path; 2
    // when the parent is missing; 87 anything else (ENOTDIR, ENOSPC, ...).
    ErrorCode CreateDirectory(const stdx::u16string& path, bool privateMode);
    // rename(2) on one file system; never copies. With replace false the
    // destination must not exist (the platform's exclusive rename, or a hard
    // link and an unlink where the platform or the file system lacks it,
    // which cannot move a directory). 0; 2 missing source or directory; 183
    // destination exists (no-replace only); 87 anything else, across file
    // systems too.
    ErrorCode Rename(const stdx::u16string& from, const stdx::u16string& to, bool replace);
    // rmdir(2): removes an empty directory only. 0, or 87 (not empty,
    // missing, not a directory).
    ErrorCode RemoveDirectory(const stdx::u16string& path);
    // Opens a directory (not a link to one) read-only, for SyncDirectory-like
    // use and for Lock. 0, 2, 87.
    ErrorCode OpenDirectory(const stdx::u16string& path, FileHandle* handle);
    // fsync(2) of an open file or directory. 0 or 87.
    ErrorCode Sync(FileHandle handle);
    // Opens, fsyncs and closes a directory, so that entries made in it
    // survive a power cut. 0 or 87.
    ErrorCode SyncDirectory(const stdx::u16string& path);
    // Makes every change made so far on the file system that holds `handle`
    // (data, times, names, removals, of any file) durable in one call, where
    // the platform has such a call (syncfs(2)). Returns false, having done
    // nothing, where it has not: the caller then makes each file durable
    // with Sync of its handle and each directory whose entries changed with
    // Sync of the directory's handle. Otherwise *code is 0 or 87.
    bool SyncFileSystem(FileHandle handle, ErrorCode* code);
    // Whether SyncFileSystem is available, without syncing anything.
    bool CanSyncFileSystem();
    // Where Sync leaves data in the storage device's own volatile cache
    // (macOS), pushes everything the device was handed so far to stable
    // storage (F_FULLFSYNC); elsewhere Sync and SyncFileSystem already wait
    // for the medium and this returns 0 at once. 0 or 87.
    ErrorCode FlushDeviceCache(FileHandle handle);
    // The device of `path` (which must exist; links are followed) and
    // whether its file system keeps data across a power cut (always, where
    // the platform cannot tell). 0, 2, 87.
    ErrorCode StorageOf(const stdx::u16string& path, StorageInfo* info);
    // The most handles this process may hold open at once (its soft limit),
    // so that a cache of handles can stay well below it; 1024 where the
    // system gives no figure.
    std::size_t OpenHandleLimit();
    // flock(2) exclusive on an open file or directory. The kernel drops it
    // when the holder's descriptors close, its process dying included.
    // With wait false: 0 locked, 87 held by another descriptor or failed.
    ErrorCode Lock(FileHandle handle, bool wait);
    // fstat of an open file: its device and inode (type Regular or Other),
    // and whether a name of it still exists (links above 0). 0 or 6.
    ErrorCode HandleStatus(FileHandle handle, FileStatus* status, bool* linked);

    // What the file system holding `directory` keeps of a modification time
    // set in whole seconds, found by setting the extreme times and an odd
    // second on a new file there (without a name where the platform allows
    // that, else a hidden one removed at once) or in its nearest existing
    // ancestor, on every call: StoredTimeRules keeps the answer per device.
    // Unknown when no file can be made there.
    StoredTimeRule StoredTimeRuleOf(const stdx::u16string& directory);

    // The directory operations relative to an open directory. `directory`
    // is a handle from OpenDirectoryAt; `name` is one path component in
    // UTF-8 (no "/"), never a link followed at it.
    //
    // Opens a directory for use as `directory` below: with `directory` -1,
    // `name` is a whole path resolved as usual (links on the way followed);
    // otherwise `name` is one level, and a link there is not followed.
    // Close the handle with Close. 0; 2 missing; 87 anything else, a link
    // or any other non-directory at the name included.
    ErrorCode OpenDirectoryAt(FileHandle directory, const std::string& name, FileHandle* handle);
    // Status (lstat) of a name in an open directory. 0 with type Missing
    // when nothing is there; 87 when the status cannot be read.
    ErrorCode StatusAt(FileHandle directory, const std::string& name, FileStatus* status);
    // CreateExclusive of a name in an open directory; same modes and codes.
    ErrorCode CreateExclusiveAt(FileHandle directory, const std::string& name, bool privateMode,
                                FileHandle* handle);
    // CreateDirectory of a name in an open directory; same modes and codes.
    ErrorCode CreateDirectoryAt(FileHandle directory, const std::string& name, bool privateMode);
    // Rename between names in open directories on one file system; same
    // rules and codes.
    ErrorCode RenameAt(FileHandle fromDirectory, const std::string& from, FileHandle toDirectory,
                       const std::string& to, bool replace);
    // Swaps two existing names in open directories on one file system in
    // one atomic step: each names afterwards what the other named, and a
    // crash leaves both before or both after. 0; 2 either is missing; 50
    // where the platform or the file system cannot (fs_features::
    // kExchangeRename, and some file systems even then): nothing changed,
    // and the caller takes another way; 87 anything else.
    ErrorCode ExchangeAt(FileHandle firstDirectory, const std::string& first,
                         FileHandle secondDirectory, const std::string& second);
    // unlinkat(2) of a name that is not a directory. 0; 2 nothing there; 87
    // anything else (a directory included).
    ErrorCode RemoveFileAt(FileHandle directory, const std::string& name);
    // unlinkat(2) with AT_REMOVEDIR: an empty directory only, never a link
    // to one. 0; 2 nothing there; 87 anything else (not empty, not a
    // directory).
    ErrorCode RemoveDirectoryAt(FileHandle directory, const std::string& name);
    // The names in an open directory except "." and "..", in the order the
    // system gives them. `directory` stays open and keeps its position. 0
    // or 87.
    ErrorCode ListDirectory(FileHandle directory, std::vector<std::string>* names);
    // Copies up to `count` bytes of `source` from `offset` (its own position
    // is neither used nor moved) to the current position of `target` inside
    // the kernel, advancing that. Returns false, having copied nothing, when
    // the platform cannot do that for these two files: the caller then reads
    // and writes itself. Otherwise *code is 0 (and *copied is 0 only at the
    // end of `source`) or the failure code (2, 87), also kept as the last
    // error.
    bool CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                     std::uint32_t count, std::uint32_t* copied, ErrorCode* code);
    // Read from `offset`, leaving the position alone; otherwise as Read.
    ErrorCode ReadAt(FileHandle handle, std::uint64_t offset, void* buffer, std::uint32_t count,
                     std::uint32_t* countRead);

    // Seconds since 1970 to FileTime: 0 before 1601, the largest FileTime
    // after it can hold, never an overflow.
    static FileTime FromUnixSeconds(std::int64_t seconds);
    // FileTime to whole seconds since 1970 (rounded towards 1601); every
    // FileTime fits.
    static std::int64_t ToUnixSeconds(FileTime time);
};
