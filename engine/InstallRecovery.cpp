#include "engine/InstallRecovery.h"

#include "engine/RunRecovery.h"
#include "engine/fs/FileSystem.h"

RecoveryResult RecoverInterruptedRuns(const std::vector<stdx::u16string>& locations,
                                      InstallEventSink* sink) {
    FileSystem fileSystem;
    return run_recovery::RecoverRuns(fileSystem, locations, sink);
}

bool HasInterruptedRuns(const std::vector<stdx::u16string>& locations) {
    FileSystem fileSystem;
    return run_recovery::HasDeadRuns(fileSystem, locations);
}
