#include "ui/ExtNSWindowDelegate.h"

@implementation ExtNSWindowDelegate

- (void)windowWillClose:(NSNotification*)notification {
    NSWindow* window = [notification object];
    [NSApp endSheet:window];
    // The modal loop returns once the close event has been handled; the
    // message box maps this code to "no answer".
    if ([NSApp modalWindow] == window) {
        [NSApp stopModalWithCode:NSRunAbortedResponse];
    }
}

@end
