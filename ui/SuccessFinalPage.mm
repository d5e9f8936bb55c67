#include "ui/SuccessFinalPage.h"

#include "text/Languages.h"
#include "ui/ButtonTitleFit.h"
#include "ui/CocoaStrings.h"

SuccessFinalPage::SuccessFinalPage(NSView* parentView, NSImage* image, const stdx::u16string& text)
    : MessagePage(parentView, image, text) {
    m_openDescription = [[NSButton alloc] initWithFrame:NSMakeRect(170, 170, 318, 20)];
    [m_openDescription setButtonType:NSSwitchButton];
    [m_openDescription setState:NSOnState];
    [m_openDescription setTitle:ToNSString(LocalizedString("IDS_SUCCESS_OPENDESCR"))];
    FitButtonTitle(m_openDescription);
    // The success page is never left, so the checkbox need not follow page
    // switches.
    AddFixedControl(m_openDescription);
}

bool SuccessFinalPage::IsOpenDescriptionChecked() const {
    return [m_openDescription state] == NSOnState;
}
