#include "launcher/StaleConfigTemps.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "launcher/ConfigWriter.h"
#include "launcher/LauncherPaths.h"
#include "tests/support/TestSupport.h"

namespace {

using test_support::EnvOverride;
using test_support::Exists;
using test_support::TempDir;
using test_support::U8;
using test_support::WriteFile;

// The id of a process that has ended and been reaped.
pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

std::string Temporary(const std::string& target, long writer, int attempt) {
    return target + ".qa-tmp-" + std::to_string(writer) + "-" + std::to_string(attempt) + ".new";
}

TEST(StaleConfigTemps, CrashLeftConfigTemporariesBehind) {
    TempDir home;
    EnvOverride override("HOME", home.path());
    const std::string user = U8(UserConfigPath());
    const std::string alternate = U8(AlternateUserConfigPath());
    WriteFile(user, "a=1\n");
    WriteFile(alternate, "a=1\n");
    const long gone = EndedProcess();
    ASSERT_EQ(TemporaryNameFor(user, 3), Temporary(user, ::getpid(), 3)) << "the name changed";

    struct Case {
        std::string path;
        bool removed;
    } const cases[] = {
        {Temporary(user, gone, 0), true},
        {Temporary(alternate, gone, 7), true},
        {Temporary(user, ::getpid(), 0), false},                // this process may be writing it
        {Temporary(user, 1, 0), false},                         // a live process
        {user + "." + std::to_string(gone) + "-0.new", false},  // no tag: not ours
        {user + ".qa-tmp-x-0.new", false},
        {user + ".qa-tmp-" + std::to_string(gone) + "-0.new.keep", false},
        {home / "other.cfg.qa-tmp-" + std::to_string(gone) + "-0.new", false},
    };
    for (const Case& c : cases) {
        WriteFile(c.path, "partial");
    }
    const std::string directory = Temporary(user, gone, 1);
    ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
    const std::string link = Temporary(user, gone, 2);
    ASSERT_EQ(::symlink(user.c_str(), link.c_str()), 0);

    RemoveStaleConfigTemps();

    for (const Case& c : cases) {
        EXPECT_EQ(Exists(c.path), !c.removed) << c.path;
    }
    EXPECT_TRUE(Exists(directory)) << "only regular files are removed";
    EXPECT_TRUE(Exists(link)) << "only regular files are removed";
    EXPECT_TRUE(Exists(user));
    EXPECT_TRUE(Exists(alternate));
}

TEST(StaleConfigTemps, TemporariesBesideALinkedFileAreFound) {
    TempDir home;
    TempDir elsewhere;
    EnvOverride override("HOME", home.path());
    const std::string user = U8(UserConfigPath());
    WriteFile(elsewhere / "real.cfg", "a=1\n");
    WriteFile(user, "");
    ::unlink(user.c_str());
    ASSERT_EQ(::symlink((elsewhere / "real.cfg").c_str(), user.c_str()), 0);
    const std::string stale = Temporary(elsewhere / "real.cfg", EndedProcess(), 0);
    WriteFile(stale, "partial");

    RemoveStaleConfigTemps();

    EXPECT_FALSE(Exists(stale));
    EXPECT_TRUE(Exists(elsewhere / "real.cfg"));
}

}  // namespace
