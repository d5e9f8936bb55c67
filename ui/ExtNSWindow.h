#pragma once

#import <AppKit/AppKit.h>

class WindowLayer;
class WizardActions;

// The wizard window. It reports the Esc key and its close box to the
// controller's actions in m_actions; the controller decides, and closes the
// window through its window layer.
@interface ExtNSWindow : NSWindow {
    WizardActions* m_actions;
    WindowLayer* m_layer;
}
// Stores actions (may be null) before the inherited initialiser runs.
- (id)initWithContentRect:(NSRect)contentRect
                styleMask:(NSUInteger)style
                  backing:(NSBackingStoreType)backing
                    defer:(BOOL)defer
                  actions:(WizardActions*)actions;
// Where to report to; null stops all reports.
- (void)setActions:(WizardActions*)actions;
// The layer that closes the window when the controller agrees to the close
// box; null lets the platform close it.
- (void)setLayer:(WindowLayer*)layer;
// Esc (recognised by its character, so that any keyboard layout and both
// platforms' key codes work) asks the controller; other keys go on.
- (void)keyDown:(NSEvent*)event;
// Hands Esc to keyDown: whichever control has the focus: an editing text
// field would otherwise take it (as a completion request) first.
- (void)sendEvent:(NSEvent*)event;
// The close box: asks the controller first.
- (void)performClose:(id)sender;
@end
