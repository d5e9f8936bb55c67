#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/ControllerFixture.h"
#include "app/HeadlessWindowLayer.h"
#include "app/SignalWatcher.h"

namespace app_test {
namespace {

using PageKind = FakeWindowLayer::PageKind;
constexpr std::uint32_t kCritical = MSG_OK | MSG_STYLE_CRITICAL;
const char kErrorPageText[] =
    "An error occurred during the installation process. Installation canceled. Template "
    "directory has not been changed.";
const char kCancelText[] = "Installation canceled. Template directory has not been changed.";

bool NoBackupLeft(const std::string& directory) {
    return EntriesWithPrefix(directory, "qrstp").empty() &&
           EntriesWithPrefix(directory, "pdk").empty();
}

class RunTest : public ControllerTest {
protected:
    // Welcome, directory page with `target` typed, Next.
    std::unique_ptr<TestDlg> RunInto(const std::string& target, const char16_t* language = u"en") {
        auto dlg = StartWizard(false, language);
        dlg->OnNext();
        layer.pathField = U16(target);
        dlg->OnNext();
        return dlg;
    }

    void ExpectFinishButtons() {
        EXPECT_TRUE(layer.button(WizardButton::Back).hidden);
        EXPECT_FALSE(layer.button(WizardButton::Cancel).enabled);
        EXPECT_TRUE(layer.button(WizardButton::Next).enabled);
        EXPECT_FALSE(layer.button(WizardButton::Next).hidden);
        EXPECT_EQ(layer.button(WizardButton::Next).caption,
                  U8(LocalizedString("IDS_WIZARD_FINISH")));
    }

    // A kit long enough that a cancel given at the first event lands while
    // the worker is still copying, and a target holding older copies of some
    // of its files (which the rollback must bring back).
    void PrepareLongRun(const std::string& target) {
        std::vector<KitFile> files;
        for (int i = 0; i < 2000; ++i) {
            char name[64];
            std::snprintf(name, sizeof(name), "d%02d\\f%04d.txt", i % 20, i);
            files.push_back({name, std::string(512, static_cast<char>('a' + i % 26)), 1600000000});
        }
        ASSERT_EQ(BuildKit(kitPath, files, {StandardProducts()}), "");
        WriteFile(target + "/d00/f0000.txt", "old zero");
        SetModificationTime(target + "/d00/f0000.txt", 1500000000);
        WriteFile(target + "/d01/f0001.txt", "old one");
        SetModificationTime(target + "/d01/f0001.txt", 1500000000);
        SetModificationTime(target + "/d00", 1500000000);
        SetModificationTime(target + "/d01", 1500000000);
    }

    // Checks, at the moment the result is shown, that the rollback is over.
    void WatchTargetAtMessageBox(const std::string& target) {
        layer.onMessageBox = [this, target](const FakeWindowLayer::MessageBox& box) {
            if (box.state == STATE_INSTALLING && box.flags == kCritical) {
                m_targetAtMessage = Snapshot(target);
                m_backupGoneAtMessage = NoBackupLeft(tmp);
            }
        };
    }

    Tree m_targetAtMessage;
    bool m_backupGoneAtMessage = false;
};

TEST_F(RunTest, SuccessShowsTheSuccessPageAndRecordsTheTarget) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    dlg->OnNext();

    EXPECT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(layer.CurrentKind(), PageKind::Success);
    EXPECT_EQ(layer.CurrentText(), "Configuration installed successfully.");
    ExpectFinishButtons();
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_EQ(layer.progressWidth, 480);
    ASSERT_FALSE(layer.percents.empty());
    EXPECT_EQ(layer.percents.back(), 100);
    EXPECT_TRUE(layer.lastFinished);
    EXPECT_TRUE(std::is_sorted(layer.percents.begin(), layer.percents.end()));

