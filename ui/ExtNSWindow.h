#pragma once

#import <AppKit/AppKit.h>

class CInstallerDlg;
class WindowLayer;

// The wizard window. It reports the Esc key and its close box to the
// controller in m_mainDlg; the controller decides, and closes the window
// through its window layer.
@interface ExtNSWindow : NSWindow {
    CInstallerDlg* m_mainDlg;
    WindowLayer* m_layer;
}
// Stores dlg (may be null) before the inherited initialiser runs.
- (id)initWithContentRectAndDlg:(NSRect)contentRect
                      styleMask:(NSUInteger)style
                        backing:(NSBackingStoreType)backing
                          defer:(BOOL)defer
                            dlg:(CInstallerDlg*)dlg;
// The controller to report to; null stops all reports.
- (void)setMainDlg:(CInstallerDlg*)dlg;
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
