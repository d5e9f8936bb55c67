#include "ui/ShowMessageBox.h"

#import <AppKit/AppKit.h>

#include "app/WizardActions.h"
#include "ui/CocoaImages.h"
#include "ui/CocoaStrings.h"
#include "ui/EmbeddedImages.h"
#include "ui/ExtNSWindowDelegate.h"
#include "ui/PanelCloseBox.h"

// Gives the alert's window its title and delegate. AppKit makes that window
// with the alert; GNUstep makes a new one each time runModal starts, so there
// the settings are applied from the modal loop's first pass.
@interface AlertWindowSetup : NSObject {
    NSAlert* m_alert;
    NSString* m_title;
    ExtNSWindowDelegate* m_delegate;
}
// title may be nil (the platform's title stays).
- (id)initWithAlert:(NSAlert*)alert title:(NSString*)title;
- (void)apply;
// Removes the delegate from the window before the delegate goes away.
- (void)detach;
@end

@implementation AlertWindowSetup

- (id)initWithAlert:(NSAlert*)alert title:(NSString*)title {
    self = [super init];
    if (self != nil) {
        m_alert = alert;
        m_title = [title copy];
        m_delegate = [[ExtNSWindowDelegate alloc] init];
    }
    return self;
}

- (void)dealloc {
    [m_title release];
    [m_delegate release];
    [super dealloc];
}

- (void)apply {
    NSWindow* window = [m_alert window];
#if defined(__APPLE__)
    [window setStyleMask:NSTitledWindowMask | NSClosableWindowMask];
#else
    // GNUstep cannot change a window's style after creation; its alert
    // panels have a title bar and no close box, so the window manager's
    // close is taken here (PanelCloseBox.h).
    AcceptCloseRequests(window);
#endif
    [window setDelegate:m_delegate];
    if (m_title != nil) {
        [window setTitle:m_title];
    }
}

- (void)detach {
    if ([[m_alert window] delegate] == m_delegate) {
        [[m_alert window] setDelegate:nil];
    }
}

@end

namespace {

constexpr std::uint32_t kButtonMask = 0x000000ff;
constexpr std::uint32_t kStyleMask = 0xff000000;

void SetStyle(NSAlert* alert, std::uint32_t style) {
    if (style == MSG_STYLE_WARNING) {
        [alert setIcon:ImageFromBytes(QuestionIconPng)];
        [alert setAlertStyle:NSWarningAlertStyle];
    } else if (style == MSG_STYLE_CRITICAL) {
        [alert setIcon:ImageFromBytes(ErrorIconPng)];
        [alert setAlertStyle:NSCriticalAlertStyle];
    } else {
        [alert setAlertStyle:NSInformationalAlertStyle];
    }
}

void AddButton(NSAlert* alert, NSString* title, NSString* keyEquivalent) {
    [[alert addButtonWithTitle:title] setKeyEquivalent:keyEquivalent];
}

void SetText(NSAlert* alert, NSString* text) {
#if defined(GNUSTEP)
    // GNUstep draws the message text as a one-line headline that cuts long
    // texts off, and shows a placeholder where the informative text is
    // missing; its informative text wraps.
    [alert setMessageText:@""];
    [alert setInformativeText:text];
#else
    [alert setMessageText:text];
#endif
}

}  // namespace

std::uint32_t ShowMessageBox(WizardActions* actions, const stdx::u16string& text,
                             std::uint32_t flags) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    const bool yesNo = (flags & kButtonMask) == MSG_YESNO;

    NSAlert* alert = [[NSAlert alloc] init];
    NSString* title = actions != nullptr ? ToNSString(actions->GetTitle()) : nil;
    AlertWindowSetup* setup = [[AlertWindowSetup alloc] initWithAlert:alert title:title];
    if ([alert window] != nil) {
        [setup apply];
    } else {
        [setup performSelector:@selector(apply)
                    withObject:nil
                    afterDelay:0
                       inModes:[NSArray arrayWithObjects:NSModalPanelRunLoopMode,
                                                         NSDefaultRunLoopMode, nil]];
    }

    SetStyle(alert, flags & kStyleMask);
    if (yesNo) {
        AddButton(alert, @"Yes", @"\r");
        AddButton(alert, @"No", @"\033");
    } else {
        AddButton(alert, @"OK", @"\r");
    }
    SetText(alert, ToNSString(text));

    // Closing the box gives the answer that leaves things as they are: No
    // to a question, OK to a report.
    ModalCloseAction closeAction(yesNo ? NSAlertSecondButtonReturn : NSAlertFirstButtonReturn);
    const NSInteger response = [alert runModal];
    std::uint32_t result = MSG_RESULT_NONE;
    if (response == NSAlertFirstButtonReturn) {
        result = yesNo ? MSG_RESULT_YES : MSG_RESULT_OK;
    } else if (response == NSAlertSecondButtonReturn && yesNo) {
        result = MSG_RESULT_NO;
    }

    [NSObject cancelPreviousPerformRequestsWithTarget:setup];
    [setup detach];
    [setup release];
    [alert release];
    [pool release];
    return result;
}
