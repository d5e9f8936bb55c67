#include "app/CInstallerDlg.h"
#include "app/ProductLookup.h"
#include "text/Languages.h"

void CInstallerDlg::CreateWizardWindow() {
    m_layer->CreateWizardWindow(m_title, m_width, m_height);
    m_windowOpen = true;
}

void CInstallerDlg::SwitchPage(PageId page) {
    m_layer->SwitchPage(page);
}

void CInstallerDlg::SetFinishButtons() {
    m_layer->SetButtonEnabled(WizardButton::Next, true);
    m_layer->SetButtonEnabled(WizardButton::Cancel, false);
    m_layer->SetButtonHidden(WizardButton::Back, true);
    m_layer->SetButtonHidden(WizardButton::Next, false);
    m_layer->SetButtonCaption(WizardButton::Next, LocalizedString("IDS_WIZARD_FINISH"));
}

void CInstallerDlg::ShowWelcomePage() {
    if (m_welcomePage == kNoPage) {
        stdx::u16string product;
        stdx::u16string provider;
        FindProductInfo(m_installData.m_products, m_languageCode, &product, &provider);
        if (product.empty()) {
            product = LocalizedString("IDS_DEFPRODUCT");
        }
        if (provider.empty()) {
            provider = LocalizedString("IDS_DEFPROVIDER");
        }
        stdx::u16string text = LocalizedString("IDS_WELCOME_TITLE");
        text += u" ";
        text += product;
        text += u" (";
        text += provider;
        text += u").";
        m_welcomePage = m_layer->CreateMessagePage(text);
    }
    if (m_silent) {
        m_layer->SetButtonHidden(WizardButton::Back, true);
        m_layer->SetButtonHidden(WizardButton::Next, true);
    } else {
        m_layer->SetButtonEnabled(WizardButton::Back, false);
    }
    m_state = STATE_WELCOME;
    SwitchPage(m_welcomePage);
}

void CInstallerDlg::ShowDirSelectPage() {
    m_state = STATE_SELECT_DIR;
    if (m_dirSelectPage == kNoPage) {
        m_dirSelectPage = m_layer->CreateDirSelectPage();
    }
    // Text typed and then left with Back is replaced by the target again.
    m_layer->SetPathField(m_targetDir);
    m_layer->SetButtonEnabled(WizardButton::Back, true);
    m_layer->SetButtonEnabled(WizardButton::Next, true);
    SwitchPage(m_dirSelectPage);
}
