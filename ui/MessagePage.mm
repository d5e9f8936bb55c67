#include "ui/MessagePage.h"

#include "ui/CocoaStrings.h"

MessagePage::MessagePage(NSView* parentView, NSImage* image, const stdx::u16string& text)
    : WizardDialogPage(parentView) {
    m_imageView = NewBannerView(image);
    AddControl(m_imageView);
    m_textField = NewStaticText(NSMakeRect(170, 10, 318, 286), ToNSString(text));
    AddControl(m_textField);
}
