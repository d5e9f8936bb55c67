#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/ExitStatus.h"
#include "app/WindowLayer.h"
#include "app/WizardActions.h"
#include "engine/InstallProcessData.h"
#include "engine/InstallThread.h"
#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "text/String.h"

class RunLog;

// The wizard's states; each shows one page.
enum WizardState {
    STATE_NONE = 0,        // constructed, nothing shown yet
    STATE_WELCOME = 1,     // the welcome page
    STATE_SELECT_DIR = 2,  // the directory page
    STATE_INSTALLING = 3,  // the progress page, a run in progress
    STATE_SUCCESS = 4,     // the success page
    STATE_ERROR = 5,       // the error page (failed or cancelled run)
};

// The clean-up of a resolved template directory: a text that holds
// "http://", "https://" or "ftp://" anywhere becomes empty; the first
// "file://" is removed (file:///Users/x becomes /Users/x); then every line
// feed and carriage return is removed. The searches are case-sensitive.
stdx::u16string CleanTargetDir(const stdx::u16string& target);

// The installer's one controller: it locates and checks the kit, resolves
// the template directory, drives the wizard through its states and runs the
// installation. It holds the logic only; everything on screen goes through
// the window layer, so the controller runs the same with the Cocoa wizard,
// without a display, and in the tests.
//
// Every operation runs on the main thread. The install thread shares only
// m_processData with it, and wakes the progress loop through the window
// layer's Wake when the status changes what the window shows.
class CInstallerDlg : public WizardActions, private StatusListener {
public:
    // layer must outlive the controller; the controller attaches itself to it
    // here and detaches when destroyed.
    CInstallerDlg(bool silent, const stdx::string& title, const stdx::u16string& languageCode,
                  bool useCurrentDir, WindowLayer* layer);
    // Waits for the install thread: a run, and the rollback of a cancelled or
    // failed one, always completes before the kit data goes away.
    virtual ~CInstallerDlg();

    CInstallerDlg(const CInstallerDlg&) = delete;
    CInstallerDlg& operator=(const CInstallerDlg&) = delete;

    // The log of the run (not owned; null: none). It hears the kit found,
    // the target, every message shown and, through the shared status, what
    // the run does with each file. Set before Initialize.
    void SetRunLog(RunLog* log);
    // The template directory chosen on the command line (absolute): in
    // silent mode the target, in the wizard the proposed directory. The
    // launcher files are still read, so that a success records it in front
    // of their list. Set before Initialize.
    void SetTargetOverride(const stdx::u16string& directory);
    // The dry run writes nothing, not even the probe file that tells a
    // writable configured location: access(2) decides instead. Set before
    // Initialize.
    void SetDryRun() { m_dryRun = true; }

    // The start-up checks: kit present, template directory resolved, room in
    // the temporary directory, kit readable. False after one critical message
    // box ("IDS_ERROR_NOSOURCE", "IDS_ERROR_NOSPACE" or
    // "IDS_ERROR_DAMAGEDSOURCE"; GetStartFailure says which); true when the
    // wizard may start.
    bool Initialize();
    // Why Initialize or RunSilent refused to go on; None otherwise.
    StartFailure GetStartFailure() const { return m_startFailure; }

    // The expected full path of "qarn.pkd": in the current directory in
    // current-directory mode, else beside the application bundle (or beside a
    // bare executable). Empty when the directory cannot be found.
    stdx::u16string LocateKit();

    // WizardActions: the window layer's calls.
    stdx::u16string GetTitle() override;
    void OnBack() override;
    void OnNext() override;
    void OnCancel() override;
    // Esc, and Cancel outside a run: asks "IDS_ACCEPT_CANCEL". Yes closes the
    // window, or, during a run, cancels it (the window stays for the result).
    void ConfirmCancel() override;
    // During a run the run is cancelled instead and false is returned; the
    // window closes by itself once the rollback is done.
    bool OnCloseRequest() override;
    // Before a run the window closes at once, without a question. During a
    // run the run is cancelled without a question and the window closes once
    // the rollback is over, instead of waiting on the error page; with a
    // display its result goes to standard error rather than into a message
    // box that would hold the program. After a run the window closes. The
    // progress loop and RunInstall look for a signal by themselves.
    void OnTerminationSignal() override;
    // True when a termination signal closed the wizard before a run or
    // stopped a run (which was rolled back); false when none came, or when
    // it came after the run had ended and the run's own result stands.
    bool EndedBySignal() const { return m_endedBySignal; }
    // A run at work is cancelled, and this returns once its rollback is
    // over. Nothing is shown and the window layer is not called, since every
    // call to it would fail. Returns kExitNotRestored when the rollback kept
    // a backup, else kExitCancelled.
    int OnDisplayLost() override;
    // False while a run is at work: it is cancelled without a question and
    // the window closes after its rollback; ask again once RunInProgress is
    // false.
    bool OnQuitRequest() override;
    // A run has been started and its worker has not yet posted its last
    // status.
    bool RunInProgress() const;

