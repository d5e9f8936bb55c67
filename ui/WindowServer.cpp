#include "ui/WindowServer.h"

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

#else
#include <X11/Xlib.h>

#include <cstdlib>

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
#endif
