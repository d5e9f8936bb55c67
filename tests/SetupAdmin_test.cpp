// The options for administrators on the built Setup: the exit status of each
// outcome produced by a real situation, --help, --dir, --log and --plan.
#include <sys/mount.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "tests/SetupProgramFixture.h"

namespace setup_test {
namespace {

using test_support::LogEvents;
using test_support::TreeDetail;

class SetupAdminTest : public SetupProgramTest {
protected:
    // A kit of `count` small files, all newer than anything a test writes.
    void MakeFlatKit(int count) {
        for (int i = 0; i < count; ++i) {
            WriteFile(source + "/f" + std::to_string(i) + ".txt", "file " + std::to_string(i),
                      1600000000);
        }
        Result made = Run(PKDTOOL_PATH, {"create", "-o", kitDir + "/qarn.pkd", source}, root);
        ASSERT_EQ(made.status, 0) << made.err;
    }
};

// Each status of the table, each from what a deployment would meet.
TEST_F(SetupAdminTest, ExitStatusOfEachOutcome) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::vector<std::string> arguments;
        int status;
    };
    const std::string file = root + "/a-file";
    const Case cases[] = {
        {"missing kit", [] {}, {"usecwd", "/S"}, 3},
        {"damaged kit",
         [&] { WriteFile(kitDir + "/qarn.pkd", std::string(4096, 'x')); },
         {"usecwd", "--quiet"},
         4},
        {"target is a file",
         [&] {
             MakeKit(kitDir + "/qarn.pkd");
             WriteFile(file, "not a directory");
         },
         {"usecwd", "/S", "--dir=" + file},
         6},
        {"failing installation",
         [&] {
             MakeKit(kitDir + "/qarn.pkd");
             WriteFile(DefaultTarget() + "/forms", "a file where the kit has a folder");
         },
         {"usecwd", "/S"},
         7},
        {"wizard without a display", [&] { MakeKit(kitDir + "/qarn.pkd"); }, {"usecwd"}, 10},
        {"plan with a conflict",
         [&] {
             MakeKit(kitDir + "/qarn.pkd");
             fs::create_directories(DefaultTarget() + "/readme.txt");
         },
         {"usecwd", "--plan"},
         11},
        {"unknown option", [&] { MakeKit(kitDir + "/qarn.pkd"); }, {"usecwd", "/S", "--quite"}, 2},
        {"relative --dir", [&] { MakeKit(kitDir + "/qarn.pkd"); }, {"usecwd", "/S", "--dir=x"}, 2},
        {"log cannot be opened",
         [&] { MakeKit(kitDir + "/qarn.pkd"); },
         {"usecwd", "/S", "--log=" + root + "/no/such/dir/log"},
         2},
        {"success", [&] { MakeKit(kitDir + "/qarn.pkd"); }, {"usecwd", "--quiet"}, 0},
    };
    for (const Case& c : cases) {
        fs::remove_all(kitDir);
        fs::remove_all(home);
        fs::create_directories(kitDir);
        fs::create_directories(home);
        c.prepare();
        Result result = Setup(c.arguments);
        EXPECT_EQ(result.status, c.status) << c.what << ": " << result.err;
        EXPECT_TRUE(fs::is_empty(tmp)) << c.what;
        // A failure says why on standard error (the dry run's findings are
        // its output); a success prints nothing.
        if (c.status == 11) {
            EXPECT_NE(result.out.find("conflict readme.txt"), std::string::npos) << result.out;
        } else if (c.status != 0) {
            EXPECT_FALSE(result.err.empty()) << c.what;
        } else {
            EXPECT_EQ(result.err, "") << c.what;
        }
    }
}

