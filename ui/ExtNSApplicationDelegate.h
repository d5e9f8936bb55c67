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
// The installer opens no documents: the names are dropped. GNUstep takes the
// command line's arguments that are not options (the switch /S looks like a
// path) for documents to open, and its own handling of them stalls the
// first modal loop.
- (void)application:(NSApplication*)sender openFiles:(NSArray*)filenames;
@end
