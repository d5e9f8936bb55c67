// The toolkit's own floor, for the window memory benchmark: the smallest
// program that shows a window like the wizard's (the application object, one
// titled 500 x 360 window with one button, the event loop) and nothing of
// the installer. What it takes is what any window of this toolkit costs on
// the machine; the installer's figures are read against it.
// It runs until it is ended by a signal.
#import <AppKit/AppKit.h>

int main() {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    [NSApplication sharedApplication];
    NSWindow* window =
        [[NSWindow alloc] initWithContentRect:NSMakeRect(100, 100, 500, 360)
                                    styleMask:NSTitledWindowMask | NSClosableWindowMask
                                      backing:NSBackingStoreBuffered
                                        defer:NO];
    NSButton* button = [[NSButton alloc] initWithFrame:NSMakeRect(410, 10, 80, 30)];
    [button setTitle:@"Next"];
    [button setBezelStyle:NSRoundedBezelStyle];
    [[window contentView] addSubview:button];
    [window setTitle:@"Toolkit floor"];
    [window makeKeyAndOrderFront:nil];
    [NSApp run];
    [button release];
    [window release];
    [pool release];
    return 0;
}
