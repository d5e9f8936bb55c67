#pragma once

#include <cstdio>

#include "app/ExitStatus.h"
#include "app/RunLog.h"
#include "app/Startup.h"
#include "app/WindowLayer.h"
#include "engine/InstallRecovery.h"

// The whole installer: command line and language, the recovery of
// interrupted runs, the controller and its checks, the wizard window, then
// the silent run, the dry run or the user's session. Returns the exit status
// of ExitStatus.h.
//
// Before anything else: a refused command line prints its reason to
// standard error (kExitUsage); --help and --version print to standard output
// and end (kExitSuccess); a --log file that cannot be opened is refused.
// Quiet mode and the dry run never use `layer`: their messages go to
// standard error. Every other start first finishes interrupted runs
// (RecoverInterruptedRuns). Without a display the wizard prints one line
// to standard error and ends with kExitNoDisplay, changing nothing else.
int RunInstaller(StartupArgs& args, WindowLayer& layer);

// Tells the user and the log what the recovery of interrupted runs did:
// "IDS_RECOVERED" when runs were undone, "IDS_RECOVERED_COMPLETE" when runs
// were completed, and for each kept backup "IDS_RESTORE_INCOMPLETE", a line
// break and its path. With messageBoxes each is an informational message box
// of layer; otherwise each is one line on errors. Nothing when the recovery
// found nothing to do.
void ReportRecovery(const RecoveryResult& result, bool messageBoxes, WindowLayer& layer,
                    RunLog& log, std::FILE* errors);
