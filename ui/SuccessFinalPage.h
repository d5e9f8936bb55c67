#pragma once

#include "ui/MessagePage.h"

// The success page: a message page with the checkbox that asks to open the
// kit's description document on Finish, checked at first.
class SuccessFinalPage : public MessagePage {
public:
    SuccessFinalPage(NSView* parentView, NSImage* image, const stdx::u16string& text);

    bool IsOpenDescriptionChecked() const;

private:
    NSButton* m_openDescription;
};
