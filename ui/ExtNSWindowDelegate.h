#pragma once

#import <AppKit/AppKit.h>

// Delegate of the message box's window. A window closed from its title bar
// while it runs as a sheet or as a modal panel would leave its session
// waiting for ever; the session is ended here instead.
@interface ExtNSWindowDelegate : NSObject
- (void)windowWillClose:(NSNotification*)notification;
@end
