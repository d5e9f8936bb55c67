#include "ui/ExtNSApplicationDelegate.h"

#include "app/SignalWatcher.h"
#include "app/WizardActions.h"
#include "ui/ExtNSApplication.h"

namespace {

// How often a pending signal is looked for.
constexpr NSTimeInterval kPollSeconds = 0.1;

#if defined(__APPLE__)
bool AnyWindowVisible() {
    for (NSWindow* window in [NSApp windows]) {
        if ([window isVisible]) {
            return true;
        }
    }
    return false;
}
#endif

}  // namespace

@implementation ExtNSApplicationDelegate

- (void)setActions:(WizardActions*)actions {
    m_actions = actions;
}

- (void)startWatching {
    if (m_timer != nil) {
        return;
    }
    m_timer = [[NSTimer timerWithTimeInterval:kPollSeconds
                                       target:self
                                     selector:@selector(poll:)
                                     userInfo:nil
                                      repeats:YES] retain];
    // Modal panels and a quit answered "later" run the loop in modes of
    // their own.
    NSRunLoop* loop = [NSRunLoop currentRunLoop];
    [loop addTimer:m_timer forMode:NSDefaultRunLoopMode];
    [loop addTimer:m_timer forMode:NSModalPanelRunLoopMode];
    [loop addTimer:m_timer forMode:NSEventTrackingRunLoopMode];
}

- (void)stopWatching {
    [m_timer invalidate];
    [m_timer release];
    m_timer = nil;
}

- (void)poll:(NSTimer*)timer {
    (void)timer;
    if (m_actions == nullptr) {
        return;
    }
#if defined(__APPLE__)
    if (m_replyLater) {
        if (m_actions->OnQuitRequest()) {
            m_replyLater = NO;
            [NSApp replyToApplicationShouldTerminate:YES];
        }
        return;
    }
#endif
    if (SignalWatcher::Pending() == 0) {
        return;
    }
    if ([NSApp modalWindow] != nil) {
        // The question or the chooser returns with no answer; the next
        // look, outside the modal loop, reaches the controller.
#if defined(__APPLE__)
        [NSApp abortModal];
#else
        [NSApp stopModalWithCode:NSRunAbortedResponse];
        WakeEventLoop();
#endif
        return;
    }
    m_actions->OnTerminationSignal();
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    (void)sender;
    return YES;
}

- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender {
    (void)sender;
    if (m_actions != nullptr && !m_actions->OnQuitRequest()) {
#if defined(__APPLE__)
        m_replyLater = YES;
        return NSTerminateLater;
#else
        return NSTerminateCancel;
#endif
    }
#if defined(__APPLE__)
    // Refusing a logout or shutdown would hold the whole session.
    if (AnyWindowVisible()) {
        return NSTerminateNow;
    }
#endif
    StopApplicationEventLoop();
    return NSTerminateCancel;
}

- (void)application:(NSApplication*)sender openFiles:(NSArray*)filenames {
    (void)filenames;
    [sender replyToOpenOrPrint:NSApplicationDelegateReplySuccess];
}

@end
