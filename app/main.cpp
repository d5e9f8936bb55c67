#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/AdminOptions.h"
#include "app/HeadlessWindowLayer.h"
#include "app/RunInstaller.h"

#if defined(QA_HAVE_COCOA)
#include "ui/CocoaWindowLayer.h"
#include "ui/ToolkitDiagnostics.h"
#elif defined(QA_WINDOW_LAYER_MODULE)
#include "app/ExecutablePath.h"
#include "app/WindowLayerModule.h"
#endif

namespace {

// The layer that shows the wizard and the message boxes, or null for none.
// Help, the dry run and quiet mode show nothing: the toolkit is not even
// started, so it neither needs a display nor writes to standard error.
std::unique_ptr<WindowLayer> MakeWindowLayer(int argc, char** argv) {
    const AdminOptions options = ParseAdminOptions(argc, argv, FirstOptionIndex(argc, argv));
#if defined(QA_HAVE_COCOA)
    // Linked in: AppKit is shared by every process of the session anyway.
    if (options.WithoutWindows()) {
        return nullptr;
    }
    KeepToolkitDiagnosticsOffStandardError();
    return CreateCocoaWindowLayer();
#elif defined(QA_WINDOW_LAYER_MODULE)
    if (ChooseWindowLayer(options, std::getenv("DISPLAY"), &CanOpenXDisplay) ==
        WindowLayerChoice::Headless) {
        return nullptr;
    }
    // Only the module beside this very executable: never one found through
    // a search path or the working directory.
    stdx::string error;
    std::unique_ptr<WindowLayer> layer =
        LoadWindowLayerModule(WindowLayerModulePath(RunningExecutablePath()), &error);
    if (!error.empty()) {
        const stdx::string line =
            "Setup: no windows can be shown: the window layer module " + error + "\n";
        std::fwrite(line.c_str(), 1, line.size(), stderr);
    }
    return layer;
#else
    (void)options;
    return nullptr;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    StartupArgs args{argc, argv, 0, stdx::u16string()};
    std::unique_ptr<WindowLayer> layer = MakeWindowLayer(argc, argv);
    if (!layer) {
        layer = std::make_unique<HeadlessWindowLayer>();
    }
    return RunInstaller(args, *layer);
}
