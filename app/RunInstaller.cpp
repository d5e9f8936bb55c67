#include "app/RunInstaller.h"

#include <cstdio>

#include "app/CInstallerDlg.h"
#include "app/HeadlessWindowLayer.h"
#include "app/SignalWatcher.h"
#include "app/Usage.h"
#include "launcher/StaleConfigTemps.h"
#include "launcher/TemplateLocations.h"
#include "text/Encoding.h"
#include "text/Languages.h"

namespace {

void Print(std::FILE* stream, const stdx::string& text) {
    std::fwrite(text.c_str(), 1, text.size(), stream);
    std::fflush(stream);
}

// The command line as one log field: the arguments after the program,
// separated by spaces, each in double quotes when it holds a space.
stdx::string Arguments(const StartupArgs& args) {
    stdx::string joined;
    for (int i = 1; i < args.argc && args.argv != nullptr; ++i) {
        if (args.argv[i] == nullptr) {
            continue;
        }
        const stdx::string arg(args.argv[i]);
        if (!joined.empty()) {
            joined += " ";
        }
        const bool quote = arg.find(' ') != stdx::string::npos;
        if (quote) {
            joined += "\"";
        }
        joined += arg;
        if (quote) {
            joined += "\"";
        }
    }
    return joined;
}

int End(RunLog& log, int status) {
    char line[32];
    std::snprintf(line, sizeof(line), "end: status %d", status);
    log.Write(stdx::string(line));
    return status;
}

int RunChecked(StartupArgs& args, const StartupChoice& choice, WindowLayer& ui, RunLog& log) {
    const AdminOptions& options = choice.options;
    // From here on a termination signal cancels a run instead of cutting it
    // short; outside a run the controller ends the program at once.
    ScopedSignalWatcher signals;
    CInstallerDlg dlg(choice.silent, Utf16ToUtf8(args.title), choice.languageCode,
                      choice.useCurrentDir, &ui);
    dlg.SetRunLog(&log);
    if (options.hasDir) {
        dlg.SetTargetOverride(options.dir);
    }
    // Runs cut short are looked for in the temporary directory and around
    // every template directory this start knows of.
    const std::vector<stdx::u16string> locations =
        KnownTemplateLocations(options.hasDir ? options.dir : stdx::u16string());
    if (options.plan) {
        // A dry run changes nothing, not even an interrupted run's files.
        dlg.SetDryRun();
        if (HasInterruptedRuns(locations)) {
            Print(stdout, stdx::string("interrupted: an earlier installation will be undone at "
                                       "the next start\n"));
        }
    } else {
        const RecoveryResult recovery = RecoverInterruptedRuns(locations, &log);
        RemoveStaleConfigTemps();
        ReportRecovery(recovery, ui.HasDisplay() && !choice.silent, ui, log, stderr);
    }

    if (!choice.silent && !options.plan && !ui.HasDisplay()) {
        const stdx::string message(
            "Setup: no display is available for the installation wizard; "
            "run Setup /S to install without windows.\n");
        log.Write(stdx::string("message: ") + message.substr(0, message.size() - 1));
        Print(stderr, message);
        return kExitNoDisplay;
    }

    if (!dlg.Initialize()) {
        return choice.silent || options.plan ? ExitStatusForStart(dlg.GetStartFailure())
                                             : kExitSuccess;
    }
    if (options.plan) {
        return dlg.PrintPlan(stdout);
    }
    dlg.CreateWizardWindow();
    dlg.ShowWelcomePage();
    if (choice.silent) {
        if (dlg.RunSilent()) {
            return kExitSuccess;
        }
        if (dlg.GetStartFailure() != StartFailure::None) {
            return ExitStatusForStart(dlg.GetStartFailure());
        }
        return ExitStatusForRun(dlg.GetRunError(), dlg.GetKeptBackup());
    }
    ui.RunEventLoop();
    // The user saw every other outcome in the window; these two nobody may
    // have seen.
    if (dlg.EndedBySignal()) {
        return kExitCancelled;
    }
    if (!dlg.GetKeptBackup().empty()) {
        return kExitNotRestored;
    }
    return kExitSuccess;
}

}  // namespace

void ReportRecovery(const RecoveryResult& result, bool messageBoxes, WindowLayer& layer,
                    RunLog& log, std::FILE* errors) {
    char counts[96];
    std::snprintf(counts, sizeof(counts), "recovery: %d restored, %d completed, %d kept",
                  result.restored, result.completed, static_cast<int>(result.keptBackups.size()));
    if (result.restored > 0 || result.completed > 0 || !result.keptBackups.empty()) {
        log.Write(stdx::string(counts));
    }
    // Not the user's own: never obeyed, and only the log hears of it.
    for (const stdx::u16string& runDir : result.refused) {
        log.Write(stdx::string("recovery: left alone, not the user's own: ") + Utf16ToUtf8(runDir));
    }

    std::vector<stdx::u16string> messages;
    if (result.restored > 0) {
        messages.push_back(LocalizedString("IDS_RECOVERED"));
    }
    if (result.completed > 0) {
        messages.push_back(LocalizedString("IDS_RECOVERED_COMPLETE"));
    }
    for (const stdx::u16string& backup : result.keptBackups) {
        messages.push_back(LocalizedString("IDS_RESTORE_INCOMPLETE") + u"\n" + backup);
    }
    for (const stdx::u16string& message : messages) {
        log.Write(stdx::string("message: ") + Utf16ToUtf8(message));
        if (messageBoxes) {
            layer.ShowMessageBox(message, MSG_OK | MSG_STYLE_INFORMATION);
        } else {
            Print(errors, Utf16ToUtf8(message) + "\n");
        }
    }
}

int RunInstaller(StartupArgs& args, WindowLayer& layer) {
    StartupChoice choice = ChooseStartup(args, layer.LocaleIdentifier());
    const AdminOptions& options = choice.options;

    if (!options.usageError.empty()) {
        Print(stderr, stdx::string("Setup: ") + options.usageError +
                          "\nRun Setup --help for the options.\n");
        return kExitUsage;
    }
    if (options.help) {
        Print(stdout, UsageText());
        return kExitSuccess;
    }
    if (options.version) {
        Print(stdout, VersionText());
        return kExitSuccess;
    }

    RunLog log;
    if (options.hasLog && !log.Open(options.logPath)) {
        Print(stderr,
              stdx::string("Setup: the log file cannot be opened: ") + options.logPath + "\n");
        return kExitUsage;
    }
    log.Write(stdx::string("start: Setup ") + kProgramVersion + ", arguments: " + Arguments(args) +
              ", language: " + Utf16ToUtf8(choice.languageCode));

    // Quiet mode and the dry run promise no window at all, whatever layer
    // the caller made.
    HeadlessWindowLayer headless;
    WindowLayer& ui = options.quiet || options.plan ? headless : layer;
    return End(log, RunChecked(args, choice, ui, log));
}
