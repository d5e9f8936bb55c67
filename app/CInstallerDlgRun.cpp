#include <cstdio>

#include "app/CInstallerDlg.h"
#include "app/InstallPlan.h"
#include "app/ProductLookup.h"
#include "app/RunLog.h"
#include "app/SignalWatcher.h"
#include "engine/fs/FileFinder.h"
#include "engine/fs/PathNames.h"
#include "launcher/TemplateLocations.h"
#include "text/Encoding.h"
#include "text/Languages.h"
#include "text/StringUtils.h"

namespace {

// The longest wait for an event between two looks for a termination signal.
// The worker's status needs no looking for: each change that the window
// shows ends the wait at once (StatusChanged), so the main thread sleeps
// until there is something to draw.
constexpr int kEventWaitMs = 50;

// The report of a run whose rollback could not put every earlier file back:
// where those files are now.
stdx::u16string KeptBackupText(const stdx::u16string& backupDir) {
    return LocalizedString("IDS_RESTORE_INCOMPLETE") + u"\n" + backupDir;
}

int ClampPercent(std::int32_t percent) {
    if (percent < 0) {
        return 0;
    }
    return percent > 100 ? 100 : percent;
}

}  // namespace

void CInstallerDlg::RunInstall() {
    // A signal that came before the run ends the program before anything
    // is changed.
    if (SignalWatcher::Pending() != 0) {
        OnTerminationSignal();
        return;
    }
    if (m_progressPage == kNoPage) {
        m_progressPage = m_layer->CreateProgressPage(m_width - 20);
    }
    m_layer->SetButtonEnabled(WizardButton::Back, false);
    m_layer->SetButtonEnabled(WizardButton::Next, false);
    m_cancelRequested = false;
    m_closeRequested = false;
    m_signalDuringRun = false;
    LogTarget();
    m_processData.SetInstallData(&m_installData, m_targetDir);
    SwitchPage(m_progressPage);
    m_state = STATE_INSTALLING;
    m_thread.Start(&m_processData);

    // A cancel only raises the worker's flag: the run is over when the
    // worker says so, after its rollback, with 1223 or another code.
    ErrorCode error = kErrorSuccess;
    stdx::u16string statusText;
    std::int32_t percent = 0;
    for (;;) {
        if (SignalWatcher::Pending() != 0) {
            OnTerminationSignal();
        }
        m_processData.GetStatus(&error, &statusText, &percent);
        m_layer->SetProgress(percent == 100, ClampPercent(percent));
        if (error != kErrorSuccess || percent >= 100) {
            break;
        }
        m_layer->ProcessOneEvent(kEventWaitMs);
    }

    m_keptBackup = m_processData.KeptBackup();
    if (error != kErrorSuccess) {
        m_endedBySignal = m_signalDuringRun && error == kErrorCancelled;
        ReportRunFailure(statusText);
        ShowErrorPage();
    } else {
        ShowSuccessPage();
        RecordTarget();
    }
    if (m_closeRequested) {
        CloseWizardWindow();
    }
}

void CInstallerDlg::ReportRunFailure(const stdx::u16string& statusText) {
    stdx::u16string text = statusText;
    if (!m_keptBackup.empty()) {
        // The user's earlier files are not where they were: the one thing
        // to tell is where they are.
        text = KeptBackupText(m_keptBackup);
    }
    if (m_log != nullptr) {
        m_log->Write(stdx::string("message: ") + Utf16ToUtf8(text));
    }
    if (m_signalDuringRun && m_layer->HasDisplay()) {
        // The program was asked to end: a message box would hold it until
        // somebody answers.
        stdx::string line = Utf16ToUtf8(text) + "\n";
        std::fwrite(line.c_str(), 1, line.size(), stderr);
        std::fflush(stderr);
        return;
    }
    m_layer->ShowMessageBox(text, MSG_OK | MSG_STYLE_CRITICAL);
}

bool CInstallerDlg::CheckSilentTarget() {
    // An empty target would install the kit's relative paths into the
    // current directory; a file or a link to one there cannot hold them.
    bool usable = !m_targetDir.empty();
    if (usable) {
        FileFinder finder;
        usable = !finder.First(m_targetDir) || finder.IsDirectory() != 0;
    }
    if (!usable) {
        m_startFailure = StartFailure::NoTarget;
        ShowMessage(LocalizedString("IDS_SETUP_EMPTYTARGET"), MSG_OK | MSG_STYLE_CRITICAL);
    }
    return usable;
}

