#pragma once

#include <vector>

#include "engine/InstallEvents.h"
#include "text/String.h"

// What the recovery of interrupted runs did.
struct RecoveryResult {
    // Interrupted runs that were undone: their template directories hold
    // exactly what they held before those runs.
    int restored = 0;
    // Interrupted runs that had already installed every file: completed
    // (their backups removed) instead of undone.
    int completed = 0;
    // Backup directories of runs that could not be undone completely. They
    // stay, with the journal, so that the next start tries again.
    std::vector<stdx::u16string> keptBackups;
    // Run directories left alone because they, their journal or their
    // backup directory belong to another user or may be written by others:
    // never obeyed, only reported.
    std::vector<stdx::u16string> refused;
};

// Finishes every interrupted run of this user whose process is gone (killed,
// crashed, cut off by a power loss): each is undone (or completed, see
// RecoveryResult), and nothing of it is left in the temporary directory or
// beside its template directory. Runs of an installer that is still alive
// are left alone. Call once at start-up, in every mode, before the kit is
// looked for. sink may be null; it hears OnRollback once per undone run.
//
// Runs are found in this start's temporary directory
// (FileSystem::TempDirectory) and in and above the template `locations`
// (absolute; see RunFinder.h for exactly where). A run is taken as
// interrupted when no process holds the lock on its journal.
RecoveryResult RecoverInterruptedRuns(const std::vector<stdx::u16string>& locations,
                                      InstallEventSink* sink);

// Whether an interrupted run waits to be finished; changes nothing.
bool HasInterruptedRuns(const std::vector<stdx::u16string>& locations);
