#pragma once

#include <memory>

#include "app/WindowLayer.h"

// The wizard drawn with Cocoa (AppKit on macOS, GNUstep elsewhere).
// Returns nullptr when no window server can be reached (on X11: DISPLAY unset
// or the display does not open), before the application object is touched;
// the caller then falls back to a layer without windows. Otherwise the
// shared application is set up (an autorelease pool that lives for the
// process, the application delegate, a regular activation policy) and
// brought to the front. Call once, on the main thread.
std::unique_ptr<WindowLayer> CreateCocoaWindowLayer();
