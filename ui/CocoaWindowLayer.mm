#include "ui/CocoaWindowLayer.h"

#import <AppKit/AppKit.h>

#include <memory>
#include <vector>

#include "app/OpenDocument.h"
#include "app/ScopedEnvironmentVariable.h"
#include "app/SignalWatcher.h"
#include "app/WakePipe.h"
#include "text/Languages.h"
#include "ui/ButtonTitleFit.h"
#include "ui/CocoaImages.h"
#include "ui/CocoaStrings.h"
#include "ui/DirSelectPage.h"
#include "ui/EmbeddedImages.h"
#include "ui/EventLoopWake.h"
#include "ui/ExtNSApplication.h"
#include "ui/ExtNSApplicationDelegate.h"
#include "ui/ExtNSButton.h"
#include "ui/ExtNSWindow.h"
#include "ui/FlippedNSView.h"
#include "ui/InterfaceFont.h"
#include "ui/MessagePage.h"
#include "ui/ProgressPage.h"
#include "ui/ShowMessageBox.h"
#include "ui/SuccessFinalPage.h"
#include "ui/WindowServer.h"

namespace {

// Below the pages: a separator line, then the buttons along the bottom edge,
// right-aligned with the gap before Cancel.
constexpr CGFloat kMargin = 10;
constexpr CGFloat kSeparatorFromBottom = 50;
constexpr CGFloat kSeparatorHeight = 5;
constexpr CGFloat kButtonFromBottom = 40;
constexpr CGFloat kButtonWidth = 80;
constexpr CGFloat kButtonHeight = 30;
constexpr CGFloat kBackFromRight = 270;
constexpr CGFloat kNextFromRight = 190;
constexpr CGFloat kCancelFromRight = 90;

class CocoaWindowLayer final : public WindowLayer {
public:
    CocoaWindowLayer();
    ~CocoaWindowLayer() override;

    void Attach(WizardActions* actions) override;
    bool HasDisplay() const override { return true; }
    stdx::string LocaleIdentifier() override;
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
    bool IsOpenDescriptionChecked() override;

    bool ProcessOneEvent(int timeoutMs) override;
    void Wake() override { m_wake.Wake(); }
    void RunEventLoop() override;

    void OpenDocument(const stdx::string& path) override;

private:
    void StartApplication();
    void CreateFrameWindow(const stdx::string& title, int width, int height);
    ExtNSButton* NewButton(NSRect frame, const char* captionKey, SEL action);
    ExtNSButton* Button(WizardButton button) const;
    PageId AddPage(WizardDialogPage* page);
    WizardDialogPage* Page(PageId page) const;

    ExtNSApplicationDelegate* m_delegate = nil;
    WizardActions* m_actions = nullptr;
    ExtNSWindow* m_window = nil;
    FlippedNSView* m_contentView = nil;
    NSImage* m_wizardImage = nil;
    ExtNSButton* m_backButton = nil;
    ExtNSButton* m_nextButton = nil;
    ExtNSButton* m_cancelButton = nil;
    bool m_windowClosed = false;

    // Page ids are indexes into m_pages plus one.
    std::vector<std::unique_ptr<WizardDialogPage>> m_pages;
    WizardDialogPage* m_currentPage = nullptr;
    DirSelectPage* m_dirSelectPage = nullptr;
    ProgressPage* m_progressPage = nullptr;
    SuccessFinalPage* m_successPage = nullptr;

