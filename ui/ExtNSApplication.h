#pragma once

#import <AppKit/AppKit.h>

// The application class of the wizard. Some X11 input (synthetic key
// presses, keys typed while the pointer is outside every window) reaches
// GNUstep with no window attached, and NSApplication drops such key events.
// They are given to the modal, key or main window instead, so that Esc,
// Return and typing work wherever the keyboard focus is. The window
// manager's request to close a modal panel performs the panel's close
// action (PanelCloseBox.h).
@interface ExtNSApplication : NSApplication
@end

// Ends the current -run of NSApp after the event being handled: -stop: only
// takes effect when the loop wakes, so a dummy event is posted to wake it.
// Safe to call when no loop runs and more than once.
void StopApplicationEventLoop();

// Posts a dummy event, so that a loop that waits for events looks at its
// state again (a modal loop that was asked to stop).
void WakeEventLoop();
