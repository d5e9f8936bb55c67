#include "bench/BenchReport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The paired ratio judges each round by itself: a machine that slows down
// for a whole round moves both orders of it, not their ratio.
TEST(BenchReportTest, PairedRatioComparesRunsOfTheSameRound) {
    struct Case {
        const char* what;
        std::vector<double> runs, base;
        std::size_t perRound;
        double expected;
    };
    const Case cases[] = {
        {"the same every round", {1, 2, 3}, {1, 2, 3}, 1, 1.0},
        // Medians 0.308 against 0.264 (1.17), round by round 0.92 to 1.30.
        {"slow rounds of the base",
         {0.308, 0.310, 0.258, 0.269, 0.309},
         {0.334, 0.344, 0.264, 0.256, 0.238},
         1,
         0.258 / 0.264},
        {"one slow round of five", {2, 2, 2, 2, 9}, {1, 1, 1, 1, 1}, 1, 2.0},
        // Three runs a round: each round's median against the other's (1
        // and 2; the upper of two middles, as every median here).
        {"three runs a round", {5, 1, 1, 2, 8, 2}, {1, 1, 9, 1, 1, 1}, 3, 2.0},
        {"an unfinished last round is left out", {1, 1, 1, 7}, {1, 1, 1, 1, 1, 1}, 3, 1.0},
        {"no complete round", {1, 1}, {1, 1}, 3, 0.0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(bench::PairedRatio(c.runs, c.base, c.perRound), c.expected) << c.what;
    }
}

}  // namespace
