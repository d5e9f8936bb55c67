#pragma once

#import <AppKit/AppKit.h>

class CInstallerDlg;
class DirSelectPage;

// A push button that is its own target and forwards its action to the
// controller in m_mainDlg, or, for the directory page's "..." button, to
// that page's folder chooser.
@interface ExtNSButton : NSButton {
    CInstallerDlg* m_mainDlg;
    DirSelectPage* m_dirPage;
}
// Stores dlg (may be null) before the inherited initialiser runs.
- (id)initWithFrameAndDlg:(NSRect)frame dlg:(CInstallerDlg*)dlg;
// The controller to forward to; null makes the actions do nothing.
- (void)setMainDlg:(CInstallerDlg*)dlg;
// The page whose folder chooser dir_button_clicked_handler: opens.
- (void)setDirPage:(DirSelectPage*)page;
// Back, Next and Cancel.
- (void)on_buttonPrev_clicked:(id)sender;
- (void)on_buttonNext_clicked:(id)sender;
- (void)button_clicked_handler:(id)sender;
// "..." on the directory page.
- (void)dir_button_clicked_handler:(id)sender;
@end
