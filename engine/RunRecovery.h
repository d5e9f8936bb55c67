#pragma once

#include <vector>

#include "engine/DurableSync.h"
#include "engine/InstallEvents.h"
#include "engine/InstallRecovery.h"
#include "engine/RunFinder.h"
#include "engine/RunUndo.h"
#include "engine/fs/FileSystem.h"
#include "engine/fs/PathNames.h"
#include "text/String.h"

// The recovery behind RecoverInterruptedRuns and HasInterruptedRuns, over
// any file-system policy.
namespace run_recovery {

template <class FS>
stdx::u16string TempDirectoryOf(FS& fileSystem) {
    stdx::u16string tempDir;
    fileSystem.TempDirectory(&tempDir);
    return path_names::WithTrailingSlash(tempDir);
}

template <class FS>
RecoveryResult RecoverRuns(FS& fileSystem, const std::vector<stdx::u16string>& locations,
                           InstallEventSink* sink) {
    RecoveryResult result;
    run_finder::RunFinder<FS> finder(fileSystem);
    std::vector<run_finder::FoundRun> runs =
        finder.Find(TempDirectoryOf(fileSystem), locations, true, &result.refused);
    for (run_finder::FoundRun& run : runs) {
        // Where an earlier version kept the backup outside the run
        // directory, it goes too.
        const stdx::u16string ownBackup = run.runDir + run_names::kBackupName + u"/";
        const stdx::u16string elsewhere =
            run.header.backupDir == ownBackup ? stdx::u16string() : run.header.backupDir;
        if (run_journal::IsComplete(run.entries)) {
            run_undo::RemoveRun(fileSystem, run.runDir, elsewhere);
            ++result.completed;
        } else {
            DurableSync<FS> durable(fileSystem);
            FileHandle anchor = kInvalidHandle;
            fileSystem.OpenDirectory(path_names::WithoutTrailingSlash(run.runDir), &anchor);
            durable.Start(anchor);
            run_undo::UndoCounts counts;
            if (anchor != kInvalidHandle &&
                run_undo::Undo(fileSystem, run.runDir, run.header, run.entries, durable, &counts)) {
                run_undo::RemoveRun(fileSystem, run.runDir, elsewhere);
                ++result.restored;
            } else {
                result.keptBackups.push_back(run.header.backupDir);
            }
            if (anchor != kInvalidHandle) {
                fileSystem.Close(anchor);
            }
            if (sink != nullptr) {
                sink->OnRollback(counts.restored, counts.removed);
            }
        }
        fileSystem.Close(run.journal);
    }
    return result;
}

template <class FS>
bool HasDeadRuns(FS& fileSystem, const std::vector<stdx::u16string>& locations) {
    run_finder::RunFinder<FS> finder(fileSystem);
    std::vector<stdx::u16string> refused;
    std::vector<run_finder::FoundRun> runs =
        finder.Find(TempDirectoryOf(fileSystem), locations, false, &refused);
    for (run_finder::FoundRun& run : runs) {
        fileSystem.Close(run.journal);
    }
    return !runs.empty();
}

}  // namespace run_recovery