    EXPECT_EQ(ReadFile(DefaultTarget() + "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(DefaultTarget() + "docs/r.txt"), "Описание");
    EXPECT_EQ(ReadFile(DefaultTarget() + "sub/deep/b.txt"), "beta");
    std::string recorded = DefaultTarget();
    recorded.pop_back();
    EXPECT_EQ(ReadFile(UserConfig()), LocationLine(recorded));
    EXPECT_FALSE(Exists(AlternateConfig()));
}

// The loop waits for events instead of spinning, and never for long. The
// worker wakes it once per percent at most, not once per file.
TEST_F(RunTest, LoopWaitsAtMostFiftyMillisecondsPerPass) {
    std::string target = root / "target";
    PrepareLongRun(target);
    auto dlg = RunInto(target);
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_GT(layer.processEventCalls, 0);
    EXPECT_GT(layer.minTimeoutMs, 0);
    EXPECT_LE(layer.maxTimeoutMs, 50);
    EXPECT_GE(layer.wakes.load(), 1);
    EXPECT_LE(layer.wakes.load(), 100);
}

// The layer of silent and quiet mode, with the progress loop's wait
// stretched far beyond its fallback: a run whose statuses were seen only
// when a wait ran out would take ten seconds per wait.
class StretchedWaitLayer : public HeadlessWindowLayer {
public:
    explicit StretchedWaitLayer(std::FILE* errors) : HeadlessWindowLayer(errors) {}
    bool ProcessOneEvent(int) override {
        const bool woken = HeadlessWindowLayer::ProcessOneEvent(10000);
        waits.push_back(woken);
        return woken;
    }

    // Per wait of the loop: whether the worker's wake ended it.
    std::vector<bool> waits;
};

// The worker's statuses end the loop's waits, its final one too: a silent
// run ends as soon as the worker is done, not when a wait runs out.
TEST_F(RunTest, SilentRunSeesEachStatusWithoutWaitingOutTheFallback) {
    WriteStandardKit();
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(errors, nullptr);
    StretchedWaitLayer headless(errors);
    const auto start = std::chrono::steady_clock::now();
    {
        TestDlg dlg(true, stdx::string("t"), u"en", false, &headless);
        dlg.executable = bundleExecutable;
        ASSERT_TRUE(dlg.Initialize());
        dlg.CreateWizardWindow();
        dlg.ShowWelcomePage();
        EXPECT_TRUE(dlg.RunSilent());
    }
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    std::fclose(errors);

    EXPECT_EQ(std::count(headless.waits.begin(), headless.waits.end(), false), 0);
    // Four files: at most one wake per percent the bar shows.
    EXPECT_LE(headless.waits.size(), 4u);
    EXPECT_LT(elapsedMs, 5000);
    EXPECT_EQ(ReadFile(DefaultTarget() + "sub/deep/b.txt"), "beta");
}

TEST_F(RunTest, FinalPagesSpeakTheUsersLanguage) {
    WriteStandardKit();
    SetLanguage(LanguageIdFromCode("de"));
    auto dlg = RunInto(root / "de", u"de");
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(layer.CurrentText(), U8(LocalizedString("IDS_SUCCESS_FINISH")));
    EXPECT_NE(layer.CurrentText(), "Configuration installed successfully.");
    EXPECT_NE(layer.CurrentText(), "Конфигурация успешно установлена.");

    SetLanguage(LanguageIdFromCode("ru"));
    FakeWindowLayer russianLayer;
    TestDlg russian(false, stdx::string("t"), u"ru", false, &russianLayer);
    russian.executable = bundleExecutable;
    ASSERT_TRUE(russian.Initialize());
    russian.CreateWizardWindow();
    russian.ShowWelcomePage();
    russian.OnNext();
    russianLayer.pathField = U16(root / "ru/");
    russian.OnNext();
    EXPECT_EQ(russianLayer.CurrentText(), "Конфигурация успешно установлена.");
}

// Five files; the third cannot be placed because a file stands where its
// directory would go. The run stops at 40 percent and rolls back.
TEST_F(RunTest, ErrorAtFortyPercentShowsTheMessageThenTheErrorPage) {
    std::string target = root / "target";
    ASSERT_EQ(BuildKit(kitPath,
                       {{"a.txt", "new a", 1600000000},
                        {"b.txt", "new b", 1600000000},
                        {"c\\d.txt", "d", 1600000000},
                        {"e.txt", "e", 1600000000},
                        {"f.txt", "f", 1600000000}},
                       {StandardProducts()}),
              "");
    WriteFile(target + "/b.txt", "old b");
    SetModificationTime(target + "/b.txt", 1500000000);
    WriteFile(target + "/c", "a file in the way");
    SetModificationTime(target, 1500000000);
    auto before = Snapshot(target);
    WatchTargetAtMessageBox(target);

    auto dlg = RunInto(target);

    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Installation error");
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
    EXPECT_EQ(layer.messageBoxes[0].state, STATE_INSTALLING);
    EXPECT_EQ(m_targetAtMessage, before);
    EXPECT_TRUE(m_backupGoneAtMessage);
    ASSERT_FALSE(layer.percents.empty());
    EXPECT_EQ(layer.percents.back(), 40);
    EXPECT_FALSE(layer.lastFinished);

    EXPECT_EQ(dlg->GetState(), STATE_ERROR);
    EXPECT_EQ(layer.CurrentKind(), PageKind::Message);
    EXPECT_EQ(layer.CurrentText(), kErrorPageText);
    ExpectFinishButtons();
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_FALSE(Exists(UserConfig()));
    EXPECT_FALSE(Exists(AlternateConfig()));
}

TEST_F(RunTest, CancelButtonEndsTheRunOnlyAfterTheRollback) {
    std::string target = root / "target";
    PrepareLongRun(target);
    auto before = Snapshot(target);
    WatchTargetAtMessageBox(target);
    layer.ClickDuringRun(WizardButton::Cancel);

    auto dlg = RunInto(target);

    EXPECT_EQ(layer.PendingActions(), 0u);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, kCancelText);
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
    EXPECT_EQ(m_targetAtMessage, before);
    EXPECT_TRUE(m_backupGoneAtMessage);
    // The cancel came after the first files were replaced, which the
    // rollback has put back.
    EXPECT_GE(layer.percents.back(), 1);
    EXPECT_LT(layer.percents.back(), 100);
    EXPECT_EQ(dlg->GetState(), STATE_ERROR);
    EXPECT_EQ(layer.CurrentText(), kErrorPageText);
    ExpectFinishButtons();
    EXPECT_TRUE(layer.windowOpen);
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_FALSE(Exists(UserConfig()));
}

TEST_F(RunTest, EscAnsweredYesDuringTheRunCancelsIt) {
    std::string target = root / "target";
    PrepareLongRun(target);
    auto before = Snapshot(target);
    WatchTargetAtMessageBox(target);
    layer.PressEscDuringRun();
    layer.answers = {MSG_RESULT_YES};

    auto dlg = RunInto(target);

    ASSERT_EQ(layer.messageBoxes.size(), 2u);
    EXPECT_EQ(layer.messageBoxes[0].text, "Do you really want to cancel installation?");
    EXPECT_EQ(layer.messageBoxes[0].state, STATE_INSTALLING);
    EXPECT_EQ(layer.messageBoxes[1].text, kCancelText);
    EXPECT_EQ(m_targetAtMessage, before);
    EXPECT_EQ(dlg->GetState(), STATE_ERROR);
    EXPECT_TRUE(layer.windowOpen);
    EXPECT_EQ(Snapshot(target), before);
}

TEST_F(RunTest, EscAnsweredNoDuringTheRunLetsItFinish) {
    std::string target = root / "target";
    PrepareLongRun(target);
    layer.PressEscDuringRun();
    layer.answers = {MSG_RESULT_NO};

    auto dlg = RunInto(target);

    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(ReadFile(target + "/d00/f0000.txt"), std::string(512, 'a'));
    EXPECT_EQ(ReadFile(UserConfig()), LocationLine(target));
}

// The close box during a run cancels it; the window closes by itself once
// the rollback is done and the result has been shown.
TEST_F(RunTest, CloseBoxDuringTheRunClosesAfterTheRollback) {
    std::string target = root / "target";
    PrepareLongRun(target);
    auto before = Snapshot(target);
    WatchTargetAtMessageBox(target);
    layer.PressCloseBoxDuringRun();

    auto dlg = RunInto(target);

    ASSERT_EQ(layer.closeBoxResults.size(), 1u);
    EXPECT_FALSE(layer.closeBoxResults[0]);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, kCancelText);
    EXPECT_EQ(m_targetAtMessage, before);
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_EQ(layer.closeCount, 1);
    EXPECT_EQ(Snapshot(target), before);
}

// A rollback that could not put everything back: the message and the
// error page name the backup that still holds the user's files instead of
// claiming that nothing changed.
TEST_F(RunTest, KeptBackupIsNamedInTheMessageAndOnTheErrorPage) {
    std::string target = root / "target";
    PrepareLongRun(target);
    layer.DuringRun([this] {
        static_cast<TestDlg*>(layer.dlg)->ProcessData().SetKeptBackup(u"/var/tmp/qrstp7");
        layer.dlg->OnCancel();
    });

    auto dlg = RunInto(target);

    const std::string expected =
        U8(LocalizedString("IDS_RESTORE_INCOMPLETE")) + "\n/var/tmp/qrstp7";
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, expected);
    EXPECT_EQ(layer.messageBoxes[0].flags, kCritical);
    EXPECT_EQ(dlg->GetState(), STATE_ERROR);
    EXPECT_EQ(layer.CurrentText(), expected);
    ExpectFinishButtons();
}

