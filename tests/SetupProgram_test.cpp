// The built Setup program, run as a user or a script would run it, on a
// machine without a display.
#include "tests/SetupProgramFixture.h"

namespace setup_test {
namespace {

TEST_F(SetupProgramTest, SilentInstallFromTheCurrentDirectory) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty()) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_EQ(Snapshot(DefaultTarget()), Snapshot(source));
    EXPECT_EQ(ReadFile(UserConfig()), "ConfigurationTemplatesLocation=" + DefaultTarget() + "\n");
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, SilentInstallFindsTheKitBesideTheBundle) {
    const std::string bundle = root + "/Volume/Templates.app/Contents/MacOS";
    fs::create_directories(bundle);
    fs::copy_file(SETUP_PATH, bundle + "/Setup");
    fs::permissions(bundle + "/Setup", fs::perms::owner_all);
    MakeKit(root + "/Volume/qarn.pkd");

    Result result = Run(bundle + "/Setup", {"/S"}, kitDir);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Snapshot(DefaultTarget()), Snapshot(source));
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, SilentInstallRecordsAnExistingLocation) {
    MakeKit(kitDir + "/qarn.pkd");
    const std::string chosen = root + "/templates";
    fs::create_directories(chosen);
    WriteFile(UserConfig(),
              "InstalledLocation=/opt/qa\nConfigurationTemplatesLocation=" + chosen + "\n");
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Snapshot(chosen), Snapshot(source));
    EXPECT_EQ(ReadFile(UserConfig()),
              "InstalledLocation=/opt/qa\nConfigurationTemplatesLocation=" + chosen + "\n");
    EXPECT_FALSE(fs::exists(DefaultTarget()));
}

TEST_F(SetupProgramTest, DamagedKitFailsWithTheMessageAndChangesNothing) {
    WriteFile(kitDir + "/qarn.pkd", std::string(4096, '\x7f'));
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, TruncatedKitFailsWithTheMessageAndChangesNothing) {
    MakeKit(root + "/whole.pkd");
    std::string whole = ReadFile(root + "/whole.pkd");
    WriteFile(kitDir + "/qarn.pkd", whole.substr(0, whole.size() / 2));
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
    ExpectNothingChanged(result);
}

// Silent runs and the dry run go on while the kit still inflates: a kit
// whose tables read well but whose data was damaged far past them still
// ends with the damaged-kit status, and nothing was installed or printed.
TEST_F(SetupProgramTest, KitDamagedPastItsTablesFailsSilentRunsAndPlans) {
    std::string noise(2 << 20, '\0');
    unsigned state = 7;
    for (char& byte : noise) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    WriteFile(source + "/big/noise.bin", noise, 1600000400);
    MakeKit(root + "/whole.pkd");
    std::string kit = ReadFile(root + "/whole.pkd");
    kit[kit.size() * 3 / 4] ^= 0x04;
    WriteFile(kitDir + "/qarn.pkd", kit);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"usecwd", "/S"}, {"usecwd", "--plan"}}) {
        SCOPED_TRACE(arguments.back());
        Result result = Setup(arguments);
        EXPECT_EQ(result.status, 4);
        EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_DAMAGEDSOURCE") + "\n");
        ExpectNothingChanged(result);
    }
}

TEST_F(SetupProgramTest, MissingKitFailsWithTheMessageAndChangesNothing) {
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, Localized("en", "IDS_ERROR_NOSOURCE") + "\n");
    ExpectNothingChanged(result);
}

// The kit holds a folder where the target already has a file: the run fails
// part-way and rolls back, replaced files included.
TEST_F(SetupProgramTest, FailingInstallationFailsAndLeavesTheTargetAsItWas) {
    MakeKit(kitDir + "/qarn.pkd");
    WriteFile(DefaultTarget() + "/docs/description.txt", "older", 1500000000);
    WriteFile(DefaultTarget() + "/forms", "a file where the kit has a folder", 1500000000);
    auto before = Snapshot(DefaultTarget());
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.err, Localized("en", "IDS_INSTALL_ERROR") + "\n");
    EXPECT_TRUE(result.out.empty());
    EXPECT_EQ(Snapshot(DefaultTarget()), before);
    EXPECT_FALSE(fs::exists(UserConfig()));
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, ClearedTargetFailsAndInstallsNothing) {
    MakeKit(kitDir + "/qarn.pkd");
    const std::string location = root + "/x/http://host";
    fs::create_directories(location);
    const std::string config = "ConfigurationTemplatesLocation=" + location + "\n";
    WriteFile(UserConfig(), config);
    Result result = Setup({"usecwd", "/S"});
    EXPECT_EQ(result.status, 6);
    EXPECT_EQ(result.err, Localized("en", "IDS_SETUP_EMPTYTARGET") + "\n");
    EXPECT_EQ(Snapshot(kitDir).size(), 1u);
    EXPECT_TRUE(fs::is_empty(location));
    EXPECT_EQ(ReadFile(UserConfig()), config);
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(SetupProgramTest, InteractiveModeWithoutADisplayRefusesAndChangesNothing) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd"});
    EXPECT_EQ(result.status, 10);
    ASSERT_FALSE(result.err.empty());
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    ExpectNothingChanged(result);
}

