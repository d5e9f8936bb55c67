#pragma once

#include "text/String.h"
#include "ui/WizardDialogPage.h"

@class ExtNSButton;
class WizardActions;

// The directory page: a prompt, the editable path of the template directory
// and a "..." button that chooses a folder into the path field.
class DirSelectPage : public WizardDialogPage {
public:
    // actions go to the "..." button; they may be null.
    DirSelectPage(NSView* parentView, NSImage* image, WizardActions* actions);
    ~DirSelectPage() override;

    void SetPath(const stdx::u16string& path);
    stdx::u16string GetPath() const;
    // Where to report to, or null.
    void SetActions(WizardActions* actions);
    // Lets the user choose a folder; a chosen folder's full path replaces the
    // field's text, a cancelled choice leaves it as it is.
    void ChooseFolder();

private:
    NSImageView* m_imageView;
    NSTextField* m_promptField;
    NSTextField* m_labelField;
    NSTextField* m_pathField;
    ExtNSButton* m_browseButton;
};
