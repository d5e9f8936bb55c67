#pragma once

#import <AppKit/AppKit.h>

// The application's delegate: the wizard is the application, so closing its
// window ends it. Ending means leaving the event loop rather than exit(), so
// that start-up can destroy the controller, which waits for a running
// installation and its rollback.
@interface ExtNSApplicationDelegate : NSObject
- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender;
// Stops the event loop instead of letting the platform exit the process.
- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender;
@end
