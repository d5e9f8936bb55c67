#pragma once

// True when a window server accepts connections from this process: on X11,
// when DISPLAY names a display that opens; on macOS, when the process runs
// in a graphical login session. Kept apart from AppKit so that the check
// runs before the application object exists (GNUstep aborts the process
// when it cannot open its display).
bool CanReachWindowServer();

class WizardActions;

// When the connection to the window server breaks (the X server ends, the
// window manager or xkill closes the client's connection), Xlib calls its
// I/O error handler and ends the process as soon as the handler returns.
// From this call on, the handler first lets the controller given to
// SetLostDisplayController roll back a run at work (OnDisplayLost), then
// ends the process with the status that returns (kExitCancelled when no
// controller is set). Call after the application has
// opened its display. Nothing on macOS.
void WatchForLostDisplay();
// The controller to tell; null: none (the process just ends).
void SetLostDisplayController(WizardActions* actions);
