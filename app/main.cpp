#include <memory>

#include "app/AdminOptions.h"
#include "app/HeadlessWindowLayer.h"
#include "app/RunInstaller.h"

#ifdef QA_HAVE_COCOA
#include "ui/CocoaWindowLayer.h"
#include "ui/ToolkitDiagnostics.h"
#endif

int main(int argc, char** argv) {
    StartupArgs args{argc, argv, 0, stdx::u16string()};
    std::unique_ptr<WindowLayer> layer;
#ifdef QA_HAVE_COCOA
    // Help, the dry run and quiet mode show nothing: the toolkit is not even
    // started, so it neither needs a display nor writes to standard error.
    if (!ParseAdminOptions(argc, argv, FirstOptionIndex(argc, argv)).WithoutWindows()) {
        KeepToolkitDiagnosticsOffStandardError();
        layer = CreateCocoaWindowLayer();
    }
#endif
    if (!layer) {
        layer = std::make_unique<HeadlessWindowLayer>();
    }
    return RunInstaller(args, *layer);
}
