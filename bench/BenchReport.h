#pragma once

// How the installation benchmarks report: every figure a median over the
// rounds, printed beside what it is compared against and its target, and
// the machine's load, so that a reader can judge the noise.

#include <stdlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchTree.h"

namespace bench {

inline void PrintLoadAverage(const char* when) {
    double load[3] = {0, 0, 0};
    if (::getloadavg(load, 3) == 3) {
        std::printf("load average %s: %.2f %.2f %.2f (1, 5, 15 minutes)\n", when, load[0], load[1],
                    load[2]);
    }
}

// "  0.53 x tar (target <= 0.60, met)": value against an anchor, and
// against the target when there is one (target > 0).
inline void PrintRatio(double value, double anchor, const char* anchorName, double target) {
    const double ratio = value / anchor;
    std::printf("  %.2f x %s", ratio, anchorName);
    if (target > 0) {
        std::printf(" (target <= %.2f, %s)", target, ratio <= target ? "met" : "NOT MET");
    }
}

// A time per file: in microseconds for a tree of many files, in
// milliseconds for a few large ones.
inline std::string PerFile(double seconds, std::size_t files) {
    const bool many = files >= 100;
    char text[40];
    std::snprintf(text, sizeof(text), "%9.1f %s/file",
                  seconds * (many ? 1e6 : 1e3) / static_cast<double>(files), many ? "us" : "ms");
    return text;
}

// How often (b) runs in each round, one run after the other. It is over
// in tens of milliseconds, where one sample of a shared machine's
// scheduling moves it by a tenth: its median is taken over every run.
constexpr int kUpToDateRuns = 3;

// The median of the last round's perRound runs (of all, when fewer).
inline double LastRound(const std::vector<double>& runs, std::size_t perRound) {
    const std::size_t first = runs.size() > perRound ? runs.size() - perRound : 0;
    return Median(std::vector<double>(runs.begin() + first, runs.end()));
}

// The seconds of the three runs of one kit order, one per round, but for
// (b), kUpToDateRuns per round: (a) fresh, (b) all up to date, (c) all
// replaced.
struct OrderTimes {
    std::vector<double> runs[3];
};

// The anchors the three runs answer to, and each run's target against them
// (0: shown without a target; a durable tar of 0: not measured).
struct RunTargets {
    double tar = 0;
    double durableTar = 0;
    double tarTargets[3] = {0, 0, 0};
    double durableTargets[3] = {0, 0, 0};
};

// The median, over the rounds, of each round's runs of one order against
// the same round's runs of another (perRound runs of each in every round,
// medians within a round). The orders of a round run side by side, so this
// leaves out what moves the machine from round to round (a host taking a
// share of the processor for minutes, a tar anchor of 0.5 s in one round and
// 1.0 s in the next), which the ratio of two medians over the whole sitting
// keeps: the figure to judge a 10 % rule by. 0 when no round is complete.
inline double PairedRatio(const std::vector<double>& runs, const std::vector<double>& base,
                          std::size_t perRound) {
    std::vector<double> ratios;
    for (std::size_t first = 0; first + perRound <= std::min(runs.size(), base.size());
         first += perRound) {
        const auto round = [&](const std::vector<double>& all) {
            return Median(std::vector<double>(all.begin() + first, all.begin() + first + perRound));
        };
        ratios.push_back(round(runs) / round(base));
    }
    return ratios.empty() ? 0 : Median(ratios);
}

// Prints the medians of each order's runs with their time per file, against
// tar and the durable tar, and every order after the first against the
// first: the ratio of the medians, and the paired one that the 10 % rule
// is judged by.
inline void PrintOrderRows(const std::vector<const char*>& orderNames,
                           const std::vector<OrderTimes>& times, std::size_t files,
                           const RunTargets& targets) {
    static const char* const kRuns[] = {"(a) fresh install", "(b) reinstall, all up to date",
                                        "(c) reinstall, all one second older"};
    for (std::size_t k = 0; k < times.size(); ++k) {
        std::printf("%s order:\n", orderNames[k]);
        for (int r = 0; r < 3; ++r) {
            const double seconds = Median(times[k].runs[r]);
            std::printf("  %-36s %8.3f s %s", kRuns[r], seconds, PerFile(seconds, files).c_str());
            PrintRatio(seconds, targets.tar, "tar", targets.tarTargets[r]);
            if (targets.durableTar > 0) {
                PrintRatio(seconds, targets.durableTar, "durable tar", targets.durableTargets[r]);
            }
            if (k > 0) {
                PrintRatio(seconds, Median(times[0].runs[r]), orderNames[0], 0);
                const std::size_t perRound = r == 1 ? kUpToDateRuns : 1;
                const double paired = PairedRatio(times[k].runs[r], times[0].runs[r], perRound);
                std::printf(", %.2f x by round (target <= 1.10, %s)", paired,
                            paired <= 1.1 ? "met" : "NOT MET");
            }
            std::printf("\n");
        }
    }
}

// The anchors' own rows: tar, and the durable tar when it was measured.
inline void PrintTarRows(const RunTargets& targets, std::size_t files) {
    std::printf("%-38s %8.3f s %s\n", "tar -xzf", targets.tar, PerFile(targets.tar, files).c_str());
    if (targets.durableTar > 0) {
        std::printf("%-38s %8.3f s %s\n", "tar -xzf, then sync -f", targets.durableTar,
                    PerFile(targets.durableTar, files).c_str());
    }
}

}  // namespace bench
