#pragma once

#import <AppKit/AppKit.h>

// The window manager's close button (and Alt+F4) on the modal panels: the
// message boxes and the folder chooser. GNUstep gives a window without a
// close box of its own no WM_DELETE_WINDOW protocol, and a window manager
// asked to close such a window kills the whole client, and a running
// installation with it. Here the panels take the request and answer it the
// way closing means: a question No, an OK box OK, the chooser Cancel.
// Nothing of this is needed on macOS, whose panels close through their
// window delegate; there every call below does nothing.

// While one lives, the window manager's request to close the modal window
// performs action on target (the button whose answer closing gives, the
// chooser's cancel:) instead of reaching the window. target must outlive
// it. They nest: the one made last counts, and the one before counts again
// when it goes.
class ModalCloseAction {
public:
    ModalCloseAction(id target, SEL action);
    // The close request ends the modal loop with this response, as the
    // panel's button that gives it would.
    explicit ModalCloseAction(NSInteger response);
    ~ModalCloseAction();
    ModalCloseAction(const ModalCloseAction&) = delete;
    ModalCloseAction& operator=(const ModalCloseAction&) = delete;

private:
    id m_previousTarget;
    SEL m_previousAction;
    NSInteger m_previousResponse;
    bool m_previousSet;
};

// Lets the window manager ask window to close (adds WM_DELETE_WINDOW to its
// protocols). For a window that is already on screen.
void AcceptCloseRequests(NSWindow* window);

// Calls AcceptCloseRequests for window from the first pass of the modal
// loop that is about to start (a panel is put on screen only inside
// runModal). CancelCloseRequestsSetup drops a call that has not come yet.
void AcceptCloseRequestsWhenShown(NSWindow* window);
void CancelCloseRequestsSetup(NSWindow* window);

// For the application's sendEvent: performs the current ModalCloseAction
// when event is the window manager's request to close the modal window.
// True when it did; the event must then go no further.
bool PerformModalCloseAction(NSEvent* event);
