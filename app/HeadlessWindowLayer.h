#pragma once

#include <cstdio>

#include "app/WakePipe.h"
#include "app/WindowLayer.h"

// The window layer of a machine without a window server. Nothing is drawn:
// every message box text goes to the error stream, one line each, and is
// answered at once (OK, or No to a question, so nothing is cancelled by a
// question nobody saw). Waiting for an event waits for a Wake, so the
// progress loop sleeps until the worker has something to show. Only silent
// mode can run on it; it also serves quiet mode and the dry run, which show
// no window even when a display is there.
class HeadlessWindowLayer : public WindowLayer {
public:
    // errors receives the message box texts; it must stay open.
    explicit HeadlessWindowLayer(std::FILE* errors = stderr);

    void Attach(WizardActions* actions) override;
    bool HasDisplay() const override;
    // From the environment, as the C library reads it: "LC_ALL", then
    // "LC_MESSAGES", then "LANG", without the codeset and modifier ("ru_RU"
    // from "ru_RU.UTF-8"). Empty for "C", "POSIX" or nothing set.
    stdx::string LocaleIdentifier() override;
    // Writes the text as one UTF-8 line (line breaks inside become spaces).
    // Returns MSG_RESULT_NO for MSG_YESNO, else MSG_RESULT_OK.
    std::uint32_t ShowMessageBox(const stdx::u16string& text, std::uint32_t flags) override;

    void CreateWizardWindow(const stdx::string& title, int width, int height) override;
    void CloseWindow() override;
    void SetButtonEnabled(WizardButton button, bool enabled) override;
    void SetButtonHidden(WizardButton button, bool hidden) override;
    void SetButtonCaption(WizardButton button, const stdx::u16string& caption) override;
    PageId CreateMessagePage(const stdx::u16string& text) override;
    PageId CreateSuccessPage(const stdx::u16string& text) override;
    PageId CreateProgressPage(int width) override;
    PageId CreateDirSelectPage() override;
    void SwitchPage(PageId page) override;
    void SetPathField(const stdx::u16string& path) override;
    stdx::u16string GetPathField() override;
    void SetProgress(bool finished, int percent) override;
    // False: with nobody to see it, the description is not opened.
    bool IsOpenDescriptionChecked() override;
    // There are never events: sleeps until a Wake or the timeout, whichever
    // comes first, or a signal. True after a Wake.
    bool ProcessOneEvent(int timeoutMs) override;
    void Wake() override;
    // Returns at once: there is no window to wait for.
    void RunEventLoop() override;
    void OpenDocument(const stdx::string& path) override;

private:
    PageId NewPage();

    std::FILE* m_errors;
    WakePipe m_wake;
    PageId m_lastPage;
    stdx::u16string m_pathField;
};
