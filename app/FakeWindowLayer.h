#pragma once

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/CInstallerDlg.h"
#include "app/SignalWatcher.h"
#include "app/WakePipe.h"
#include "app/WindowLayer.h"
#include "text/Encoding.h"

// A window layer for the tests: it records what the controller shows and
// plays a script of the user's actions (clicks, Esc, the close box, typing)
// and of the answers to message boxes.
//
// A scripted action waits until it could happen on a real screen: a click
// waits until its button is shown and enabled, so a "Finish" queued behind a
// "Next" that starts a run waits out the run. The nested progress loop plays
// the script through ProcessOneEvent, the outer session through RunEventLoop.
class FakeWindowLayer : public WindowLayer {
public:
    enum class PageKind { Message, Success, Progress, DirSelect };

    struct Page {
        PageKind kind;
        stdx::u16string text;
    };

    struct MessageBox {
        std::string text;  // UTF-8, for readable assertions
        std::uint32_t flags;
        int state;  // the controller's state when it was shown
    };

    struct Button {
        bool enabled = true;
        bool hidden = false;
        std::string caption;
    };

    // Configuration.
    bool hasDisplay = true;
    stdx::string locale = "en_US";
    // Answers to the coming message boxes, in order. When none is left, an OK
    // box gets MSG_RESULT_OK and a question MSG_RESULT_NO.
    std::deque<std::uint32_t> answers;
    // Called when a message box is shown, before it is answered.
    std::function<void(const MessageBox&)> onMessageBox;
    // Milliseconds ProcessOneEvent really sleeps when no action is due (at
    // most the timeout it is given); a Wake ends the sleep.
    int idleSleepMs = 5;

    // What was recorded. The script acts through actions, as a real layer
    // does; dlg is the controller behind them, for the tests' own calls and
    // for the state recorded with each message box.
    WizardActions* actions = nullptr;
    CInstallerDlg* dlg = nullptr;
    int attachCount = 0;
    std::vector<MessageBox> messageBoxes;
    bool windowCreated = false;
    bool windowOpen = false;
    std::string windowTitle;
    int windowWidth = 0;
    int windowHeight = 0;
    int closeCount = 0;
    std::map<PageId, Page> pages;
    PageId currentPage = kNoPage;
    std::vector<PageId> switches;
    stdx::u16string pathField;
    bool openDescriptionChecked = true;
    int progressWidth = 0;
    std::vector<int> percents;
    bool lastFinished = false;
    int processEventCalls = 0;
    // Calls of Wake, from whichever thread.
    std::atomic<int> wakes{0};
    int maxTimeoutMs = 0;
    int minTimeoutMs = 1 << 30;
    std::vector<std::string> openedDocuments;
    // The outer loop found the next action impossible and gave up.
    bool eventLoopStalled = false;

    Button& button(WizardButton b) { return m_buttons[static_cast<int>(b)]; }

    // The script.
    void Click(WizardButton b) {
        Queue([this, b] { return windowOpen && button(b).enabled && !button(b).hidden; },
              [this, b] {
                  if (b == WizardButton::Back) {
                      actions->OnBack();
                  } else if (b == WizardButton::Next) {
                      actions->OnNext();
                  } else {
                      actions->OnCancel();
                  }
              });
    }
    // Actions during a run wait until the progress page is shown and the
    // bar has reached minPercent, so that they land while the worker is at
    // work.
    void ClickDuringRun(WizardButton b, int minPercent = 1) {
        Queue([this, b, minPercent] { return RunReached(minPercent) && button(b).enabled; },
              [this, b] {
                  if (b == WizardButton::Cancel) {
                      actions->OnCancel();
                  } else if (b == WizardButton::Next) {
                      actions->OnNext();
                  } else {
                      actions->OnBack();
                  }
              });
    }
    void PressEsc() {
        Queue([this] { return windowOpen; }, [this] { actions->ConfirmCancel(); });
    }
    void PressEscDuringRun(int minPercent = 1) {
        Queue([this, minPercent] { return RunReached(minPercent); },
              [this] { actions->ConfirmCancel(); });
    }
    void PressCloseBoxDuringRun(int minPercent = 1) {
        Queue([this, minPercent] { return RunReached(minPercent); },
              [this] {
                  closeBoxResults.push_back(actions->OnCloseRequest());
                  if (closeBoxResults.back()) {
                      CloseWindow();
                  }
              });
    }
    // Any step of the test's own while the run is at work (a real signal,
    // a lost display).
    void DuringRun(std::function<void()> step, int minPercent = 1) {
        Queue([this, minPercent] { return RunReached(minPercent); }, std::move(step));
    }
    // A real signal to the process while the window is open (the signal
    // unit must be installed).
    void Raise(int number) {
        Queue([this] { return windowOpen; }, [number] { raise(number); });
    }
    void TypePath(const stdx::u16string& path) {
        Queue([this] { return windowOpen && CurrentKind() == PageKind::DirSelect; },
              [this, path] { pathField = path; });
    }
    void UncheckOpenDescription() {
        Queue([this] { return windowOpen && CurrentKind() == PageKind::Success; },
              [this] { openDescriptionChecked = false; });
    }
    std::vector<bool> closeBoxResults;
    bool RunReached(int minPercent) const {
        return windowOpen && CurrentKind() == PageKind::Progress && !percents.empty() &&
               percents.back() >= minPercent;
    }
    size_t PendingActions() const { return m_script.size(); }

