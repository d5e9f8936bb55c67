#pragma once

#import <AppKit/AppKit.h>

#include <vector>

// A wizard page: controls in the wizard's flipped content view, shown and
// hidden together by the page switch. The page keeps a reference to each of
// its controls, so that it stays usable (if invisible) after the window's
// content has been torn down.
class WizardDialogPage {
public:
    explicit WizardDialogPage(NSView* parentView);
    virtual ~WizardDialogPage();

    WizardDialogPage(const WizardDialogPage&) = delete;
    WizardDialogPage& operator=(const WizardDialogPage&) = delete;

    // Called after the page's controls were shown. Does nothing here.
    virtual void OnShow();

    // Hides or shows every control in m_controls, in creation order.
    void SetControlsHidden(bool hidden);

protected:
    // Adds control (a new object the page takes over) to the parent view and
    // to m_controls.
    void AddControl(NSView* control);
    // Adds control to the parent view only: page switches leave it as it is.
    // The page still releases it.
    void AddFixedControl(NSView* control);

    // A new text that cannot be edited or selected, without border or
    // background, wrapping at its width.
    static NSTextField* NewStaticText(NSRect frame, NSString* text);
    // A new view of the side banner at the page's left edge.
    static NSImageView* NewBannerView(NSImage* image);

    NSView* m_parentView;
    std::vector<NSView*> m_controls;

private:
    std::vector<NSView*> m_fixedControls;
};
