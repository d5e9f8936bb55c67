#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// The system calls through which WriteConfigText replaces a file. Tests
// derive from it and hide single operations to fail them; WriteConfigFile
// is a template over it, so nothing here is virtual. Paths are UTF-8.
class ConfigFileIo {
public:
    // Creates a new file that did not exist, for writing, with the
    // permission bits 0666 less the umask. Returns its descriptor, or -1
    // (errno set; EEXIST when the name is taken).
    int CreateNew(const std::string& path);
    // Writes all `size` bytes. False on any error.
    bool Write(int descriptor, const char* data, std::size_t size);
    // Forces the file's data to stable storage (past the drive's own cache
    // where fsync stops short of it). False on failure.
    bool Sync(int descriptor);
    // Sets the permission bits. False on failure.
    bool SetMode(int descriptor, mode_t mode);
    // False when closing reports an error (data may not have reached the disk).
    bool Close(int descriptor);
    // Replaces `to` by `from` in one step. False on failure.
    bool Rename(const std::string& from, const std::string& to);
    // Removes a file; failures are ignored.
    void Remove(const std::string& path);
    // Makes a rename inside the directory durable, as Sync does for a file.
    // Best effort: some file systems cannot sync a directory, and by then
    // the file is in place.
    void SyncDirectory(const std::string& directory);
    // Whether the existing file may be opened for writing. Replacing it by
    // rename needs only the directory's permission; this keeps a file the
    // user may not change (and perhaps could not read) from being replaced.
    bool MayWrite(const std::string& path);
    // The permission bits of an existing file. False when it does not exist.
    bool Mode(const std::string& path, mode_t* mode);
    // Whether something other than a regular file (a pipe, a device, a
    // directory) is at the path, a link followed. Such a thing is never
    // replaced by a launcher file.
    bool IsOther(const std::string& path);
    // When running as root, gives the file the owner and group of the file
    // at `from`, which a new file would otherwise not keep; elsewhere only
    // root may give a file away, so nothing is done. False on failure.
    bool CopyOwner(int descriptor, const std::string& from);
    // Opens an existing regular file for reading and writing, never
    // blocking on a pipe in its place. Returns its descriptor, or -1.
    int OpenInPlace(const std::string& path);
    // Reads from the current position to the end. False on an error.
    bool ReadAll(int descriptor, std::string* bytes);
    // Moves to the start of the file. False on failure.
    bool Rewind(int descriptor);
    // Cuts or extends the file to `size` bytes. False on failure.
    bool Truncate(int descriptor, std::size_t size);
    // The file a path finally names: the target of a symbolic link, so that
    // a linked configuration file stays linked. The path itself otherwise.
    std::string Resolve(const std::string& path);
};
