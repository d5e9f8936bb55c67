#include "app/RunInstaller.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "app/ControllerFixture.h"
#include "tests/support/ArgumentVector.h"
#include "tests/support/TreeSnapshot.h"

namespace app_test {
namespace {

const char kNoSource[] = "Distribution kit file qarn.pkd not found.";

// The whole program on the recording fake, from the command line to the
// exit status, with the kit in the current directory ("usecwd").
class RunInstallerTest : public ControllerTest {
protected:
    // Whether a run directory in the temporary directory holds a backup of
    // relative.
    // Whether a run directory in tmp holds an earlier copy with these bytes.
    bool BackedUp(const std::string& bytes) const {
        std::error_code error;
        for (const auto& run : std::filesystem::directory_iterator(tmp, error)) {
            if (!test_support::EarlierCopyIn(run.path().string(), bytes).empty()) {
                return true;
            }
        }
        return false;
    }

    RunInstallerTest() : m_lang("LANG", "C"), m_cwd(kitDir) {}

    int Run(const std::vector<std::string>& arguments) {
        std::vector<std::string> all = {"Setup"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv = test_support::NullTerminated(all);
        StartupArgs args{static_cast<int>(all.size()), argv.data(), 0, stdx::u16string()};
        return RunInstaller(args, layer);
    }

    void ExpectInstalled() {
        EXPECT_EQ(ReadFile(DefaultTarget() + "sub/deep/b.txt"), "beta");
        std::string recorded = DefaultTarget();
        recorded.pop_back();
        EXPECT_EQ(ReadFile(UserConfig()), LocationLine(recorded));
        EXPECT_TRUE(ListDir(tmp).empty());
    }

    void ExpectNothingInstalled() {
        EXPECT_FALSE(Exists(DefaultTarget()));
        EXPECT_FALSE(Exists(UserConfig()));
        EXPECT_TRUE(ListDir(tmp).empty());
    }

private:
    EnvOverride m_lang;
    CurrentDirOverride m_cwd;
};

TEST_F(RunInstallerTest, UsecwdSilentInstallsWithoutQuestions) {
    WriteStandardKit();
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitSuccess);
    EXPECT_TRUE(layer.windowCreated);
    EXPECT_TRUE(layer.button(WizardButton::Back).hidden);
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_EQ(layer.CurrentText(), "Configuration installed successfully.");
    ExpectInstalled();
}

TEST_F(RunInstallerTest, SilentSwitchSpelledOutCounts) {
    WriteStandardKit();
    EXPECT_EQ(Run({"usecwd", "-Silent"}), kExitSuccess);
    ExpectInstalled();
}

TEST_F(RunInstallerTest, UsecwdAfterTheSilentSwitchIsIgnored) {
    WriteStandardKit();
    EXPECT_EQ(Run({"/S", "usecwd"}), kExitNoKit);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, kNoSource);
    EXPECT_FALSE(layer.windowCreated);
    ExpectNothingInstalled();
}

TEST_F(RunInstallerTest, LanguageSwitchEndsTheScan) {
    WriteStandardKit();
    layer.PressEsc();
    layer.answers = {MSG_RESULT_YES};
    EXPECT_EQ(Run({"usecwd", "-Lde", "/S"}), kExitSuccess);
    EXPECT_EQ(CurrentLanguage(), LanguageIdFromCode("de"));
    EXPECT_EQ(layer.windowTitle, U8(LocalizedString("IDR_MAINFRAME")));
    EXPECT_NE(layer.windowTitle, "Installing configuration");
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, U8(LocalizedString("IDS_ACCEPT_CANCEL")));
    EXPECT_FALSE(layer.windowOpen);
    ExpectNothingInstalled();
}

TEST_F(RunInstallerTest, SilentSwitchBeforeTheLanguageSwitchStays) {
    WriteStandardKit();
    EXPECT_EQ(Run({"usecwd", "/S", "-Lde"}), kExitSuccess);
    EXPECT_EQ(CurrentLanguage(), LanguageIdFromCode("de"));
    EXPECT_EQ(layer.pages.begin()->second.text, LocalizedString("IDS_WELCOME_TITLE") + u" " +
                                                    LocalizedString("IDS_DEFPRODUCT") + u" (" +
                                                    LocalizedString("IDS_DEFPROVIDER") + u").");
    ExpectInstalled();
}

TEST_F(RunInstallerTest, UnknownLanguageCodeLeavesTheLocaleToDecide) {
    WriteStandardKit();
    layer.locale = "ru_RU";
    layer.PressEsc();
    layer.answers = {MSG_RESULT_YES};
    EXPECT_EQ(Run({"usecwd", "-LDE"}), kExitSuccess);
    EXPECT_EQ(CurrentLanguage(), LanguageIdFromCode("ru"));
    EXPECT_EQ(layer.pages.begin()->second.text,
              LocalizedString("IDS_WELCOME_TITLE") + u" Продукт (Поставщик).");
}