    // Inspection.
    PageKind CurrentKind() const {
        auto page = pages.find(currentPage);
        return page == pages.end() ? PageKind::Message : page->second.kind;
    }
    std::string CurrentText() const {
        auto page = pages.find(currentPage);
        return page == pages.end() ? std::string() : Utf8(page->second.text);
    }
    static std::string Utf8(const stdx::u16string& text) {
        stdx::string utf8 = Utf16ToUtf8(text);
        return std::string(utf8.c_str(), utf8.size());
    }

    // WindowLayer.
    void Attach(WizardActions* attached) override {
        actions = attached;
        dlg = dynamic_cast<CInstallerDlg*>(attached);
        ++attachCount;
    }
    bool HasDisplay() const override { return hasDisplay; }
    stdx::string LocaleIdentifier() override { return locale; }
    std::uint32_t ShowMessageBox(const stdx::u16string& text, std::uint32_t flags) override {
        MessageBox box{Utf8(text), flags, dlg ? dlg->GetState() : -1};
        messageBoxes.push_back(box);
        if (onMessageBox) {
            onMessageBox(box);
        }
        if (!answers.empty()) {
            std::uint32_t answer = answers.front();
            answers.pop_front();
            return answer;
        }
        return (flags & 0xFF) == MSG_YESNO ? MSG_RESULT_NO : MSG_RESULT_OK;
    }
    void CreateWizardWindow(const stdx::string& title, int width, int height) override {
        windowCreated = true;
        windowOpen = true;
        windowTitle = std::string(title.c_str(), title.size());
        windowWidth = width;
        windowHeight = height;
        button(WizardButton::Back).caption = "< Back";
        button(WizardButton::Next).caption = "Next >";
        button(WizardButton::Cancel).caption = "Cancel";
    }
    void CloseWindow() override {
        ++closeCount;
        windowOpen = false;
    }
    void SetButtonEnabled(WizardButton b, bool enabled) override { button(b).enabled = enabled; }
    void SetButtonHidden(WizardButton b, bool hidden) override { button(b).hidden = hidden; }
    void SetButtonCaption(WizardButton b, const stdx::u16string& caption) override {
        button(b).caption = Utf8(caption);
    }
    PageId CreateMessagePage(const stdx::u16string& text) override {
        return AddPage(PageKind::Message, text);
    }
    PageId CreateSuccessPage(const stdx::u16string& text) override {
        return AddPage(PageKind::Success, text);
    }
    PageId CreateProgressPage(int width) override {
        progressWidth = width;
        return AddPage(PageKind::Progress, stdx::u16string());
    }
    PageId CreateDirSelectPage() override { return AddPage(PageKind::DirSelect, {}); }
    void SwitchPage(PageId page) override {
        currentPage = page;
        switches.push_back(page);
    }
    void SetPathField(const stdx::u16string& path) override { pathField = path; }
    stdx::u16string GetPathField() override { return pathField; }
    void SetProgress(bool finished, int percent) override {
        lastFinished = finished;
        if (percents.empty() || percents.back() != percent) {
            percents.push_back(percent);
        }
    }
    bool IsOpenDescriptionChecked() override { return openDescriptionChecked; }
    bool ProcessOneEvent(int timeoutMs) override {
        ++processEventCalls;
        maxTimeoutMs = std::max(maxTimeoutMs, timeoutMs);
        minTimeoutMs = std::min(minTimeoutMs, timeoutMs);
        if (RunNextIfReady()) {
            return true;
        }
        return m_wake.Wait(std::min(idleSleepMs, timeoutMs));
    }
    void Wake() override {
        ++wakes;
        m_wake.Wake();
    }
    // Like the Cocoa layer's loop, it hands a pending termination signal to
    // the controller before anything else.
    void RunEventLoop() override {
        while (windowOpen && (!m_script.empty() || SignalWatcher::Pending() != 0)) {
            if (SignalWatcher::Pending() != 0) {
                actions->OnTerminationSignal();
                // Outside a run the controller must close the window.
                eventLoopStalled = windowOpen;
                return;
            }
            if (!RunNextIfReady()) {
                eventLoopStalled = true;
                return;
            }
        }
    }
    void OpenDocument(const stdx::string& path) override {
        openedDocuments.emplace_back(path.c_str(), path.size());
    }

private:
    struct Action {
        std::function<bool()> ready;
        std::function<void()> run;
    };

    void Queue(std::function<bool()> ready, std::function<void()> run) {
        m_script.push_back(Action{std::move(ready), std::move(run)});
    }
    bool RunNextIfReady() {
        if (m_script.empty() || !m_script.front().ready()) {
            return false;
        }
        Action action = std::move(m_script.front());
        m_script.pop_front();
        action.run();
        return true;
    }
    PageId AddPage(PageKind kind, const stdx::u16string& text) {
        PageId id = static_cast<PageId>(pages.size()) + 1;
        pages[id] = Page{kind, text};
        return id;
    }

    Button m_buttons[3];
    std::deque<Action> m_script;
    WakePipe m_wake;
};
