#include "engine/InstallRecovery.h"

#include "engine/fs/FileFinder.h"
#include "engine/fs/FileSystem.h"
#include "engine/RunUndo.h"

RecoveryResult RecoverInterruptedRuns(InstallEventSink* sink) {
    FileSystem fileSystem;
    return run_undo::RecoverRuns<FileSystem, FileFinder>(fileSystem, sink);
}

bool HasInterruptedRuns() {
    FileSystem fileSystem;
    return run_undo::HasDeadRuns<FileSystem, FileFinder>(fileSystem);
}