TEST_F(RunInstallerTest, InteractiveSessionEndsWithStatusZero) {
    WriteStandardKit();
    layer.Click(WizardButton::Next);
    layer.Click(WizardButton::Next);
    layer.Click(WizardButton::Next);
    EXPECT_EQ(Run({"usecwd"}), kExitSuccess);
    EXPECT_FALSE(layer.eventLoopStalled);
    EXPECT_FALSE(layer.windowOpen);
    ExpectInstalled();
}

TEST_F(RunInstallerTest, InteractiveFailureWithAWindowStillEndsWithZero) {
    WriteFile(kitPath, "not a kit");
    EXPECT_EQ(Run({"usecwd"}), kExitSuccess);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].flags, MSG_OK | MSG_STYLE_CRITICAL);
    ExpectNothingInstalled();
}

TEST_F(RunInstallerTest, SilentDamagedKitFails) {
    WriteFile(kitPath, "not a kit");
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitDamagedKit);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text,
              "Distribution kit file qarn.pkd corrupted or not designed for this installation "
              "program.");
    ExpectNothingInstalled();
}

TEST_F(RunInstallerTest, SilentMissingKitFails) {
    EXPECT_EQ(Run({"usecwd", "/s"}), kExitNoKit);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, kNoSource);
    ExpectNothingInstalled();
}

TEST_F(RunInstallerTest, SilentFailedRunFails) {
    ASSERT_EQ(
        BuildKit(kitPath, {{"a.txt", "a", 1600000000}, {"c\\d.txt", "d", 1}}, {StandardProducts()}),
        "");
    WriteFile(DefaultTarget() + "c", "in the way");
    auto before = Snapshot(DefaultTarget());
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitFailed);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Installation error");
    EXPECT_EQ(Snapshot(DefaultTarget()), before);
    EXPECT_FALSE(Exists(UserConfig()));
    EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(RunInstallerTest, SilentRunCancelledWithTheCancelButtonFails) {
    std::vector<KitFile> files;
    for (int i = 0; i < 2000; ++i) {
        files.push_back({"f" + std::to_string(i), std::string(512, 'x'), 1600000000});
    }
    ASSERT_EQ(BuildKit(kitPath, files, {StandardProducts()}), "");
    layer.ClickDuringRun(WizardButton::Cancel);
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitCancelled);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text,
              "Installation canceled. Template directory has not been changed.");
    EXPECT_TRUE(ListDir(DefaultTarget()).empty());
    EXPECT_FALSE(Exists(UserConfig()));
    EXPECT_TRUE(ListDir(tmp).empty());
}

// A cleared target must not send the kit into the current directory.
TEST_F(RunInstallerTest, SilentEmptyTargetFailsAndInstallsNothing) {
    WriteStandardKit();
    std::string location = root / "x/http://host";
    std::filesystem::create_directories(location);
    std::string config = LocationLine(location);
    WriteFile(UserConfig(), config);
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitNoTarget);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Specify correct path to template directory.");
    EXPECT_EQ(ListDir(kitDir), std::vector<std::string>{"qarn.pkd"});
    EXPECT_TRUE(ListDir(location).empty());
    EXPECT_FALSE(Exists(DefaultTarget()));
    EXPECT_EQ(ReadFile(UserConfig()), config);
}

TEST_F(RunInstallerTest, InteractiveWithoutADisplayChangesNothing) {
    WriteStandardKit();
    layer.hasDisplay = false;
    ::testing::internal::CaptureStderr();
    int status = Run({"usecwd"});
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kExitNoDisplay);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
    EXPECT_NE(errors.find("/S"), std::string::npos);
    EXPECT_FALSE(layer.windowCreated);
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_TRUE(ListDir(home).empty());
    EXPECT_TRUE(ListDir(tmp).empty());
}

TEST_F(RunInstallerTest, SilentWithoutADisplayInstalls) {
    WriteStandardKit();
    layer.hasDisplay = false;
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitSuccess);
    ExpectInstalled();
}