    WakePipe m_wake;
    // Null until the application has started, or when the pipe could not be
    // made: ProcessOneEvent then waits out its timeout.
    EventLoopWake* m_wakeWatch = nil;
};

CocoaWindowLayer::CocoaWindowLayer() {
    // The outermost pool lives as long as the process; the event loops
    // drain their own pools.
    (void)[[NSAutoreleasePool alloc] init];
}

void CocoaWindowLayer::StartApplication() {
    if (m_delegate != nil) {
        return;
    }
    // Started on first use rather than with the layer: the toolkit takes its
    // fonts when the application starts, and the face depends on the
    // language, which start-up chooses from this layer's locale.
    UseInterfaceFontFor(CurrentLanguage());
    {
#if defined(GNUSTEP)
        // The application object asks the image library that the toolkit
        // links for the formats it reads, and that library loads every one
        // of its more than a hundred format modules to answer, with the
        // codecs they link: some 8 MiB. The layer's pictures are PNG, read
        // by the toolkit itself, and a BMP decoded here, so the library
        // needs none of them. A directory under /dev/null can never exist,
        // so no module is found and none can be planted there. The first
        // message box or the wizard window starts the application, before
        // any run: no other thread reads the environment yet.
        const ScopedEnvironmentVariable noImageModules("MAGICK_CODER_MODULE_PATH", "/dev/null");
#endif
        [ExtNSApplication sharedApplication];
    }
    m_delegate = [[ExtNSApplicationDelegate alloc] init];
    if (m_wake.ReadFd() >= 0) {
        m_wakeWatch = [[EventLoopWake alloc] initWithPipe:&m_wake];
    }
    // The controller may have been attached before the application started.
    [m_delegate setActions:m_actions];
    [NSApp setDelegate:m_delegate];
#if defined(__APPLE__)
    // GNUstep has no activation policy; its applications are regular ones.
    [NSApp setActivationPolicy:NSApplicationActivationPolicyRegular];
#endif
#if defined(GNUSTEP)
    // GNUstep reads no keys before the application has finished launching,
    // which -run would do only later: start-up errors and silent mode show
    // their message boxes before it.
    [NSApp finishLaunching];
#endif
    [NSApp activateIgnoringOtherApps:YES];
    [m_delegate startWatching];
    // After the toolkit's own set-up, which may install handlers of its
    // own: for the X connection, and for SIGTERM, which would end the
    // process without the rollback of a run.
    WatchForLostDisplay();
    SignalWatcher::Reassert();
}

CocoaWindowLayer::~CocoaWindowLayer() {
    Attach(nullptr);
    [m_wakeWatch stop];
    [m_wakeWatch release];
    [m_delegate stopWatching];
    CloseWindow();
    m_currentPage = nullptr;
    m_pages.clear();
    [m_backButton release];
    [m_nextButton release];
    [m_cancelButton release];
    [m_wizardImage release];
    [m_window release];
    [NSApp setDelegate:nil];
    [m_delegate release];
}

void CocoaWindowLayer::Attach(WizardActions* actions) {
    m_actions = actions;
    [m_delegate setActions:actions];
    SetLostDisplayController(actions);
    [m_window setActions:actions];
    [m_backButton setActions:actions];
    [m_nextButton setActions:actions];
    [m_cancelButton setActions:actions];
    if (m_dirSelectPage != nullptr) {
        m_dirSelectPage->SetActions(actions);
    }
}

stdx::string CocoaWindowLayer::LocaleIdentifier() {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    stdx::string identifier = FromNSString([[NSLocale currentLocale] localeIdentifier]);
    [pool release];
    return identifier;
}

std::uint32_t CocoaWindowLayer::ShowMessageBox(const stdx::u16string& text, std::uint32_t flags) {
    StartApplication();
    return ::ShowMessageBox(m_actions, text, flags);
}

void CocoaWindowLayer::CreateFrameWindow(const stdx::string& title, int width, int height) {
    m_window = [[ExtNSWindow alloc] initWithContentRect:NSMakeRect(0, 0, width, height)
                                              styleMask:NSTitledWindowMask | NSClosableWindowMask
                                                backing:NSBackingStoreBuffered
                                                  defer:NO
                                                actions:m_actions];
    // The layer keeps the window until it is destroyed itself, so calls that
    // come after the close find a valid object.
    [m_window setReleasedWhenClosed:NO];
    [m_window setLayer:this];
    [m_window center];
    [m_window setTitle:ToNSString(title)];
    [m_window setBackgroundColor:[NSColor colorWithCalibratedRed:1 green:1 blue:1 alpha:1]];
    m_contentView = [[FlippedNSView alloc] initWithFrame:[[m_window contentView] frame]];
    [[m_window contentView] addSubview:m_contentView];
}

ExtNSButton* CocoaWindowLayer::NewButton(NSRect frame, const char* captionKey, SEL action) {
    ExtNSButton* button = [[ExtNSButton alloc] initWithFrame:frame actions:m_actions];
    [button setTitle:ToNSString(LocalizedString(captionKey))];
    [button setButtonType:NSMomentaryLightButton];
    [button setBezelStyle:NSRoundedBezelStyle];
    [button setTarget:button];
    [button setAction:action];
    [m_contentView addSubview:button];
    FitButtonTitle(button);
    return button;
}

void CocoaWindowLayer::CreateWizardWindow(const stdx::string& title, int width, int height) {
    if (m_window != nil) {
        return;
    }
    StartApplication();
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    CreateFrameWindow(title, width, height);

    NSBox* separator = [[[NSBox alloc]
        initWithFrame:NSMakeRect(kMargin, height - kSeparatorFromBottom, width - 2 * kMargin,
                                 kSeparatorHeight)] autorelease];
    [separator setBoxType:NSBoxSeparator];
    [m_contentView addSubview:separator];

    const CGFloat buttonTop = height - kButtonFromBottom;
    m_backButton =
        NewButton(NSMakeRect(width - kBackFromRight, buttonTop, kButtonWidth, kButtonHeight),
                  "IDS_WIZARD_BACK", @selector(on_buttonPrev_clicked:));
    m_nextButton =
        NewButton(NSMakeRect(width - kNextFromRight, buttonTop, kButtonWidth, kButtonHeight),
                  "IDS_WIZARD_NEXT", @selector(on_buttonNext_clicked:));
    m_cancelButton =
        NewButton(NSMakeRect(width - kCancelFromRight, buttonTop, kButtonWidth, kButtonHeight),
                  "IDS_WIZARD_CANCEL", @selector(button_clicked_handler:));

    m_wizardImage = [ImageFromBytes(WizardBannerBmp) retain];
    [m_window makeKeyAndOrderFront:nil];
    [pool release];
}

void CocoaWindowLayer::CloseWindow() {
    if (m_window == nil || m_windowClosed) {
        return;
    }
    m_windowClosed = true;
    [m_contentView removeFromSuperview];
    [m_contentView release];
    m_contentView = nil;
    [m_window close];
    StopApplicationEventLoop();
}

ExtNSButton* CocoaWindowLayer::Button(WizardButton button) const {
    switch (button) {
        case WizardButton::Back:
            return m_backButton;
        case WizardButton::Next:
            return m_nextButton;
        case WizardButton::Cancel:
            return m_cancelButton;
    }
    return nil;
}

void CocoaWindowLayer::SetButtonEnabled(WizardButton button, bool enabled) {
    ExtNSButton* target = Button(button);
    if (!enabled) {
        // A button disabled from its own action (Next starting the run) would
        // stay drawn pressed while the run keeps the action from returning.
        [target highlight:NO];
    }
    [target setEnabled:enabled ? YES : NO];
}

void CocoaWindowLayer::SetButtonHidden(WizardButton button, bool hidden) {
    [Button(button) setHidden:hidden ? YES : NO];
}

void CocoaWindowLayer::SetButtonCaption(WizardButton button, const stdx::u16string& caption) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    ExtNSButton* target = Button(button);
    [target setTitle:ToNSString(caption)];
    if (target != nil) {
        FitButtonTitle(target);
    }
    [pool release];
}

