#include "app/RunInstaller.h"

#include <cstdio>

#include "app/CInstallerDlg.h"
#include "app/SignalWatcher.h"
#include "text/Encoding.h"

int RunInstaller(StartupArgs& args, WindowLayer& layer) {
    StartupChoice choice = ChooseStartup(args, layer.LocaleIdentifier());

    if (!choice.silent && !layer.HasDisplay()) {
        std::fputs(
            "Setup: no display is available for the installation wizard; "
            "run Setup /S to install without windows.\n",
            stderr);
        return kExitFailure;
    }

    // From here on a termination signal cancels instead of cutting short.
    ScopedSignalWatcher signals;
    CInstallerDlg dlg(args.argc, args.argv, choice.silent, Utf16ToUtf8(args.title),
                      choice.languageCode, choice.useCurrentDir, &layer);
    if (!dlg.Initialize()) {
        return choice.silent ? kExitFailure : kExitSuccess;
    }
    dlg.CreateWizardWindow();
    dlg.ShowWelcomePage();
    if (choice.silent) {
        return dlg.RunSilent() ? kExitSuccess : kExitFailure;
    }
    layer.RunEventLoop();
    return kExitSuccess;
}