// A temporary directory too small for the kit, made for real: a 64 KiB
// tmpfs, which needs root.
TEST_F(SetupAdminTest, FullTemporaryDirectoryEndsWithStatus5) {
    const std::string small = root + "/small-tmp";
    fs::create_directories(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
        GTEST_SKIP() << "a tmpfs cannot be mounted here (needs root): " << std::strerror(errno);
    }
    // Unmounted however the test ends, so that the temporary tree can go.
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    std::string noise;
    std::ifstream random("/dev/urandom", std::ios::binary);
    noise.resize(40000);
    random.read(noise.data(), static_cast<std::streamsize>(noise.size()));
    WriteFile(source + "/noise.bin", noise, 1600000000);
    Result made = Run(PKDTOOL_PATH, {"create", "-o", kitDir + "/qarn.pkd", source}, root);
    ASSERT_EQ(made.status, 0) << made.err;

    Result result = Setup({"usecwd", "/S"}, {"TMPDIR=" + small});
    EXPECT_EQ(result.status, 5) << result.err;
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_NOSPACE") + "\n");
    EXPECT_TRUE(fs::is_empty(small));
    EXPECT_FALSE(fs::exists(DefaultTarget()));
}

// SIGTERM while files are being copied: a cancel, rolled back.
TEST_F(SetupAdminTest, SignalDuringARunEndsWithStatus8AndRestores) {
#ifndef SLOW_TIMES_LIB
    GTEST_SKIP() << "the slowing library is built with the GUI tests only";
#else
    MakeFlatKit(60);
    WriteFile(DefaultTarget() + "/f1.txt", "older", 1500000000);
    const auto before = Snapshot(DefaultTarget());
    const std::string logPath = root + "/run.log";
    pid_t pid =
        StartSetup({"usecwd", "/S", "--log=" + logPath},
                   {std::string("LD_PRELOAD=") + SLOW_TIMES_LIB, "QA_SLOW_FILE_TIMES_US=50000"});
    // The log is written line by line: the third file is the sign that the
    // run is under way.
    for (int tries = 0; tries < 200; ++tries) {
        const std::string log = ReadFile(logPath);
        if (log.find("install f3.txt") != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    Result result = Collect(pid);
    EXPECT_EQ(result.status, 8) << result.err;
    EXPECT_EQ(Snapshot(DefaultTarget()), before);
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_FALSE(fs::exists(UserConfig()));
    const std::vector<std::string> events = LogEvents(logPath);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "end: status 8");
#endif
}

TEST_F(SetupAdminTest, HelpWithoutADisplayPrintsTheUsageAndTouchesNothing) {
    MakeKit(kitDir + "/qarn.pkd");
    for (const char* option : {"--help", "-h", "-?", "/?"}) {
        Result result = Setup({"usecwd", option});
        EXPECT_EQ(result.status, 0) << option;
        EXPECT_EQ(result.err, "") << option;
        EXPECT_NE(result.out.find("Exit status"), std::string::npos) << option;
        EXPECT_NE(result.out.find("--log=FILE"), std::string::npos) << option;
        EXPECT_TRUE(fs::is_empty(home));
        EXPECT_TRUE(fs::is_empty(tmp));
    }
    Result version = Setup({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "Setup 1.0\n");
}

TEST_F(SetupAdminTest, DirOptionFromTheHomeDirectoryOrRefused) {
    MakeKit(kitDir + "/qarn.pkd");
    Result relative = Setup({"usecwd", "/S", "--dir=x"});
    EXPECT_EQ(relative.status, 2);
    EXPECT_NE(relative.err.find("--dir"), std::string::npos) << relative.err;
    EXPECT_TRUE(fs::is_empty(home));
    EXPECT_FALSE(fs::exists(kitDir + "/x"));

    Result tilde = Setup({"usecwd", "--dir=~/x", "--quiet"});
    EXPECT_EQ(tilde.status, 0) << tilde.err;
    EXPECT_EQ(Snapshot(home + "/x"), Snapshot(source));
    EXPECT_EQ(ReadFile(UserConfig()), "ConfigurationTemplatesLocation=" + home + "/x\n");
    EXPECT_FALSE(fs::exists(DefaultTarget()));
}

// Two runs into one log: a first install, then a run that skips, replaces
// and fails, rolled back; every kind of event is there.
TEST_F(SetupAdminTest, LogHasALineForEachEvent) {
    MakeKit(kitDir + "/qarn.pkd");
    const std::string logPath = root + "/deploy.log";
    Result first = Setup({"usecwd", "/S", "--log=" + logPath, "-Lde"});
    EXPECT_EQ(first.status, 0) << first.err;
    struct stat status;
    ASSERT_EQ(::stat(logPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // In kit order: an older file, two up to date, and an older directory
    // where the last file goes, which fails the run before it changed
    // anything.
    WriteFile(DefaultTarget() + "/docs/description.txt", "older", 1500000000);
    fs::remove(DefaultTarget() + "/readme.txt");
    fs::create_directories(DefaultTarget() + "/readme.txt");
    ASSERT_NO_FATAL_FAILURE(SetModificationTime(DefaultTarget() + "/readme.txt", 1500000000));
    Result second = Setup({"usecwd", "--quiet", "--log=" + logPath});
    EXPECT_EQ(second.status, 7) << second.err;

    // The second run takes the location recorded by the first.
    const std::vector<std::string> expected = {
        "start: Setup 1.0, arguments: usecwd /S --log=" + logPath + " -Lde, language: de",
        "kit: " + kitDir + "/qarn.pkd, " + std::to_string(fs::file_size(kitDir + "/qarn.pkd")) +
            " bytes",
        "target: " + DefaultTarget() + "/",
        "install docs/description.txt",
        "install forms/2024/invoice.xml",
        "install forms/2024/Счёт.xml",
        "install readme.txt",
        "end: status 0",
        "start: Setup 1.0, arguments: usecwd --quiet --log=" + logPath + ", language: en",
        "kit: " + kitDir + "/qarn.pkd, " + std::to_string(fs::file_size(kitDir + "/qarn.pkd")) +
            " bytes",
        "target: " + DefaultTarget(),
        "replace docs/description.txt",
        "skip forms/2024/invoice.xml",
        "skip forms/2024/Счёт.xml",
        "rollback: 0 restored, 0 removed",
        "message: " + Localized("en", "IDS_INSTALL_ERROR"),
        "end: status 7",
    };
    EXPECT_EQ(LogEvents(logPath), expected);
}

// The dry run reads and prints; the template directory, the temporary
// directory and the launcher files stay byte for byte, times included.
TEST_F(SetupAdminTest, PlanChangesNothingAnywhere) {
    MakeKit(kitDir + "/qarn.pkd");
    const std::string chosen = root + "/templates";
    WriteFile(UserConfig(), "ConfigurationTemplatesLocation=" + chosen + "\n");
    WriteFile(chosen + "/readme.txt", "older", 1500000000);
    WriteFile(chosen + "/docs/description.txt", "newer", 1700000000);
    fs::create_directories(chosen + "/forms/2024");
    ::mkfifo((chosen + "/forms/2024/invoice.xml").c_str(), 0600);
    WriteFile(tmp + "/unrelated", "someone else's");
    const Tree before = Snapshot(root, TreeDetail::kExact);

    Result result = Setup({"usecwd", "--plan"});
    EXPECT_EQ(result.status, 11) << result.err;
    EXPECT_EQ(result.out,
              "skip docs/description.txt\nconflict forms/2024/invoice.xml\n"
              "install forms/2024/Счёт.xml\nreplace readme.txt\n"
              "1 install, 1 replace, 1 skip, 1 conflict\n");
    EXPECT_EQ(result.err, "");
    Tree after = Snapshot(root, TreeDetail::kExact);
    // The only new files are the program's captured output streams. The kit
    // is inflated into a stream file that is unlinked as soon as it is open:
    // of the temporary directory only its own time changes, never its
    // entries.
    after.erase("stdout");
    after.erase("stderr");
    auto beforeButTmp = before;
    EXPECT_EQ(after.count("tmp"), 1u);
    after.erase("tmp");
    beforeButTmp.erase("tmp");
    EXPECT_EQ(after, beforeButTmp);

    // With --dir the plan looks there instead, and creates nothing.
    Result elsewhere = Setup({"usecwd", "--plan", "--dir=~/elsewhere"});
    EXPECT_EQ(elsewhere.status, 0) << elsewhere.err;
    EXPECT_EQ(elsewhere.out,
              "install docs/description.txt\ninstall forms/2024/invoice.xml\n"
              "install forms/2024/Счёт.xml\ninstall readme.txt\n"
              "4 install, 0 replace, 0 skip, 0 conflict\n");
    EXPECT_FALSE(fs::exists(home + "/elsewhere"));
}

}  // namespace
}  // namespace setup_test
