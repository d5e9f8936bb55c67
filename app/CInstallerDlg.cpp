#include "app/CInstallerDlg.h"

#include <unistd.h>

#include <cstring>

#include "app/ExecutablePath.h"
#include "app/RunLog.h"
#include "engine/fs/FileFinder.h"
#include "launcher/LauncherPaths.h"
#include "launcher/TemplateLocations.h"
#include "text/Encoding.h"
#include "text/Languages.h"
#include "text/StringUtils.h"

namespace {

// The temporary directory must hold the inflated kit, the stream file and the
// backups of the replaced files: three times the kit's size.
constexpr std::uint64_t kSpaceFactor = 3;

const char kKitName[] = "qarn.pkd";
const char kBundleTail[] = ".app/Contents/MacOS";

bool Exists(const stdx::u16string& path) {
    FileFinder finder;
    return finder.First(path);
}

// The dry run's test of a configured location: a directory the process may
// write to, asked without writing anything.
bool LooksWritable(const stdx::u16string& directory) {
    if (directory.empty() || directory[0] != u'/') {
        return false;
    }
    FileFinder finder;
    return finder.First(directory) && finder.IsDirectory() != 0 &&
           ::access(Utf16ToUtf8(directory).c_str(), W_OK | X_OK) == 0;
}

// Removes every occurrence of one character.
void RemoveAll(stdx::u16string& text, char16_t c) {
    const char16_t pattern[] = {c, 0};
    ReplaceAll(text, pattern, u"");
}

}  // namespace

stdx::u16string CleanTargetDir(const stdx::u16string& target) {
    // A location that names a remote resource is no directory to install
    // into; a local file URL is reduced to its path.
    if (target.find(u"http://") != stdx::u16string::npos ||
        target.find(u"https://") != stdx::u16string::npos ||
        target.find(u"ftp://") != stdx::u16string::npos) {
        return stdx::u16string();
    }
    stdx::u16string cleaned = target;
    size_t fileUrl = cleaned.find(u"file://");
    if (fileUrl != stdx::u16string::npos) {
        cleaned.erase(fileUrl, 7);
    }
    RemoveAll(cleaned, u'\n');
    RemoveAll(cleaned, u'\r');
    return cleaned;
}

CInstallerDlg::CInstallerDlg(bool silent, const stdx::string& title,
                             const stdx::u16string& languageCode, bool useCurrentDir,
                             WindowLayer* layer)
    : m_fromAlternateConfig(false),
      m_alternateConfigExists(false),
      m_silent(silent),
      m_languageCode(languageCode),
      m_state(STATE_NONE),
      m_welcomePage(kNoPage),
      m_dirSelectPage(kNoPage),
      m_progressPage(kNoPage),
      m_successPage(kNoPage),
      m_errorPage(kNoPage),
      m_keptBackupPage(kNoPage),
      m_useCurrentDir(useCurrentDir),
      m_width(500),
      m_height(360),
      m_title(title),
      m_layer(layer),
      m_windowOpen(false),
      m_cancelRequested(false),
      m_closeRequested(false),
      m_signalDuringRun(false),
      m_endedBySignal(false),
      m_log(nullptr),
      m_hasTargetOverride(false),
      m_startFailure(StartFailure::None),
      m_dryRun(false) {
    m_processData.Init();
    m_processData.SetStatusListener(this);
    m_thread.Init();
    if (m_silent) {
        // Nobody watches the success page of a silent run; a deployment
        // tool waits for the process.
        m_thread.SetFinishPause(std::chrono::milliseconds(0));
    }
    // What an error report shows if the worker never posts another text.
    m_processData.SetStatus(kErrorSuccess, LocalizedString("IDS_PREPARECOPY"), 0);
    m_layer->Attach(this);
}

CInstallerDlg::~CInstallerDlg() {
    m_thread.Wait();
    m_layer->Attach(nullptr);
}

void CInstallerDlg::StatusChanged() {
    m_layer->Wake();
}

void CInstallerDlg::SetRunLog(RunLog* log) {
    m_log = log;
    m_processData.SetEventSink(log);
}

void CInstallerDlg::SetTargetOverride(const stdx::u16string& directory) {
    m_hasTargetOverride = true;
    m_targetOverride = directory;
}

void CInstallerDlg::LogTarget() {
    if (m_log != nullptr && m_targetDir != m_loggedTarget) {
        m_loggedTarget = m_targetDir;
        m_log->Write(stdx::string("target: ") + Utf16ToUtf8(m_targetDir));
    }
}