// The program's own signal unit, so that a raised signal reaches the
// controller instead of ending the test.
class SignalRunTest : public RunTest {
protected:
    SignalRunTest() { EXPECT_TRUE(SignalWatcher::Install()); }
    ~SignalRunTest() override { SignalWatcher::Uninstall(); }
};

// Without a display the result goes to standard error through the message
// box; with one there is no box to wait on.
class SignalDuringRunTest : public SignalRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SignalDuringRunTest, CancelsWithoutAQuestionAndClosesAfterTheRollback) {
    layer.hasDisplay = GetParam();
    std::string target = root / "target";
    PrepareLongRun(target);
    auto before = Snapshot(target);
    WatchTargetAtMessageBox(target);
    layer.DuringRun([] { raise(SIGTERM); });

    auto dlg = RunInto(target);

    EXPECT_EQ(layer.PendingActions(), 0u);
    if (layer.hasDisplay) {
        EXPECT_TRUE(layer.messageBoxes.empty());
    } else {
        ASSERT_EQ(layer.messageBoxes.size(), 1u);
        EXPECT_EQ(layer.messageBoxes[0].text, kCancelText);
        EXPECT_EQ(m_targetAtMessage, before);
    }
    EXPECT_LT(layer.percents.back(), 100);
    EXPECT_EQ(dlg->GetState(), STATE_ERROR);
    EXPECT_TRUE(dlg->EndedBySignal());
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_EQ(layer.closeCount, 1);
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_TRUE(NoBackupLeft(tmp));
    EXPECT_FALSE(Exists(UserConfig()));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutDisplay, SignalDuringRunTest, ::testing::Bool());