    // The text of the directory page's path field.
    stdx::u16string ReadTargetFromPage();

    // The wizard window with its buttons; shown at once, in silent mode too.
    void CreateWizardWindow();
    void ShowWelcomePage();
    void ShowDirSelectPage();
    // Makes page the current one (kNoPage hides the current page only).
    void SwitchPage(PageId page);
    // The buttons of the final pages: Back hidden, Cancel disabled, Next
    // shown and enabled as "Finish".
    void SetFinishButtons();

    // Runs the installation into m_targetDir on the install thread and keeps
    // the window alive until it has ended, then shows the success or the
    // error page. Precondition: Initialize succeeded, state 1 or 2.
    void RunInstall();
    // Silent mode, right after the welcome page: "IDS_SETUP_EMPTYTARGET"
    // when the resolved target is empty or something other than a directory
    // stands there (GetStartFailure is then NoTarget), else RunInstall. True
    // only when the installation succeeded.
    bool RunSilent();
    // The dry run, after Initialize: one line per kit file, in kit order,
    // "install NAME", "replace NAME", "skip NAME" or "conflict NAME" (NAME
    // the installed relative path with "/"), then the PlanCounts summary,
    // all to out. Changes nothing. Returns kExitSuccess, kExitPlanConflict,
    // or kExitNoTarget (after the message of RunSilent, nothing printed).
    int PrintPlan(std::FILE* out);
    // The code of the last run's final status (0 after a success or before
    // any run; 1223 for a cancel).
    ErrorCode GetRunError() const;
    // The backup directory that still holds files the last run's rollback
    // could not put back; empty when everything was restored.
    stdx::u16string GetKeptBackup() const;
    void ShowSuccessPage();
    // The error page; after a run whose rollback kept a backup it says so
    // and names the backup directory instead of claiming that the template
    // directory has not been changed.
    void ShowErrorPage();
    // The Finish button of the final pages: after a success, opens the
    // description document when it exists and the checkbox is checked; then
    // closes the window.
    void Finish();

    // One of the WizardState values.
    int GetState() const { return m_state; }
    const stdx::u16string& GetTargetDir() const { return m_targetDir; }
    const stdx::u16string& GetKitPath() const { return m_kitPath; }

protected:
    // The full path of the running executable, UTF-8; empty when unknown.
    virtual stdx::string ExecutablePath();
    // Free bytes in the temporary directory; 0 when unknown.
    virtual std::uint64_t TempFreeSpace();
    // The status shared with the install thread, for a subclass that
    // stands in for what a run leaves behind.
    InstallProcessData& ProcessData() { return m_processData; }

private:
    using KitData = InstallData<LZCompressor, FileSystem>;

    // StatusListener, on the install thread: ends the progress loop's wait.
    void StatusChanged() override;

    void ResolveTargetDir();
    // Logs "target: DIR" when DIR is not the target logged last: the one
    // resolved at start-up, and again the one typed on the directory page.
    void LogTarget();
    // Every message box goes through here, so that the log sees it.
    std::uint32_t ShowMessage(const stdx::u16string& text, std::uint32_t flags);
    // Silent mode and the dry run: the target is not empty and is a
    // directory or nothing yet. Shows "IDS_SETUP_EMPTYTARGET" otherwise.
    bool CheckSilentTarget();
    void RequestCancel();
    void RecordTarget();
    void CloseWizardWindow();
    void ReportRunFailure(const stdx::u16string& statusText);

    bool m_fromAlternateConfig;
    bool m_alternateConfigExists;
    bool m_silent;
    InstallProcessData m_processData;
    std::vector<stdx::u16string> m_templateLocations;
    stdx::u16string m_targetDir;
    stdx::u16string m_kitPath;
    KitData m_installData;
    stdx::u16string m_languageCode;
    int m_state;
    PageId m_welcomePage;
    PageId m_dirSelectPage;
    PageId m_progressPage;
    PageId m_successPage;
    PageId m_errorPage;
    // The error page of a run whose rollback kept a backup.
    PageId m_keptBackupPage;
    bool m_useCurrentDir;
    int m_width;
    int m_height;
    stdx::string m_title;
    WindowLayer* m_layer;
    bool m_windowOpen;
    // A cancel was asked for during the current run.
    bool m_cancelRequested;
    // The window closes once the current run is over: the close box, a
    // termination signal or a quit request came during it.
    bool m_closeRequested;
    // A termination signal came during the current run.
    bool m_signalDuringRun;
    bool m_endedBySignal;
    // The backup directory that a failed rollback of the last run kept.
    stdx::u16string m_keptBackup;
    RunLog* m_log;
    stdx::u16string m_loggedTarget;
    bool m_hasTargetOverride;
    stdx::u16string m_targetOverride;
    StartFailure m_startFailure;
    bool m_dryRun;
    InstallThread m_thread;
};
