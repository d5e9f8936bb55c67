#pragma once

#import <AppKit/AppKit.h>

class DirSelectPage;
class WizardActions;

// A push button that is its own target and forwards its action to the
// controller's actions in m_actions, or, for the directory page's "..."
// button, to that page's folder chooser.
@interface ExtNSButton : NSButton {
    WizardActions* m_actions;
    DirSelectPage* m_dirPage;
}
// Stores actions (may be null) before the inherited initialiser runs.
- (id)initWithFrame:(NSRect)frame actions:(WizardActions*)actions;
// Where to forward to; null makes the actions do nothing.
- (void)setActions:(WizardActions*)actions;
// The page whose folder chooser dir_button_clicked_handler: opens.
- (void)setDirPage:(DirSelectPage*)page;
// Back, Next and Cancel.
- (void)on_buttonPrev_clicked:(id)sender;
- (void)on_buttonNext_clicked:(id)sender;
- (void)button_clicked_handler:(id)sender;
// "..." on the directory page.
- (void)dir_button_clicked_handler:(id)sender;
@end
