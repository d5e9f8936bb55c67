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
};

// Finishes every interrupted run of this user whose process is gone: each
// is undone (or completed, see RecoveryResult), and nothing of it is left in
// the temporary directory or beside its template directory. Runs of an
// installer that is still alive are left alone. Call once at start-up, in
// every mode, before the kit is looked for. sink may be null; it hears
// OnRollback once per undone run.
//
// Runs are found by their journals in this start's temporary directory
// (FileSystem::TempDirectory): a run made under another TMPDIR is found
// only by a start with that TMPDIR. A run is taken as interrupted when no
// process holds the lock on its journal.
RecoveryResult RecoverInterruptedRuns(InstallEventSink* sink);

// Whether an interrupted run waits to be finished; changes nothing.
bool HasInterruptedRuns();
