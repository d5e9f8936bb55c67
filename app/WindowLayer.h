#pragma once

#include <cstdint>

#include "app/WizardActions.h"
#include "text/String.h"

// Flags of ShowMessageBox: buttons in the low 8 bits, style in the high 8.
constexpr std::uint32_t MSG_OK = 0x00000001;
constexpr std::uint32_t MSG_YESNO = 0x00000002;
constexpr std::uint32_t MSG_STYLE_CRITICAL = 0x01000000;
constexpr std::uint32_t MSG_STYLE_WARNING = 0x02000000;
// The informational style (no warning or error icon); any style bits other
// than the two above give it too.
constexpr std::uint32_t MSG_STYLE_INFORMATION = 0x04000000;

// Results of ShowMessageBox.
constexpr std::uint32_t MSG_RESULT_NONE = 0;
constexpr std::uint32_t MSG_RESULT_YES = 1;
constexpr std::uint32_t MSG_RESULT_NO = 2;
constexpr std::uint32_t MSG_RESULT_OK = 3;

enum class WizardButton { Back, Next, Cancel };

// A wizard page made by the window layer; 0 is no page.
using PageId = int;
constexpr PageId kNoPage = 0;

// Everything the controller needs from the windowing system. The controller
// holds the logic; an implementation only draws and reports clicks and keys.
// Implementations: the Cocoa wizard (ui/), a headless one for machines
// without a display, and a recording fake in the tests.
//
// Every call but Wake is made on the main thread. The layer reports user
// actions through the attached WizardActions: OnBack, OnNext and OnCancel
// for the three buttons, ConfirmCancel for the Esc key, and OnCloseRequest
// when the user closes the window from its title bar. While its event loop
// (or a modal alert) runs, it also looks for a pending termination signal
// (SignalWatcher) at least ten times a second: a modal alert or chooser
// then ends with no answer, and outside one OnTerminationSignal is called.
class WindowLayer {
public:
    virtual ~WindowLayer() = default;

    // The controller that receives the user's actions; set once, before the
    // first message box. The controller calls Attach(nullptr) when it is
    // destroyed; no action may reach it after that.
    virtual void Attach(WizardActions* actions) = 0;

    // False when no window server can be reached: windows are not shown,
    // message box texts go to standard error.
    virtual bool HasDisplay() const = 0;

    // The user's locale, such as "ru_RU"; empty when unknown.
    virtual stdx::string LocaleIdentifier() = 0;

    // A modal alert; returns one of the MSG_RESULT_ values after the user
    // answered. The alert's title is the attached controller's GetTitle.
    virtual std::uint32_t ShowMessageBox(const stdx::u16string& text, std::uint32_t flags) = 0;

    // The fixed-size wizard window with its separator, the Back, Next and
    // Cancel buttons captioned in the current language, and the side banner.
    // It is shown at once.
    virtual void CreateWizardWindow(const stdx::string& title, int width, int height) = 0;
    // Removes the content and closes the window; the event loop then ends.
    virtual void CloseWindow() = 0;

    virtual void SetButtonEnabled(WizardButton button, bool enabled) = 0;
    virtual void SetButtonHidden(WizardButton button, bool hidden) = 0;
    virtual void SetButtonCaption(WizardButton button, const stdx::u16string& caption) = 0;

    // Pages are created hidden-or-shown as the platform does and made
    // visible by the SwitchPage that follows.
    // Banner and text (welcome and error pages).
    virtual PageId CreateMessagePage(const stdx::u16string& text) = 0;
    // A message page with the checked "open description" checkbox.
    virtual PageId CreateSuccessPage(const stdx::u16string& text) = 0;
    // Status line and progress bar, width points wide.
    virtual PageId CreateProgressPage(int width) = 0;
    // Prompt, path field and folder chooser button.
    virtual PageId CreateDirSelectPage() = 0;
    // Hides the controls of the current page and shows those of page.
    virtual void SwitchPage(PageId page) = 0;

    virtual void SetPathField(const stdx::u16string& path) = 0;
    virtual stdx::u16string GetPathField() = 0;
    // The progress page: the finish text when finished, else the start
    // text; the bar at percent (0 to 100).
    virtual void SetProgress(bool finished, int percent) = 0;
    virtual bool IsOpenDescriptionChecked() = 0;

    // Waits at most timeoutMs for one event and dispatches it (a click may
    // call back into the controller); a Wake ends the wait too. True when an
    // event was dispatched or a Wake ended the wait.
    virtual bool ProcessOneEvent(int timeoutMs) = 0;
    // Ends the wait for an event in progress at once or, when none is on,
    // the next one (ProcessOneEvent then returns true at once); wakes that
    // come before a wait merge into one. The one call that may come from
    // any thread, at any time while the layer exists, with or without an
    // attached controller.
    virtual void Wake() = 0;
    // The application's event loop; returns when the window has closed.
    virtual void RunEventLoop() = 0;

    // Opens a document with the desktop's default application, without a
    // shell.
    virtual void OpenDocument(const stdx::string& path) = 0;
};