TEST_F(SignalRunTest, BeforeTheRunTheWizardClosesAtOnce) {
    WriteStandardKit();
    auto dlg = StartWizard();
    layer.Raise(SIGINT);
    layer.RunEventLoop();

    EXPECT_FALSE(layer.eventLoopStalled);
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_TRUE(dlg->EndedBySignal());
    EXPECT_FALSE(Exists(DefaultTarget()));
}

TEST_F(SignalRunTest, BeforeASilentRunNothingIsStarted) {
    WriteStandardKit();
    auto dlg = StartWizard(true);
    raise(SIGQUIT);

    EXPECT_FALSE(dlg->RunSilent());
    EXPECT_TRUE(dlg->EndedBySignal());
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_TRUE(layer.messageBoxes.empty());
    EXPECT_FALSE(Exists(DefaultTarget()));
    EXPECT_TRUE(NoBackupLeft(tmp));
}

// After a run the signal only closes the window; the run's result stands.
TEST_F(SignalRunTest, AfterASuccessfulRunTheWindowClosesAndTheResultStands) {
    WriteStandardKit();
    auto dlg = StartWizard();
    dlg->OnNext();
    dlg->OnNext();
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);
    layer.Raise(SIGHUP);
    layer.RunEventLoop();

    EXPECT_FALSE(layer.windowOpen);
    EXPECT_FALSE(dlg->EndedBySignal());
    EXPECT_EQ(ReadFile(DefaultTarget() + "a.txt"), "alpha");
    EXPECT_TRUE(layer.openedDocuments.empty());
}

