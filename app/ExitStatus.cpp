#include "app/ExitStatus.h"

int ExitStatusForStart(StartFailure failure) {
    switch (failure) {
        case StartFailure::None:
            return kExitSuccess;
        case StartFailure::NoSource:
            return kExitNoKit;
        case StartFailure::NoSpace:
            return kExitNoSpace;
        case StartFailure::DamagedKit:
            return kExitDamagedKit;
        case StartFailure::NoTarget:
            break;
    }
    return kExitNoTarget;
}

int ExitStatusForRun(ErrorCode code, const stdx::u16string& keptBackup) {
    // A kept backup outweighs the reason of the failure: the user's files
    // are not where they were, and the message says where they are.
    if (!keptBackup.empty()) {
        return kExitNotRestored;
    }
    if (code == kErrorSuccess) {
        return kExitSuccess;
    }
    if (code == kErrorInflate) {
        // Found only while the run went on (silent runs read the kit as
        // they install): the same status as at the start.
        return kExitDamagedKit;
    }
    return code == kErrorCancelled ? kExitCancelled : kExitFailed;
}
