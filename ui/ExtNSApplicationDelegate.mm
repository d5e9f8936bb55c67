#include "ui/ExtNSApplicationDelegate.h"

#include "ui/ExtNSApplication.h"

@implementation ExtNSApplicationDelegate

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
    (void)sender;
    return YES;
}

- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender {
    (void)sender;
    StopApplicationEventLoop();
    return NSTerminateCancel;
}

- (void)application:(NSApplication*)sender openFiles:(NSArray*)filenames {
    (void)filenames;
    [sender replyToOpenOrPrint:NSApplicationDelegateReplySuccess];
}

@end
