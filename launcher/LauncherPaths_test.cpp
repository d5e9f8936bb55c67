#include "launcher/LauncherPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace {

using test_support::EnvOverride;
using test_support::U8;

TEST(LauncherPathsTest, EveryPathHangsOffTheHomeDirectory) {
    EnvOverride home("HOME", "/Users/me");
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
    EnvOverride first("HOME", "/home/a");
    EXPECT_EQ(U8(UserConfigPath()), "/home/a/.Qa/qalaunch/qalaunch.cfg");
    EnvOverride second("HOME", "/home/бета");
    EXPECT_EQ(U8(UserConfigPath()), "/home/бета/.Qa/qalaunch/qalaunch.cfg");
}

TEST(LauncherPathsTest, HomeIsTakenLiterallyWithoutExpansion) {
    // Nothing in the value is interpreted, let alone run.
    EnvOverride home("HOME", "/tmp/$(touch x)`id` *");
    EXPECT_EQ(U8(HomeDirectory()), "/tmp/$(touch x)`id` *");
}

TEST(LauncherPathsTest, UnsetOrEmptyHomeFallsBackToThePasswordDatabase) {
    struct passwd* entry = ::getpwuid(::getuid());
    if (entry == nullptr || entry->pw_dir == nullptr) {
        GTEST_SKIP() << "no password entry for this user";
    }
    const std::string expected = entry->pw_dir;
    {
        EnvOverride unset("HOME", nullptr);
        EXPECT_EQ(U8(HomeDirectory()), expected);
    }
    {
        EnvOverride empty("HOME", "");
        EXPECT_EQ(U8(HomeDirectory()), expected);
        EXPECT_EQ(U8(UserConfigPath()), expected + "/.Qa/qalaunch/qalaunch.cfg");
    }
}

TEST(LauncherPathsTest, ExpandTargetPathTakesTildeAndAbsolutePathsOnly) {
    EnvOverride home("HOME", "/home/me");
    struct Case {
        const char16_t* typed;
        const char* expanded;  // null: refused
    };
    const Case cases[] = {
        {u"~", "/home/me"},
        {u"~/", "/home/me/"},
        {u"~/Templates", "/home/me/Templates"},
        {u"/opt/t", "/opt/t"},
        {u"/", "/"},
        {u"", nullptr},
        {u"Documents/Templates", nullptr},
        {u"./t", nullptr},
        {u"../t", nullptr},
        {u"~other/t", nullptr},
        {u" /opt/t", nullptr},
    };
    for (const Case& c : cases) {
        stdx::u16string out(u"untouched");
        const bool ok = ExpandTargetPath(c.typed, &out);
        EXPECT_EQ(ok, c.expanded != nullptr) << U8(c.typed);
        EXPECT_EQ(U8(out), c.expanded != nullptr ? c.expanded : "untouched") << U8(c.typed);
    }
}

TEST(LauncherPathsTest, ExpandTargetPathRefusesTildeWithoutAnAbsoluteHome) {
    EnvOverride home("HOME", "relative/home");
    stdx::u16string out;
    EXPECT_FALSE(ExpandTargetPath(u"~/t", &out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
