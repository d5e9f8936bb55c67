// The entry point of the window layer module (libqa_cocoa.so), which the
// program loads with dlopen when it is going to show a window. Everything
// else the layer needs from the installer (the texts, the signal watcher)
// it takes from the executable, so that both share one language and one
// pending signal; the controller it sees only as the WizardActions given to
// Attach.
#include "app/WindowLayerModule.h"
#include "ui/CocoaWindowLayer.h"
#include "ui/ToolkitDiagnostics.h"

extern "C" __attribute__((visibility("default"))) WindowLayer* qa_create_cocoa_window_layer() {
    // Before the toolkit starts: its log lines are not the installer's.
    KeepToolkitDiagnosticsOffStandardError();
    return CreateCocoaWindowLayer().release();
}

// The name the program looks for must be this function's.
static_assert(sizeof(kWindowLayerFactoryName) == sizeof("qa_create_cocoa_window_layer"));
