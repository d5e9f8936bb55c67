#pragma once

#include <memory>

#include "app/WindowLayer.h"

// The wizard drawn with Cocoa (AppKit on macOS, GNUstep elsewhere).
// Returns nullptr when no window server can be reached (on X11: DISPLAY unset
// or the display does not open), before the application object is touched;
// the caller then falls back to a layer without windows. Otherwise an
// autorelease pool that lives for the process is made, and the shared
// application is set up on first use (the first message box, window or
// event), after start-up has chosen the language: the interface font for
// that language (UseInterfaceFontFor), the application delegate, a regular
// activation policy, brought to the front. Call once, on the main thread.
std::unique_ptr<WindowLayer> CreateCocoaWindowLayer();