PageId CocoaWindowLayer::AddPage(WizardDialogPage* page) {
    m_pages.emplace_back(page);
    return static_cast<PageId>(m_pages.size());
}

WizardDialogPage* CocoaWindowLayer::Page(PageId page) const {
    if (page <= 0 || static_cast<std::size_t>(page) > m_pages.size()) {
        return nullptr;
    }
    return m_pages[static_cast<std::size_t>(page) - 1].get();
}

PageId CocoaWindowLayer::CreateMessagePage(const stdx::u16string& text) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    const PageId id = AddPage(new MessagePage(m_contentView, m_wizardImage, text));
    [pool release];
    return id;
}

PageId CocoaWindowLayer::CreateSuccessPage(const stdx::u16string& text) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    m_successPage = new SuccessFinalPage(m_contentView, m_wizardImage, text);
    const PageId id = AddPage(m_successPage);
    [pool release];
    return id;
}

PageId CocoaWindowLayer::CreateProgressPage(int width) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    m_progressPage = new ProgressPage(m_contentView, width);
    const PageId id = AddPage(m_progressPage);
    [pool release];
    return id;
}

PageId CocoaWindowLayer::CreateDirSelectPage() {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    m_dirSelectPage = new DirSelectPage(m_contentView, m_wizardImage, m_actions);
    const PageId id = AddPage(m_dirSelectPage);
    [pool release];
    return id;
}

void CocoaWindowLayer::SwitchPage(PageId page) {
    if (m_currentPage != nullptr) {
        m_currentPage->SetControlsHidden(true);
    }
    m_currentPage = Page(page);
    if (m_currentPage != nullptr) {
        m_currentPage->SetControlsHidden(false);
        m_currentPage->OnShow();
    }
}

void CocoaWindowLayer::SetPathField(const stdx::u16string& path) {
    if (m_dirSelectPage != nullptr) {
        NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
        m_dirSelectPage->SetPath(path);
        [pool release];
    }
}

stdx::u16string CocoaWindowLayer::GetPathField() {
    if (m_dirSelectPage == nullptr) {
        return stdx::u16string();
    }
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    stdx::u16string path = m_dirSelectPage->GetPath();
    [pool release];
    return path;
}

void CocoaWindowLayer::SetProgress(bool finished, int percent) {
    if (m_progressPage != nullptr) {
        NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
        m_progressPage->Update(finished, percent);
        [pool release];
    }
}

bool CocoaWindowLayer::IsOpenDescriptionChecked() {
    return m_successPage != nullptr && m_successPage->IsOpenDescriptionChecked();
}

bool CocoaWindowLayer::ProcessOneEvent(int timeoutMs) {
    StartApplication();
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    NSDate* until = timeoutMs > 0 ? [NSDate dateWithTimeIntervalSinceNow:timeoutMs / 1000.0]
                                  : [NSDate distantPast];
    NSEvent* event = [NSApp nextEventMatchingMask:NSAnyEventMask
                                        untilDate:until
                                           inMode:NSDefaultRunLoopMode
                                          dequeue:YES];
    const bool dispatched = event != nil;
    if (dispatched) {
        [NSApp sendEvent:event];
    }
    [pool release];
    return dispatched;
}

void CocoaWindowLayer::RunEventLoop() {
    // A loop started after the close would wait for ever.
    if (m_window == nil || m_windowClosed) {
        return;
    }
    [NSApp run];
}

void CocoaWindowLayer::OpenDocument(const stdx::string& path) {
    OpenDocumentWithDesktop(path);
}

}  // namespace

std::unique_ptr<WindowLayer> CreateCocoaWindowLayer() {
    if (!CanReachWindowServer()) {
        return nullptr;
    }
    return std::make_unique<CocoaWindowLayer>();
}
