#include "app/ExitStatus.h"

#include <gtest/gtest.h>

namespace {

TEST(ExitStatusTest, EveryOutcomeHasItsStatus) {
    EXPECT_EQ(ExitStatusForStart(StartFailure::None), 0);
    EXPECT_EQ(ExitStatusForStart(StartFailure::NoSource), 3);
    EXPECT_EQ(ExitStatusForStart(StartFailure::DamagedKit), 4);
    EXPECT_EQ(ExitStatusForStart(StartFailure::NoSpace), 5);
    EXPECT_EQ(ExitStatusForStart(StartFailure::NoTarget), 6);

    const struct {
        ErrorCode code;
        const char16_t* keptBackup;
        int status;
    } runs[] = {
        {kErrorSuccess, u"", 0},
        {kErrorInvalidParameter, u"", 7},
        {kErrorNotFound, u"", 7},
        {kErrorCancelled, u"", 8},
        {kErrorInvalidParameter, u"/tmp/qrstp0/", 9},
        // A cancel whose rollback could not put everything back is still a
        // directory that was not restored.
        {kErrorCancelled, u"/tmp/qrstp0/", 9},
    };
    for (const auto& run : runs) {
        EXPECT_EQ(ExitStatusForRun(run.code, stdx::u16string(run.keptBackup)), run.status)
            << run.code;
    }
}

}  // namespace
