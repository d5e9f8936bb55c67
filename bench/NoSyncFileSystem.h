#pragma once

#include "engine/fs/FileSystem.h"

namespace bench {

// The file system with durability turned off, for measuring what making a
// run durable costs: every sync (a file's, a folder's, the whole file
// system's, the device cache's) succeeds at once without reaching the disk,
// and every other operation is the real one. A run over it takes exactly
// the path a run over FileSystem takes, so the difference of their times
// is the durability points' own. Nothing run over it survives a power cut.
class NoSyncFileSystem : public FileSystem {
public:
    ErrorCode Sync(FileHandle) { return kErrorSuccess; }
    ErrorCode SyncDirectory(const stdx::u16string&) { return kErrorSuccess; }
    bool SyncFileSystem(FileHandle, ErrorCode* code) {
        *code = kErrorSuccess;
        return true;
    }
    ErrorCode FlushDeviceCache(FileHandle) { return kErrorSuccess; }
};

}  // namespace bench