// The window server went away: the call returns only once the rollback is
// over, without touching the window layer, with the status to end with.
TEST_F(RunTest, DisplayLostReturnsAfterTheRollback) {
    std::string target = root / "target";
    PrepareLongRun(target);
    auto before = Snapshot(target);
    Tree atReturn;
    bool backupGone = false;
    size_t switchesBefore = 0;
    int status = -1;
    layer.DuringRun([&] {
        switchesBefore = layer.switches.size();
        bool cancelEnabled = layer.button(WizardButton::Cancel).enabled;
        status = layer.actions->OnDisplayLost();
        atReturn = Snapshot(target);
        backupGone = NoBackupLeft(tmp);
        EXPECT_EQ(layer.button(WizardButton::Cancel).enabled, cancelEnabled);
        EXPECT_EQ(layer.switches.size(), switchesBefore);
    });

    auto dlg = RunInto(target);

    EXPECT_EQ(status, kExitCancelled);
    EXPECT_EQ(atReturn, before);
    EXPECT_TRUE(backupGone);
    EXPECT_EQ(dlg->GetState(), STATE_ERROR);
}

// A rollback that kept a backup ends the process with its own status.
TEST_F(RunTest, DisplayLostAfterAKeptBackupEndsAsNotRestored) {
    std::string target = root / "target";
    PrepareLongRun(target);
    int status = -1;
    layer.DuringRun([&] {
        static_cast<TestDlg*>(layer.dlg)->ProcessData().SetKeptBackup(u"/var/tmp/qrstp7");
        status = layer.actions->OnDisplayLost();
    });

    auto dlg = RunInto(target);

    EXPECT_EQ(status, kExitNotRestored);
}

// The platform's request to quit: granted outside a run; during a run it
// cancels, and the run counts as in progress until its rollback is over.
TEST_F(RunTest, QuitRequestDuringTheRunWaitsForTheRollback) {
    std::string target = root / "target";
    PrepareLongRun(target);
    auto before = Snapshot(target);
    std::vector<bool> answers;
    Tree whenGranted;
    layer.DuringRun([&] {
        answers.push_back(layer.dlg->OnQuitRequest());
        // What the platform does with a "later": ask again until the run is
        // no longer in progress (bounded: the rollback takes milliseconds).
        for (int i = 0; i < 1000 && layer.dlg->RunInProgress(); ++i) {
            struct timespec pause = {0, 10 * 1000000L};
            nanosleep(&pause, nullptr);
        }
        answers.push_back(layer.dlg->OnQuitRequest());
        whenGranted = Snapshot(target);
    });

    auto dlg = RunInto(target);

    EXPECT_EQ(answers, (std::vector<bool>{false, true}));
    EXPECT_EQ(whenGranted, before);
    ASSERT_EQ(layer.messageBoxes.size(), 1u);
    EXPECT_EQ(layer.messageBoxes[0].text, kCancelText);
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_FALSE(dlg->RunInProgress());
    EXPECT_TRUE(dlg->OnQuitRequest());
}

TEST_F(RunTest, RecordedLocationLosesOneTrailingSlash) {
    WriteStandardKit();
    auto dlg = RunInto(root / "t//");
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(ReadFile(UserConfig()), LocationLine(root / "t/"));
}

TEST_F(RunTest, RecordedLocationComesFirstAndKeepsTheOthers) {
    WriteStandardKit();
    std::filesystem::create_directories(root / "old");
    WriteFile(UserConfig(), "Other=1\n" + LocationLine(root / "old"));
    auto dlg = RunInto(root / "new/");
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);
    EXPECT_EQ(ReadFile(UserConfig()),
              "Other=1\n" + LocationLine(root / "new") + LocationLine(root / "old"));
}

// Which launcher files a successful run writes, for each combination of the
// user and the alternate file at start.
struct LauncherCase {
    bool userFile;
    const char* alternateContent;  // null: no alternate file
    bool userWritten;
    bool alternateWritten;
};

class LauncherRecordTest : public RunTest, public ::testing::WithParamInterface<LauncherCase> {};

