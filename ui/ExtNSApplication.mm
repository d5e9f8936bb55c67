#include "ui/ExtNSApplication.h"

#include "ui/PanelCloseBox.h"

@implementation ExtNSApplication

- (void)sendEvent:(NSEvent*)event {
    if (PerformModalCloseAction(event)) {
        return;
    }
    NSEventType type = [event type];
    if ((type == NSKeyDown || type == NSKeyUp) && [event window] == nil) {
        NSWindow* target = [self modalWindow];
        if (target == nil) {
            target = [self keyWindow];
        }
        if (target == nil) {
            target = [self mainWindow];
        }
        if (target != nil) {
            event = [NSEvent keyEventWithType:type
                                     location:[event locationInWindow]
                                modifierFlags:[event modifierFlags]
                                    timestamp:[event timestamp]
                                 windowNumber:[target windowNumber]
                                      context:nil
                                   characters:[event characters]
                  charactersIgnoringModifiers:[event charactersIgnoringModifiers]
                                    isARepeat:[event isARepeat]
                                      keyCode:[event keyCode]];
        }
    }
    [super sendEvent:event];
}

@end

void StopApplicationEventLoop() {
    [NSApp stop:nil];
    WakeEventLoop();
}

void WakeEventLoop() {
    NSEvent* wake = [NSEvent otherEventWithType:NSApplicationDefined
                                       location:NSZeroPoint
                                  modifierFlags:0
                                      timestamp:0
                                   windowNumber:0
                                        context:nil
                                        subtype:0
                                          data1:0
                                          data2:0];
    [NSApp postEvent:wake atStart:NO];
}
