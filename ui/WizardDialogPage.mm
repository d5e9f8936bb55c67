#include "ui/WizardDialogPage.h"

namespace {

// The banner column: the banner picture's own size.
constexpr CGFloat kBannerWidth = 158;
constexpr CGFloat kBannerHeight = 286;

}  // namespace

WizardDialogPage::WizardDialogPage(NSView* parentView) : m_parentView([parentView retain]) {}

WizardDialogPage::~WizardDialogPage() {
    for (NSView* control : m_controls) {
        [control release];
    }
    for (NSView* control : m_fixedControls) {
        [control release];
    }
    [m_parentView release];
}

void WizardDialogPage::OnShow() {}

void WizardDialogPage::SetControlsHidden(bool hidden) {
    for (NSView* control : m_controls) {
        [control setHidden:hidden ? YES : NO];
    }
}

void WizardDialogPage::AddControl(NSView* control) {
    [m_parentView addSubview:control];
    m_controls.push_back(control);
}

void WizardDialogPage::AddFixedControl(NSView* control) {
    [m_parentView addSubview:control];
    m_fixedControls.push_back(control);
}

NSTextField* WizardDialogPage::NewStaticText(NSRect frame, NSString* text) {
    NSTextField* field = [[NSTextField alloc] initWithFrame:frame];
    [field setEditable:NO];
    [field setSelectable:NO];
    [field setBezeled:NO];
    [field setBordered:NO];
    [field setDrawsBackground:NO];
    [[field cell] setWraps:YES];
    [[field cell] setLineBreakMode:NSLineBreakByWordWrapping];
    [field setStringValue:text];
    return field;
}

NSImageView* WizardDialogPage::NewBannerView(NSImage* image) {
    NSImageView* view =
        [[NSImageView alloc] initWithFrame:NSMakeRect(0, 0, kBannerWidth, kBannerHeight)];
    [view setImageScaling:NSImageScaleProportionallyUpOrDown];
    [view setImageAlignment:NSImageAlignCenter];
    [view setImage:image];
    return view;
}
