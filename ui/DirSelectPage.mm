#include "ui/DirSelectPage.h"

#include "text/Encoding.h"
#include "text/Languages.h"
#include "ui/CocoaStrings.h"
#include "ui/ExtNSButton.h"
#include "ui/FolderChooser.h"

DirSelectPage::DirSelectPage(NSView* parentView, NSImage* image, WizardActions* actions)
    : WizardDialogPage(parentView) {
    m_imageView = NewBannerView(image);
    AddControl(m_imageView);
    m_promptField = NewStaticText(NSMakeRect(170, 10, 318, 286),
                                  ToNSString(LocalizedString("IDS_DESTINATION_PROMPT")));
    AddControl(m_promptField);
    m_labelField = NewStaticText(NSMakeRect(170, 255, 320, 20),
                                 ToNSString(LocalizedString("IDS_TEMPLATE_CATALOG")));
    AddControl(m_labelField);

    // The platform's own text field: editable, with its bezel and background.
    m_pathField = [[NSTextField alloc] initWithFrame:NSMakeRect(170, 275, 280, 30)];
    AddControl(m_pathField);

    m_browseButton = [[ExtNSButton alloc] initWithFrame:NSMakeRect(460, 275, 30, 30)
                                                actions:actions];
    [m_browseButton setButtonType:NSMomentaryLightButton];
    [m_browseButton setBezelStyle:NSTexturedRoundedBezelStyle];
    [m_browseButton setTitle:@"..."];
    [m_browseButton setTarget:m_browseButton];
    [m_browseButton setAction:@selector(dir_button_clicked_handler:)];
    [m_browseButton setDirPage:this];
    AddControl(m_browseButton);
}

DirSelectPage::~DirSelectPage() {
    // The button may outlive the page inside the view hierarchy.
    [m_browseButton setDirPage:nullptr];
}

void DirSelectPage::SetPath(const stdx::u16string& path) {
    [m_pathField setStringValue:ToNSString(path)];
}

stdx::u16string DirSelectPage::GetPath() const {
    // Text still being typed lives in the field editor until validated.
    [m_pathField validateEditing];
    return Utf8ToUtf16(FromNSString([m_pathField stringValue]));
}

void DirSelectPage::SetActions(WizardActions* actions) {
    [m_browseButton setActions:actions];
}

void DirSelectPage::ChooseFolder() {
    ChooseFolderInto(m_pathField, [m_parentView window]);
}