TEST_F(SetupProgramTest, LanguageFromTheSwitchOrTheLocale) {
    Result german = Setup({"usecwd", "/S", "-Lde"});
    EXPECT_EQ(german.status, 3);
    EXPECT_EQ(german.err, Localized("de", "IDS_ERROR_NOSOURCE") + "\n");

    Result russian = Setup({"usecwd", "/S"}, {"LC_ALL=ru_RU.UTF-8"});
    EXPECT_EQ(russian.status, 3);
    EXPECT_EQ(russian.err, Localized("ru", "IDS_ERROR_NOSOURCE") + "\n");
    EXPECT_NE(russian.err, german.err);
}

// A language switch ends the scan: the silent switch after it is not seen,
// so this is an interactive start, which needs a display.
TEST_F(SetupProgramTest, SilentSwitchAfterTheLanguageSwitchIsNotSeen) {
    MakeKit(kitDir + "/qarn.pkd");
    Result result = Setup({"usecwd", "-Lde", "/S"});
    EXPECT_EQ(result.status, 10);
    ExpectNothingChanged(result);
}

#ifdef SLOW_TIMES_LIB
// A slowed silent installation of 40 files, 10 of which replace older ones,
// stopped from outside once a few files are in place: every file is
// written first, then they are put in place one by one, each rename slowed.
class SetupInterruptTest : public SetupProgramTest {
protected:
    static constexpr std::int64_t kKitTime = 1600000000;

    // Makes the kit and the older files, starts the run and returns once it
    // is well under way; `before` is the template directory before it.
    void StartRunAndWaitForProgress(pid_t* pid, Tree* before) {
        for (int i = 0; i < 40; ++i) {
            const std::string name =
                "/dir" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt";
            WriteFile(source + name, "new " + std::to_string(i), kKitTime);
            if (i < 10) {
                WriteFile(DefaultTarget() + name, "old " + std::to_string(i), 1500000000);
            }
        }
        Result made = Run(PKDTOOL_PATH, {"create", "-o", kitDir + "/qarn.pkd", source}, root);
        ASSERT_EQ(made.status, 0) << made.err;
        *before = Snapshot(DefaultTarget());

        // Each rename (50 in all) takes 50 ms longer, so putting the files
        // in place lasts about two and a half seconds.
        *pid = StartSetup({"usecwd", "/S"},
                          {"LD_PRELOAD=" SLOW_TIMES_LIB, "QA_SLOW_RENAMES_US=50000"});
        ASSERT_GT(*pid, 0);
        for (int i = 0; i < 2000 && Installed() < 5; ++i) {
            ::usleep(5000);
        }
        ASSERT_GE(Installed(), 5);
        ASSERT_LT(Installed(), 40) << "the run ended before it could be interrupted";
    }

    // Files at their own names that carry the kit's time: complete ones.
    int Installed() {
        int count = 0;
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(DefaultTarget(), error);
             it != fs::recursive_directory_iterator(); it.increment(error)) {
            struct stat status;
            if (::lstat(it->path().c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
                status.st_mtime == kKitTime &&
                it->path().filename().string().compare(0, 4, ".qa-") != 0) {
                ++count;
            }
        }
        return count;
    }
};

// A termination signal: the program rolls back and ends by itself with the
// cancelled status, the template directory as it was and nothing left in
// the temporary directory, with no second start.
class SetupSignalTest : public SetupInterruptTest, public ::testing::WithParamInterface<int> {};

TEST_P(SetupSignalTest, SignalDuringASilentRunRollsBackAndFails) {
    pid_t pid = 0;
    Tree before;
    ASSERT_NO_FATAL_FAILURE(StartRunAndWaitForProgress(&pid, &before));
    ASSERT_EQ(::kill(pid, GetParam()), 0);

    Result result = Collect(pid, 10);
    EXPECT_NE(result.err.find(Localized("en", "IDS_CANCEL_FINISH")), std::string::npos)
        << result.err;
    EXPECT_EQ(result.status, 8) << result.err;
    EXPECT_EQ(Snapshot(DefaultTarget()), before);
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_FALSE(fs::exists(UserConfig()));
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, SetupSignalTest,
                         ::testing::Values(SIGTERM, SIGINT, SIGHUP));

// kill -9 leaves the run half done; the next start, even one that finds no
// kit, undoes it before anything else and says so.
TEST_F(SetupInterruptTest, KilledRunIsUndoneByTheNextStartWithoutAKit) {
    pid_t pid = 0;
    Tree before;
    ASSERT_NO_FATAL_FAILURE(StartRunAndWaitForProgress(&pid, &before));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    Result killed = Collect(pid, 10);
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    ASSERT_NE(Snapshot(DefaultTarget()), before) << "the kill came before any change";

    const std::string empty = root + "/nokit";
    fs::create_directories(empty);
    Result next = Run(SETUP_PATH, {"usecwd", "/S"}, empty);
    EXPECT_EQ(next.status, 3) << next.err;
    EXPECT_NE(next.err.find(Localized("en", "IDS_RECOVERED")), std::string::npos) << next.err;
    EXPECT_NE(next.err.find(Localized("en", "IDS_ERROR_NOSOURCE")), std::string::npos) << next.err;
    EXPECT_EQ(Snapshot(DefaultTarget()), before);
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_FALSE(fs::exists(UserConfig()));
}
#endif

}  // namespace
}  // namespace setup_test