bool CInstallerDlg::RunSilent() {
    if (!CheckSilentTarget()) {
        return false;
    }
    RunInstall();
    return m_state == STATE_SUCCESS;
}

int CInstallerDlg::PrintPlan(std::FILE* out) {
    if (!CheckSilentTarget()) {
        return kExitNoTarget;
    }
    stdx::u16string targetDir = m_targetDir;
    if (targetDir.back() != u'/') {
        targetDir.push_back(u'/');
    }
    FileSystem fs;
    DirectoryHandles<FileSystem> handles(fs);
    handles.Reset(targetDir);
    StoredTimeRules<> rules;
    FilePlanner<FileSystem> planner(fs, handles, rules);
    // The plan needs no file data: the kit is only checked whole.
    m_installData.SkipData();
    PlanCounts counts;
    stdx::string lines;
    for (const auto& record : m_installData.m_files) {
        stdx::u16string name = record.m_name;
        ReplaceAll(name, u"\\", u"/");
        const FileDecision action = ClassifyKitFile(planner, path_names::Narrow(name),
                                                    record.m_lastWriteTime, record.m_size);
        counts.Add(action);
        lines += PlanActionName(action);
        lines += " ";
        lines += Utf16ToUtf8(name);
        lines += "\n";
    }
    // A kit that fails its checks has no plan: nothing of it is printed.
    if (m_installData.FinishLoad() != kErrorSuccess) {
        m_startFailure = StartFailure::DamagedKit;
        ShowMessage(LocalizedString("IDS_ERROR_DAMAGEDSOURCE"), MSG_OK | MSG_STYLE_CRITICAL);
        return kExitDamagedKit;
    }
    lines += counts.Summary() + "\n";
    std::fwrite(lines.c_str(), 1, lines.size(), out);
    std::fflush(out);
    if (m_log != nullptr) {
        m_log->Write(stdx::string("plan: ") + counts.Summary());
    }
    return counts.conflict == 0 ? kExitSuccess : kExitPlanConflict;
}

ErrorCode CInstallerDlg::GetRunError() const {
    ErrorCode code = kErrorSuccess;
    m_processData.GetStatus(&code, nullptr, nullptr);
    return code;
}

stdx::u16string CInstallerDlg::GetKeptBackup() const {
    return m_processData.KeptBackup();
}

void CInstallerDlg::RecordTarget() {
    stdx::u16string location = m_targetDir;
    if (!location.empty() && (location.back() == u'/' || location.back() == u'\\')) {
        location.erase(location.size() - 1);
    }
    // A relative target names no fixed directory; the launcher could not
    // use it, so it is not recorded (the saved list leaves such out too).
    if (!location.empty() && location[0] == u'/') {
        m_templateLocations.insert(m_templateLocations.begin(), location);
    }
    // The installation has succeeded; a launcher file that cannot be written
    // does not undo that, so a failure here is dropped.
    try {
        if (!m_fromAlternateConfig) {
            SaveTemplateLocations(m_templateLocations, false);
        }
        if (m_alternateConfigExists) {
            SaveTemplateLocations(m_templateLocations, true);
        }
    } catch (...) {
    }
}

void CInstallerDlg::ShowSuccessPage() {
    m_state = STATE_SUCCESS;
    if (m_successPage == kNoPage) {
        m_successPage = m_layer->CreateSuccessPage(LocalizedString("IDS_SUCCESS_FINISH"));
    }
    SetFinishButtons();
    SwitchPage(m_successPage);
}

void CInstallerDlg::ShowErrorPage() {
    PageId page = kNoPage;
    if (!m_keptBackup.empty()) {
        if (m_keptBackupPage == kNoPage) {
            m_keptBackupPage = m_layer->CreateMessagePage(KeptBackupText(m_keptBackup));
        }
        page = m_keptBackupPage;
    } else {
        if (m_errorPage == kNoPage) {
            m_errorPage = m_layer->CreateMessagePage(LocalizedString("IDS_ERROR_FINISH"));
        }
        page = m_errorPage;
    }
    m_state = STATE_ERROR;
    SetFinishButtons();
    SwitchPage(page);
}

void CInstallerDlg::Finish() {
    if (m_state == STATE_SUCCESS) {
        stdx::u16string path = JoinDescriptionPath(
            m_targetDir, FindDescriptionPath(m_installData.m_products, m_languageCode));

        FileFinder finder;
        if (finder.First(path) && m_layer->IsOpenDescriptionChecked()) {
            m_layer->OpenDocument(Utf16ToUtf8(path));
        }
    }
    CloseWizardWindow();
}