std::uint32_t CInstallerDlg::ShowMessage(const stdx::u16string& text, std::uint32_t flags) {
    if (m_log != nullptr) {
        m_log->Write(stdx::string("message: ") + Utf16ToUtf8(text));
    }
    return m_layer->ShowMessageBox(text, flags);
}

stdx::u16string CInstallerDlg::GetTitle() {
    return Utf8ToUtf16(m_title);
}

stdx::string CInstallerDlg::ExecutablePath() {
    return RunningExecutablePath();
}

std::uint64_t CInstallerDlg::TempFreeSpace() {
    FileSystem fs;
    std::uint64_t freeBytes = 0;
    if (fs.GetTempFreeSpace(&freeBytes) != kErrorSuccess) {
        return 0;
    }
    return freeBytes;
}

stdx::u16string CInstallerDlg::LocateKit() {
    stdx::string directory;
    if (m_useCurrentDir) {
        char buffer[4096];
        if (getcwd(buffer, sizeof(buffer)) == nullptr) {
            return stdx::u16string();
        }
        directory = buffer;
    } else {
        stdx::string path = ExecutablePath();
        if (path.empty()) {
            return stdx::u16string();
        }
        // Inside X.app/Contents/MacOS the kit lies beside X.app; a bare
        // executable has it in its own directory.
        size_t bundle = stdx::string::npos;
        const size_t tailLength = sizeof(kBundleTail) - 1;
        if (path.size() >= tailLength) {
            for (size_t pos = path.size() - tailLength + 1; pos-- > 0;) {
                if (std::memcmp(path.c_str() + pos, kBundleTail, tailLength) == 0) {
                    bundle = pos;
                    break;
                }
            }
        }
        size_t slash = path.rfind('/', bundle);
        directory = slash == stdx::string::npos ? path : path.substr(0, slash);
    }
    stdx::string kit = directory;
    kit += "/";
    kit += kKitName;
    return Utf8ToUtf16(kit);
}

bool CInstallerDlg::Initialize() {
    const std::uint32_t kCritical = MSG_OK | MSG_STYLE_CRITICAL;

    stdx::u16string kitPath = LocateKit();
    if (kitPath.empty() || !Exists(kitPath)) {
        m_startFailure = StartFailure::NoSource;
        ShowMessage(LocalizedString("IDS_ERROR_NOSOURCE"), kCritical);
        return false;
    }
    m_kitPath = kitPath;

    ResolveTargetDir();

    // 64-bit throughout, so that a kit over 1.4 GB is not waved through by
    // an overflowing product. size > free / 3 is 3 * size > free without
    // the overflow.
    FileSystem fs;
    std::uint64_t kitSize = 0;
    const bool sizeKnown = !fs.GetFileSize(m_kitPath, &kitSize);
    if (m_log != nullptr) {
        char size[32];
        std::snprintf(size, sizeof(size), "%llu", static_cast<unsigned long long>(kitSize));
        m_log->Write(stdx::string("kit: ") + Utf16ToUtf8(m_kitPath) + ", " +
                     (sizeKnown ? stdx::string(size) : stdx::string("unknown")) + " bytes");
    }
    LogTarget();
    if (sizeKnown) {
        std::uint64_t freeBytes = TempFreeSpace();
        if (kitSize > freeBytes / kSpaceFactor) {
            m_startFailure = StartFailure::NoSpace;
            ShowMessage(LocalizedString("IDS_ERROR_NOSPACE"), kCritical);
            return false;
        }
    }

    // Without a window nothing shows when the kit was read: a silent run
    // and the dry run go on once the tables are read, while the rest of the
    // kit inflates (the run commits nothing before the whole kit has passed
    // its checks). The wizard reads it whole, so that a damaged kit is
    // reported before any page.
    const ErrorCode loaded =
        m_silent || m_dryRun ? m_installData.Begin(m_kitPath) : m_installData.Load(m_kitPath);
    if (loaded != kErrorSuccess) {
        m_startFailure = StartFailure::DamagedKit;
        ShowMessage(LocalizedString("IDS_ERROR_DAMAGEDSOURCE"), kCritical);
        return false;
    }
    return true;
}

void CInstallerDlg::ResolveTargetDir() {
    m_alternateConfigExists = Exists(AlternateUserConfigPath());
    bool userConfigExists = Exists(UserConfigPath());
    if (userConfigExists) {
        LoadTemplateLocations(m_templateLocations, false);
    } else if (m_alternateConfigExists) {
        LoadTemplateLocations(m_templateLocations, true);
        m_fromAlternateConfig = !m_templateLocations.empty();
    }

    // The command line's choice is taken as it is: probing the configured
    // locations for it would only write to them.
    if (m_hasTargetOverride) {
        m_targetDir = m_targetOverride;
        return;
    }
    for (const stdx::u16string& location : m_templateLocations) {
        if (m_dryRun ? LooksWritable(location) : IsDirectoryWritable(location)) {
            m_targetDir = location;
            break;
        }
    }
    if (m_targetDir.empty()) {
        m_targetDir = DefaultTemplateDirectory() + u"tmplts" + u"/";
    }

    m_targetDir = CleanTargetDir(m_targetDir);
}

