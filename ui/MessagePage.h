#pragma once

#include "text/String.h"
#include "ui/WizardDialogPage.h"

// The side banner and a text: the welcome page and the error page.
class MessagePage : public WizardDialogPage {
public:
    MessagePage(NSView* parentView, NSImage* image, const stdx::u16string& text);

protected:
    NSImageView* m_imageView;
    NSTextField* m_textField;
};