TEST_P(LauncherRecordTest, WritesTheRightFiles) {
    const LauncherCase& c = GetParam();
    WriteStandardKit();
    std::filesystem::create_directories(root / "listed");
    if (c.userFile) {
        WriteFile(UserConfig(), "Other=u\n");
    }
    if (c.alternateContent != nullptr) {
        std::string content = c.alternateContent;
        if (content == "listed") {
            content = LocationLine(root / "listed");
        }
        WriteFile(AlternateConfig(), content);
    }
    std::string userBefore = ReadFile(UserConfig());
    std::string alternateBefore = ReadFile(AlternateConfig());

    auto dlg = RunInto(root / "chosen");
    ASSERT_EQ(dlg->GetState(), STATE_SUCCESS);

    std::string line = LocationLine(root / "chosen");
    if (c.userWritten) {
        EXPECT_NE(ReadFile(UserConfig()).find(line), std::string::npos) << ReadFile(UserConfig());
    } else {
        EXPECT_EQ(ReadFile(UserConfig()), userBefore);
        EXPECT_EQ(Exists(UserConfig()), c.userFile);
    }
    if (c.alternateWritten) {
        EXPECT_NE(ReadFile(AlternateConfig()).find(line), std::string::npos);
    } else {
        EXPECT_EQ(ReadFile(AlternateConfig()), alternateBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(Combinations, LauncherRecordTest,
                         ::testing::Values(LauncherCase{false, nullptr, true, false},
                                           LauncherCase{true, nullptr, true, false},
                                           LauncherCase{true, "listed", true, true},
                                           LauncherCase{false, "listed", false, true},
                                           LauncherCase{false, "Other=a\n", true, true}));

class FinishTest : public RunTest {};

TEST_F(FinishTest, OpensTheDescriptionOfTheUsersLanguage) {
    WriteStandardKit();
    SetLanguage(LanguageIdFromCode("ru"));
    auto dlg = RunInto(root / "t/", u"ru");
    dlg->OnNext();
    ASSERT_EQ(layer.openedDocuments.size(), 1u);
    EXPECT_EQ(layer.openedDocuments[0], root / "t/docs/r.txt");
    EXPECT_FALSE(layer.windowOpen);
}

TEST_F(FinishTest, ExactlyOneSeparatorAfterATargetWithoutSlash) {
    WriteStandardKit();
    auto dlg = RunInto(root / "t");
    dlg->OnNext();
    ASSERT_EQ(layer.openedDocuments.size(), 1u);
    EXPECT_EQ(layer.openedDocuments[0], root / "t/docs/e.txt");
}

TEST_F(FinishTest, GermanFallsBackToTheEnglishDescription) {
    WriteStandardKit();
    SetLanguage(LanguageIdFromCode("de"));
    auto dlg = RunInto(root / "t", u"de");
    dlg->OnNext();
    ASSERT_EQ(layer.openedDocuments.size(), 1u);
    EXPECT_EQ(layer.openedDocuments[0], root / "t/docs/e.txt");
}

TEST_F(FinishTest, ClearedCheckboxOpensNothing) {
    WriteStandardKit();
    auto dlg = RunInto(root / "t");
    layer.openDescriptionChecked = false;
    dlg->OnNext();
    EXPECT_TRUE(layer.openedDocuments.empty());
    EXPECT_FALSE(layer.windowOpen);
}

TEST_F(FinishTest, MissingDocumentIsNotOpened) {
    ASSERT_EQ(BuildKit(kitPath, StandardFiles(), {{Product("en", "P", "V", "missing.pdf")}}), "");
    auto dlg = RunInto(root / "t");
    dlg->OnNext();
    EXPECT_TRUE(layer.openedDocuments.empty());
    EXPECT_FALSE(layer.windowOpen);
}

TEST_F(FinishTest, NoDescriptionOpensTheTargetDirectory) {
    ASSERT_EQ(BuildKit(kitPath, StandardFiles(), {{Product("de", "P", "V", "")}}), "");
    auto dlg = RunInto(root / "t/");
    dlg->OnNext();
    ASSERT_EQ(layer.openedDocuments.size(), 1u);
    EXPECT_EQ(layer.openedDocuments[0], root / "t");
}

TEST_F(FinishTest, FinishOnTheErrorPageOnlyCloses) {
    std::string target = root / "target";
    ASSERT_EQ(BuildKit(kitPath, {{"c\\d.txt", "d", 1600000000}}, {StandardProducts()}), "");
    WriteFile(target + "/c", "in the way");
    auto dlg = RunInto(target);
    ASSERT_EQ(dlg->GetState(), STATE_ERROR);
    dlg->OnNext();
    EXPECT_TRUE(layer.openedDocuments.empty());
    EXPECT_FALSE(layer.windowOpen);
    EXPECT_EQ(layer.closeCount, 1);
}

}  // namespace
}  // namespace app_test
