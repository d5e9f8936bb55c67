#include "ui/WindowServer.h"

#include "app/ExitStatus.h"
#include "app/WizardActions.h"

#if defined(__APPLE__)
#include <CoreGraphics/CoreGraphics.h>

bool CanReachWindowServer() {
    // A session dictionary exists only for processes of a graphical login,
    // not for ones started over ssh or from a launch daemon.
    CFDictionaryRef session = CGSessionCopyCurrentDictionary();
    if (session == nullptr) {
        return false;
    }
    CFRelease(session);
    return true;
}

void WatchForLostDisplay() {}

void SetLostDisplayController(WizardActions*) {}

#else
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>

namespace {

// Read by the handler, on the main thread, which is the only one that
// talks to the X server.
WizardActions* g_lostDisplayController = nullptr;

int OnDisplayLost(Display*) {
    const int status = g_lostDisplayController != nullptr ? g_lostDisplayController->OnDisplayLost()
                                                          : kExitCancelled;
    // exit() would run the toolkit's clean-up, which talks to the lost
    // display again.
    _exit(status);
}

}  // namespace

bool CanReachWindowServer() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || name[0] == '\0') {
        return false;
    }
    Display* display = XOpenDisplay(name);
    if (display == nullptr) {
        return false;
    }
    XCloseDisplay(display);
    return true;
}

void WatchForLostDisplay() {
    XSetIOErrorHandler(OnDisplayLost);
}

void SetLostDisplayController(WizardActions* actions) {
    g_lostDisplayController = actions;
}
#endif
