#include "ui/PanelCloseBox.h"

#if defined(GNUSTEP)
#include <GNUstepGUI/GSDisplayServer.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace {

// Either a target and its action, or (target nil) a response to stop the
// modal loop with.
id g_closeTarget = nil;
SEL g_closeAction = nullptr;
NSInteger g_closeResponse = 0;
bool g_closeActionSet = false;

}  // namespace

// The target of the delayed AcceptCloseRequests.
@interface CloseRequestsSetup : NSObject
+ (void)acceptFor:(NSWindow*)window;
@end

@implementation CloseRequestsSetup
+ (void)acceptFor:(NSWindow*)window {
    AcceptCloseRequests(window);
}
@end

ModalCloseAction::ModalCloseAction(id target, SEL action)
    : m_previousTarget(g_closeTarget),
      m_previousAction(g_closeAction),
      m_previousResponse(g_closeResponse),
      m_previousSet(g_closeActionSet) {
    g_closeTarget = target;
    g_closeAction = action;
    g_closeActionSet = true;
}

ModalCloseAction::ModalCloseAction(NSInteger response)
    : m_previousTarget(g_closeTarget),
      m_previousAction(g_closeAction),
      m_previousResponse(g_closeResponse),
      m_previousSet(g_closeActionSet) {
    g_closeTarget = nil;
    g_closeResponse = response;
    g_closeActionSet = true;
}

ModalCloseAction::~ModalCloseAction() {
    g_closeTarget = m_previousTarget;
    g_closeAction = m_previousAction;
    g_closeResponse = m_previousResponse;
    g_closeActionSet = m_previousSet;
}

#if defined(GNUSTEP)

void AcceptCloseRequests(NSWindow* window) {
    GSDisplayServer* server = GSServerForWindow(window);
    if (server == nil || [window windowNumber] <= 0) {
        return;
    }
    Display* display = static_cast<Display*>([server serverDevice]);
    // The X11 back end's device of a window is its X window id.
    Window xWindow = static_cast<Window>(
        reinterpret_cast<uintptr_t>([server windowDevice:[window windowNumber]]));
    if (display == nullptr || xWindow == 0) {
        return;
    }
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    Atom* protocols = nullptr;
    int count = 0;
    if (XGetWMProtocols(display, xWindow, &protocols, &count) == 0) {
        protocols = nullptr;
        count = 0;
    }
    Atom updated[32];
    int total = 0;
    for (int i = 0; i < count && total < 31; ++i) {
        if (protocols[i] == deleteWindow) {
            XFree(protocols);
            return;
        }
        updated[total++] = protocols[i];
    }
    if (protocols != nullptr) {
        XFree(protocols);
    }
    updated[total++] = deleteWindow;
    XSetWMProtocols(display, xWindow, updated, total);
    XFlush(display);
}

bool PerformModalCloseAction(NSEvent* event) {
    if (!g_closeActionSet || [event type] != NSAppKitDefined ||
        [event subtype] != GSAppKitWindowClose) {
        return false;
    }
    NSWindow* modal = [NSApp modalWindow];
    if (modal == nil || [event window] != modal) {
        return false;
    }
    if (g_closeTarget != nil) {
        [g_closeTarget performSelector:g_closeAction withObject:nil];
    } else {
        // Called from the modal loop's own dispatch, where stopping it is
        // allowed.
        [NSApp stopModalWithCode:g_closeResponse];
    }
    return true;
}

#else

void AcceptCloseRequests(NSWindow*) {}

bool PerformModalCloseAction(NSEvent*) {
    return false;
}

#endif

void AcceptCloseRequestsWhenShown(NSWindow* window) {
    [CloseRequestsSetup performSelector:@selector(acceptFor:)
                             withObject:window
                             afterDelay:0
                                inModes:[NSArray arrayWithObjects:NSModalPanelRunLoopMode,
                                                                  NSDefaultRunLoopMode, nil]];
}

void CancelCloseRequestsSetup(NSWindow* window) {
    [NSObject cancelPreviousPerformRequestsWithTarget:[CloseRequestsSetup class]
                                             selector:@selector(acceptFor:)
                                               object:window];
}