stdx::u16string CInstallerDlg::ReadTargetFromPage() {
    return m_layer->GetPathField();
}

void CInstallerDlg::OnBack() {
    if (m_state == STATE_SELECT_DIR) {
        ShowWelcomePage();
    }
}

void CInstallerDlg::OnNext() {
    switch (m_state) {
        case STATE_WELCOME:
            ShowDirSelectPage();
            break;
        case STATE_SELECT_DIR: {
            stdx::u16string typed = ReadTargetFromPage();
            ReplaceAll(typed, u"\\", u"/");
            // "~" as the shell has it; any other relative path would install
            // below whatever the working directory is, which the launcher
            // cannot find again.
            stdx::u16string target;
            if (!ExpandTargetPath(typed, &target)) {
                ShowMessage(LocalizedString("IDS_SETUP_EMPTYTARGET"), MSG_OK);
                break;
            }
            m_targetDir = target;
            RunInstall();
            break;
        }
        case STATE_SUCCESS:
        case STATE_ERROR:
            Finish();
            break;
        default:
            break;
    }
}

void CInstallerDlg::OnCancel() {
    if (m_state == STATE_INSTALLING) {
        RequestCancel();
    } else {
        ConfirmCancel();
    }
}

void CInstallerDlg::ConfirmCancel() {
    if (m_state == STATE_INSTALLING && m_cancelRequested) {
        return;
    }
    std::uint32_t answer =
        ShowMessage(LocalizedString("IDS_ACCEPT_CANCEL"), MSG_YESNO | MSG_STYLE_WARNING);
    if (answer != MSG_RESULT_YES) {
        return;
    }
    if (m_state == STATE_INSTALLING) {
        // The run may have ended while the question was open; the loop then
        // shows its result and the flag has no effect.
        RequestCancel();
        return;
    }
    CloseWizardWindow();
}

bool CInstallerDlg::OnCloseRequest() {
    if (m_state != STATE_INSTALLING) {
        // A finished run may still be in the worker's pause after its last
        // status; the process must not end before the thread does.
        m_thread.Wait();
        m_windowOpen = false;
        return true;
    }
    m_closeRequested = true;
    RequestCancel();
    return false;
}

void CInstallerDlg::OnTerminationSignal() {
    if (m_state == STATE_INSTALLING) {
        // Whether the signal stopped the run is known only from the run's
        // last status: it may have finished in the meantime.
        m_signalDuringRun = true;
        m_closeRequested = true;
        if (!m_cancelRequested) {
            RequestCancel();
        }
        return;
    }
    if (m_windowOpen && m_state != STATE_SUCCESS && m_state != STATE_ERROR) {
        m_endedBySignal = true;
    }
    CloseWizardWindow();
}

int CInstallerDlg::OnDisplayLost() {
    if (m_state == STATE_INSTALLING) {
        m_processData.Cancel();
        m_thread.Stop();
    }
    m_thread.Wait();
    return m_processData.KeptBackup().empty() ? kExitCancelled : kExitNotRestored;
}

bool CInstallerDlg::RunInProgress() const {
    if (m_state != STATE_INSTALLING) {
        return false;
    }
    ErrorCode error = kErrorSuccess;
    std::int32_t percent = 0;
    m_processData.GetStatus(&error, nullptr, &percent);
    return error == kErrorSuccess && percent < 100;
}

bool CInstallerDlg::OnQuitRequest() {
    if (!RunInProgress()) {
        m_thread.Wait();
        return true;
    }
    m_closeRequested = true;
    if (!m_cancelRequested) {
        RequestCancel();
    }
    return false;
}

void CInstallerDlg::RequestCancel() {
    m_cancelRequested = true;
    // The worker stops at its next check, rolls back and posts 1223; the
    // progress loop waits for that status.
    m_processData.Cancel();
    m_thread.Stop();
    m_layer->SetButtonEnabled(WizardButton::Cancel, false);
}

void CInstallerDlg::CloseWizardWindow() {
    // The window's closing may end the process: no run may be in progress.
    m_thread.Wait();
    if (m_windowOpen) {
        m_windowOpen = false;
        m_layer->CloseWindow();
    }
}