// Another process takes the folder of a replaced file away during the run;
// the cancel that follows cannot put the earlier file back, keeps the
// backup and says so with its own status.
TEST_F(RunInstallerTest, SilentRunWhoseRestoreFailsEndsWithStatus9) {
    std::vector<KitFile> files = {{"sub\\a.txt", "new", 1600000000}};
    for (int i = 0; i < 2000; ++i) {
        files.push_back({"f" + std::to_string(i), std::string(512, 'x'), 1600000000});
    }
    ASSERT_EQ(BuildKit(kitPath, files, {StandardProducts()}), "");
    WriteFile(DefaultTarget() + "sub/a.txt", "older");
    SetModificationTime(DefaultTarget() + "sub/a.txt", 1500000000);
    layer.DuringRun([this] {
        // Once the earlier file is backed up: files may be written on
        // threads of their own while the run's status moves on.
        for (int tries = 0; tries < 1000 && !BackedUp("older"); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::filesystem::rename(DefaultTarget() + "sub", root / "moved-away");
        WriteFile(DefaultTarget() + "sub", "a file where the folder was");
        layer.dlg->OnCancel();
    });
    EXPECT_EQ(Run({"usecwd", "/S"}), kExitNotRestored);
    // The earlier file is still in the backup, which stays where it is.
    std::vector<std::string> backups = ListDir(tmp);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(ReadFile(tmp + "/" + backups[0] + "/files/sub/a.txt"), "older");
    EXPECT_FALSE(Exists(UserConfig()));
}

TEST_F(RunInstallerTest, DirOptionIsTheWizardsProposal) {
    WriteStandardKit();
    layer.Click(WizardButton::Next);
    layer.PressEsc();
    layer.answers = {MSG_RESULT_YES};
    EXPECT_EQ(Run({"usecwd", "--dir=~/proposed"}), kExitSuccess);
    EXPECT_EQ(U8(layer.pathField), home + "/proposed");
    EXPECT_FALSE(Exists(home + "/proposed"));
}

// The log names the directory proposed at start-up and then the one the
// user typed, into which the run went.
TEST_F(RunInstallerTest, WizardLogNamesTheTypedTarget) {
    WriteStandardKit();
    const std::string typed = root / "typed";
    layer.Click(WizardButton::Next);
    layer.TypePath(U16(typed));
    layer.Click(WizardButton::Next);
    layer.Click(WizardButton::Next);
    const std::string logPath = root / "run.log";
    EXPECT_EQ(Run({"usecwd", "--log=" + logPath}), kExitSuccess);
    std::vector<std::string> targets;
    for (const std::string& event : LogEvents(logPath)) {
        if (event.compare(0, 8, "target: ") == 0) {
            targets.push_back(event.substr(8));
        }
    }
    EXPECT_EQ(targets, (std::vector<std::string>{DefaultTarget(), typed}));
    EXPECT_EQ(ReadFile(typed + "/sub/deep/b.txt"), "beta");
}

// What the recovery did reaches the user once: message boxes with a
// window, standard error without one or in silent mode; and the log.
TEST_F(RunInstallerTest, RecoveryIsReportedOnceEach) {
    RecoveryResult result;
    result.restored = 2;
    result.completed = 1;
    result.keptBackups = {U16("/tmp/qrstp3/"), U16("/tmp/qrstp4/")};
    const std::vector<std::string> texts = {
        U8(LocalizedString("IDS_RECOVERED")), U8(LocalizedString("IDS_RECOVERED_COMPLETE")),
        U8(LocalizedString("IDS_RESTORE_INCOMPLETE")) + "\n/tmp/qrstp3/",
        U8(LocalizedString("IDS_RESTORE_INCOMPLETE")) + "\n/tmp/qrstp4/"};

    RunLog log;
    ASSERT_TRUE(log.Open(stdx::string((root / "run.log").c_str())));
    ReportRecovery(result, true, layer, log, stderr);
    ASSERT_EQ(layer.messageBoxes.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(layer.messageBoxes[i].text, texts[i]);
        EXPECT_EQ(layer.messageBoxes[i].flags, MSG_OK | MSG_STYLE_INFORMATION);
    }
    const std::vector<std::string> events = LogEvents(root / "run.log");
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0], "recovery: 2 restored, 1 completed, 2 kept");
    EXPECT_EQ(events[3],
              "message: " + U8(LocalizedString("IDS_RESTORE_INCOMPLETE")) + "\\x0a/tmp/qrstp3/");

    ::testing::internal::CaptureStderr();
    ReportRecovery(result, false, layer, log, stderr);
    std::string expected;
    for (const std::string& text : texts) {
        expected += text + "\n";
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), expected);
    EXPECT_EQ(layer.messageBoxes.size(), texts.size());

    // Nothing to report: nothing shown, printed or logged.
    ::testing::internal::CaptureStderr();
    ReportRecovery(RecoveryResult(), true, layer, log, stderr);
    ReportRecovery(RecoveryResult(), false, layer, log, stderr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(layer.messageBoxes.size(), texts.size());
    EXPECT_EQ(LogEvents(root / "run.log").size(), 10u);
}

}  // namespace
}  // namespace app_test
