#pragma once

#include "text/String.h"

// What a run did with one kit file.
enum class FileAction {
    Install,  // nothing stood at its place: written new
    Replace,  // an older file stood there: backed up, then written
    Skip,     // an installed copy at least as new stood there: left alone
    Repair,   // a damaged copy stood there (the record's time, another size):
              // backed up, then written
};

// Receives what the install worker and the recovery of interrupted runs do,
// for the run's log. Calls come from the install thread during a run and
// from the main thread otherwise; an implementation must be safe to call
// from either while the other works.
class InstallEventSink {
public:
    virtual ~InstallEventSink() = default;
    // One call per kit record that the run decided on, in kit order;
    // relativePath is the installed path below the template directory,
    // with "/" as separator.
    virtual void OnFileAction(const stdx::u16string& relativePath, FileAction action) = 0;
    // The run was rolled back: `restored` earlier files moved back from the
    // backup, `removed` files and directories of the run removed.
    virtual void OnRollback(int restored, int removed) = 0;
};
