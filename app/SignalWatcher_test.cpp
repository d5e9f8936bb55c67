#include "app/SignalWatcher.h"

#include <signal.h>

#include <atomic>

#include <gtest/gtest.h>

namespace {

class SignalWatcherTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { ASSERT_TRUE(SignalWatcher::Install()); }
    void TearDown() override { SignalWatcher::Uninstall(); }
};

// Each signal is held for the main thread instead of ending the process.
TEST_P(SignalWatcherTest, SignalIsHeldUntilCleared) {
    EXPECT_EQ(SignalWatcher::Pending(), 0);
    ASSERT_EQ(raise(GetParam()), 0);
    EXPECT_EQ(SignalWatcher::Pending(), GetParam());
    SignalWatcher::Clear();
    EXPECT_EQ(SignalWatcher::Pending(), 0);
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, SignalWatcherTest,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT));

using SignalWatcherOrderTest = SignalWatcherTest;

TEST_F(SignalWatcherOrderTest, FirstSignalIsKeptAndInstallingAgainKeepsIt) {
    raise(SIGINT);
    raise(SIGTERM);
    EXPECT_TRUE(SignalWatcher::Install());
    EXPECT_EQ(SignalWatcher::Pending(), SIGINT);
}

std::atomic<int> g_earlierHandlerCalls{0};

void EarlierHandler(int) {
    ++g_earlierHandlerCalls;
}

TEST(SignalWatcherUninstallTest, GivesBackTheEarlierActionAndForgetsThePendingSignal) {
    struct sigaction earlier = {};
    earlier.sa_handler = EarlierHandler;
    sigemptyset(&earlier.sa_mask);
    struct sigaction original;
    ASSERT_EQ(sigaction(SIGHUP, &earlier, &original), 0);

    ASSERT_TRUE(SignalWatcher::Install());
    raise(SIGHUP);
    EXPECT_EQ(g_earlierHandlerCalls.load(), 0);
    SignalWatcher::Uninstall();
    EXPECT_EQ(SignalWatcher::Pending(), 0);
    raise(SIGHUP);
    EXPECT_EQ(g_earlierHandlerCalls.load(), 1);
    EXPECT_EQ(SignalWatcher::Pending(), 0);

    sigaction(SIGHUP, &original, nullptr);
}

}  // namespace
