#pragma once

#import <AppKit/AppKit.h>

class WizardActions;

// The application's delegate: the wizard is the application, so closing its
// window ends it. Ending means leaving the event loop rather than exit(), so
// that start-up can destroy the controller, which waits for a running
// installation and its rollback.
//
// It also hands the controller's actions in m_actions the requests to end
// that come from outside: a termination signal (SignalWatcher), looked for ten times a
// second in every run-loop mode, and the platform's request to quit.
@interface ExtNSApplicationDelegate : NSObject {
    WizardActions* m_actions;
    NSTimer* m_timer;
    BOOL m_replyLater;
}
// Where to hand the requests to; null: nowhere.
- (void)setActions:(WizardActions*)actions;
// Starts looking for termination signals; -stopWatching ends it (the timer
// holds the delegate until then).
- (void)startWatching;
- (void)stopWatching;
// A pending signal first ends an open modal panel (a message box or the
// folder chooser) with no answer, then reaches the controller, which
// closes the window or cancels the run. A quit answered "later" is granted
// here once the run's rollback is over.
- (void)poll:(NSTimer*)timer;
- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender;
// During a run, the run is cancelled without a question: on macOS the
// answer is "later" and the quit is granted after the rollback; GNUstep's
// answer is "cancel", and the window closes after the rollback, which ends
// the event loop. Outside a run: on macOS, while the window is open (logout,
// shutdown, Quit), "now"; otherwise the event loop is stopped instead of
// letting the platform exit the process.
- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender;
// The installer opens no documents: the names are dropped. GNUstep takes the
// command line's arguments that are not options (the switch /S looks like a
// path) for documents to open, and its own handling of them stalls the
// first modal loop.
- (void)application:(NSApplication*)sender openFiles:(NSArray*)filenames;
@end
