#include "launcher/LauncherPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "launcher/LauncherTestSupport.h"

namespace {

using launcher_test::HomeOverride;
using launcher_test::U8;

TEST(LauncherPathsTest, EveryPathHangsOffTheHomeDirectory) {
    HomeOverride home("/Users/me");
    EXPECT_EQ(U8(HomeDirectory()), "/Users/me");
    EXPECT_EQ(U8(ProductHomeDirectory()), "/Users/me/.qarn/");
    EXPECT_EQ(U8(LauncherDirectory()), "/Users/me/.Qa/qalaunch");
    EXPECT_EQ(U8(UserConfigPath()), "/Users/me/.Qa/qalaunch/qalaunch.cfg");
    EXPECT_EQ(U8(AlternateLauncherDirectory()), "/Users/me/.Qa/qalauncht");
    EXPECT_EQ(U8(AlternateUserConfigPath()), "/Users/me/.Qa/qalauncht/qalaunch.cfg");
    EXPECT_EQ(U8(CommonLauncherDirectory()), "/Users/me/.qarn//.Qa/qalaunch");
    EXPECT_EQ(U8(CommonConfigPath()), "/Users/me/.qarn//.Qa/qalaunch/qalaunch.cfg");
    EXPECT_EQ(U8(DefaultTemplateDirectory()), "/Users/me/.qarn/Qa/qarn/");
}

TEST(LauncherPathsTest, PathsFollowAChangedHomeAtOnce) {
    HomeOverride first("/home/a");
    EXPECT_EQ(U8(UserConfigPath()), "/home/a/.Qa/qalaunch/qalaunch.cfg");
    HomeOverride second("/home/бета");
    EXPECT_EQ(U8(UserConfigPath()), "/home/бета/.Qa/qalaunch/qalaunch.cfg");
}

TEST(LauncherPathsTest, HomeIsTakenLiterallyWithoutExpansion) {
    // Nothing in the value is interpreted, let alone run.
    HomeOverride home("/tmp/$(touch x)`id` *");
    EXPECT_EQ(U8(HomeDirectory()), "/tmp/$(touch x)`id` *");
}

TEST(LauncherPathsTest, UnsetOrEmptyHomeFallsBackToThePasswordDatabase) {
    struct passwd* entry = ::getpwuid(::getuid());
    if (entry == nullptr || entry->pw_dir == nullptr) {
        GTEST_SKIP() << "no password entry for this user";
    }
    const std::string expected = entry->pw_dir;
    {
        HomeOverride unset(nullptr);
        EXPECT_EQ(U8(HomeDirectory()), expected);
    }
    {
        HomeOverride empty("");
        EXPECT_EQ(U8(HomeDirectory()), expected);
        EXPECT_EQ(U8(UserConfigPath()), expected + "/.Qa/qalaunch/qalaunch.cfg");
    }
}

}  // namespace
