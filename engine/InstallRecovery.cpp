#include "engine/InstallRecovery.h"

RecoveryResult RecoverInterruptedRuns(InstallEventSink* sink) {
    (void)sink;
    return RecoveryResult();
}

bool HasInterruptedRuns() {
    return false;
}
