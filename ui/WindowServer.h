#pragma once

// True when a window server accepts connections from this process: on X11,
// when DISPLAY names a display that opens; on macOS, when the process runs
// in a graphical login session. Kept apart from AppKit so that the check
// runs before the application object exists (GNUstep aborts the process
// when it cannot open its display).
bool CanReachWindowServer();
