// Writers of one run share its StoredTimeRules.

#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fs/FileSystemTestSupport.h"
#include "engine/fs/StoredTimeRules.h"

using fs_test::ProbeCountingFileSystem;
using fs_test::TempDir;
using fs_test::U16;

namespace {

TEST(StoredTimeRulesConcurrency, ThreadsAskingAtOnceShareOneProbe) {
    TempDir dir;
    constexpr int kThreads = 4;
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(::mkdir((dir / std::to_string(i)).c_str(), 0700), 0);
    }
    ProbeCountingFileSystem::s_probes = 0;
    ProbeCountingFileSystem::s_refused = false;
    StoredTimeRules<ProbeCountingFileSystem> rules;
    std::vector<StoredTimeRule> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 50; ++round) {
                seen[i] = rules.Of(U16(dir / std::to_string(i)));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(ProbeCountingFileSystem::s_probes, 1);
    for (const StoredTimeRule& rule : seen) {
        EXPECT_TRUE(rule.known);
        EXPECT_EQ(rule.latest, seen[0].latest);
        EXPECT_EQ(rule.oddShift, seen[0].oddShift);
    }
}

}  // namespace
