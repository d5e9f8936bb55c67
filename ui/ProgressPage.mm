#include "ui/ProgressPage.h"

#include <algorithm>

#include "text/Encoding.h"
#include "text/Languages.h"
#include "ui/CocoaStrings.h"

ProgressPage::ProgressPage(NSView* parentView, int width)
    : WizardDialogPage(parentView),
      m_startText(Utf16ToUtf8(LocalizedString("IDS_PROGRESS_START"))),
      m_finishText(Utf16ToUtf8(LocalizedString("IDS_INSTALL_FINISH"))) {
    m_statusLabel = NewStaticText(NSMakeRect(10, 130, width, 20), ToNSString(m_startText));
    AddControl(m_statusLabel);
    m_progressBar = [[NSProgressIndicator alloc] initWithFrame:NSMakeRect(10, 150, width, 20)];
    [m_progressBar setIndeterminate:NO];
    [m_progressBar setMinValue:0];
    [m_progressBar setMaxValue:100];
    [m_progressBar setDoubleValue:0];
    AddControl(m_progressBar);
}

void ProgressPage::Update(bool finished, int percent) {
    NSString* text = ToNSString(finished ? m_finishText : m_startText);
    // Setting an equal value would still redraw the label on every pass.
    if (![[m_statusLabel stringValue] isEqualToString:text]) {
        [m_statusLabel setStringValue:text];
    }
    const double value = std::clamp(percent, 0, 100);
    if ([m_progressBar doubleValue] != value) {
        [m_progressBar setDoubleValue:value];
    }
}
