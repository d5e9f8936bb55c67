#include "ui/ExtNSButton.h"

#include "app/WizardActions.h"
#include "ui/DirSelectPage.h"

@implementation ExtNSButton

- (id)initWithFrame:(NSRect)frame actions:(WizardActions*)actions {
    m_actions = actions;
    m_dirPage = nullptr;
    return [super initWithFrame:frame];
}

- (void)setActions:(WizardActions*)actions {
    m_actions = actions;
}

- (void)setDirPage:(DirSelectPage*)page {
    m_dirPage = page;
}

- (void)on_buttonPrev_clicked:(id)sender {
    (void)sender;
    if (m_actions != nullptr) {
        m_actions->OnBack();
    }
}

- (void)on_buttonNext_clicked:(id)sender {
    (void)sender;
    if (m_actions != nullptr) {
        m_actions->OnNext();
    }
}

- (void)button_clicked_handler:(id)sender {
    (void)sender;
    if (m_actions != nullptr) {
        m_actions->OnCancel();
    }
}

- (void)dir_button_clicked_handler:(id)sender {
    (void)sender;
    if (m_dirPage != nullptr) {
        m_dirPage->ChooseFolder();
    }
}

@end
