#include "ui/ExtNSButton.h"

#include "app/CInstallerDlg.h"
#include "ui/DirSelectPage.h"

@implementation ExtNSButton

- (id)initWithFrameAndDlg:(NSRect)frame dlg:(CInstallerDlg*)dlg {
    m_mainDlg = dlg;
    m_dirPage = nullptr;
    return [super initWithFrame:frame];
}

- (void)setMainDlg:(CInstallerDlg*)dlg {
    m_mainDlg = dlg;
}

- (void)setDirPage:(DirSelectPage*)page {
    m_dirPage = page;
}

- (void)on_buttonPrev_clicked:(id)sender {
    (void)sender;
    if (m_mainDlg != nullptr) {
        m_mainDlg->OnBack();
    }
}

- (void)on_buttonNext_clicked:(id)sender {
    (void)sender;
    if (m_mainDlg != nullptr) {
        m_mainDlg->OnNext();
    }
}

- (void)button_clicked_handler:(id)sender {
    (void)sender;
    if (m_mainDlg != nullptr) {
        m_mainDlg->OnCancel();
    }
}

- (void)dir_button_clicked_handler:(id)sender {
    (void)sender;
    if (m_dirPage != nullptr) {
        m_dirPage->ChooseFolder();
    }
}

@end
