#include "app/HeadlessWindowLayer.h"

#include <cstdlib>

#include "app/OpenDocument.h"
#include "text/Encoding.h"

HeadlessWindowLayer::HeadlessWindowLayer(std::FILE* errors)
    : m_errors(errors), m_lastPage(kNoPage) {}

void HeadlessWindowLayer::Attach(WizardActions*) {}

bool HeadlessWindowLayer::HasDisplay() const {
    return false;
}

stdx::string HeadlessWindowLayer::LocaleIdentifier() {
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value == nullptr || value[0] == '\0') {
            continue;
        }
        stdx::string locale(value);
        size_t end = locale.find_first_of(".@");
        if (end != stdx::string::npos) {
            locale = locale.substr(0, end);
        }
        if (locale == stdx::string("C") || locale == stdx::string("POSIX")) {
            return stdx::string();
        }
        return locale;
    }
    return stdx::string();
}

std::uint32_t HeadlessWindowLayer::ShowMessageBox(const stdx::u16string& text,
                                                  std::uint32_t flags) {
    stdx::string line = Utf16ToUtf8(text);
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\n' || line[i] == '\r') {
            line[i] = ' ';
        }
    }
    line += "\n";
    std::fwrite(line.c_str(), 1, line.size(), m_errors);
    std::fflush(m_errors);
    return (flags & 0xFF) == MSG_YESNO ? MSG_RESULT_NO : MSG_RESULT_OK;
}

void HeadlessWindowLayer::CreateWizardWindow(const stdx::string&, int, int) {}

void HeadlessWindowLayer::CloseWindow() {}

void HeadlessWindowLayer::SetButtonEnabled(WizardButton, bool) {}

void HeadlessWindowLayer::SetButtonHidden(WizardButton, bool) {}

void HeadlessWindowLayer::SetButtonCaption(WizardButton, const stdx::u16string&) {}

PageId HeadlessWindowLayer::NewPage() {
    return ++m_lastPage;
}

PageId HeadlessWindowLayer::CreateMessagePage(const stdx::u16string&) {
    return NewPage();
}

PageId HeadlessWindowLayer::CreateSuccessPage(const stdx::u16string&) {
    return NewPage();
}

PageId HeadlessWindowLayer::CreateProgressPage(int) {
    return NewPage();
}

PageId HeadlessWindowLayer::CreateDirSelectPage() {
    return NewPage();
}

void HeadlessWindowLayer::SwitchPage(PageId) {}

void HeadlessWindowLayer::SetPathField(const stdx::u16string& path) {
    m_pathField = path;
}

stdx::u16string HeadlessWindowLayer::GetPathField() {
    return m_pathField;
}

void HeadlessWindowLayer::SetProgress(bool, int) {}

bool HeadlessWindowLayer::IsOpenDescriptionChecked() {
    return false;
}

bool HeadlessWindowLayer::ProcessOneEvent(int timeoutMs) {
    return m_wake.Wait(timeoutMs);
}

void HeadlessWindowLayer::Wake() {
    m_wake.Wake();
}

void HeadlessWindowLayer::RunEventLoop() {}

void HeadlessWindowLayer::OpenDocument(const stdx::string& path) {
    OpenDocumentWithDesktop(path);
}
