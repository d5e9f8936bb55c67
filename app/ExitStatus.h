#pragma once

#include "engine/fs/ErrorCodes.h"
#include "text/String.h"

// The installer's exit statuses. The wizard with a window ends with
// kExitSuccess whatever happened, except for a refused command line;
// silent mode, quiet mode and the dry run end with the status of their
// outcome. The table is printed by --help (UsageText) and in the README.
constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 2;          // unknown long option, relative --dir, log not opened
constexpr int kExitNoKit = 3;          // the kit file is missing
constexpr int kExitDamagedKit = 4;     // damaged, unreadable, or failed its integrity check
constexpr int kExitNoSpace = 5;        // not enough space in the temporary directory
constexpr int kExitNoTarget = 6;       // no usable template directory
constexpr int kExitFailed = 7;         // the run failed; the directory was restored
constexpr int kExitCancelled = 8;      // the run was cancelled; the directory was restored
constexpr int kExitNotRestored = 9;    // the run failed and a backup had to be kept
constexpr int kExitNoDisplay = 10;     // the wizard was asked for without a display
constexpr int kExitPlanConflict = 11;  // --plan found a conflict

// Why the start-up checks of the controller refused to go on.
enum class StartFailure {
    None,        // the checks passed
    NoSource,    // "IDS_ERROR_NOSOURCE"
    NoSpace,     // "IDS_ERROR_NOSPACE"
    DamagedKit,  // "IDS_ERROR_DAMAGEDSOURCE"
    NoTarget,    // the resolved template directory is empty or not a directory
};

// kExitSuccess for None, else the status of the failure.
int ExitStatusForStart(StartFailure failure);

// The status of a finished run: kExitSuccess for code 0, kExitNotRestored
// when a backup was kept (whatever the code), kExitCancelled for 1223,
// kExitDamagedKit for 13 (the kit failed its checks during the run),
// kExitFailed for any other code.
int ExitStatusForRun(ErrorCode code, const stdx::u16string& keptBackup);
