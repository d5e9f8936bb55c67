#include "ui/ExtNSWindow.h"

#include "app/CInstallerDlg.h"

static bool IsEscape(NSEvent* event) {
    NSString* characters = [event charactersIgnoringModifiers];
    return [characters length] == 1 && [characters characterAtIndex:0] == 0x1b;
}

@implementation ExtNSWindow

- (id)initWithContentRectAndDlg:(NSRect)contentRect
                      styleMask:(NSUInteger)style
                        backing:(NSBackingStoreType)backing
                          defer:(BOOL)defer
                            dlg:(CInstallerDlg*)dlg {
    m_mainDlg = dlg;
    m_layer = nullptr;
    return [super initWithContentRect:contentRect styleMask:style backing:backing defer:defer];
}

- (void)setMainDlg:(CInstallerDlg*)dlg {
    m_mainDlg = dlg;
}

- (void)setLayer:(WindowLayer*)layer {
    m_layer = layer;
}

- (void)keyDown:(NSEvent*)event {
    if (m_mainDlg != nullptr && IsEscape(event)) {
        m_mainDlg->ConfirmCancel();
        return;
    }
    [super keyDown:event];
}

- (void)sendEvent:(NSEvent*)event {
    if ([event type] == NSKeyDown && IsEscape(event)) {
        [self keyDown:event];
        return;
    }
    [super sendEvent:event];
}

- (void)performClose:(id)sender {
    if (m_mainDlg == nullptr) {
        [super performClose:sender];
        return;
    }
    if (!m_mainDlg->OnCloseRequest()) {
        return;
    }
    if (m_layer != nullptr) {
        m_layer->CloseWindow();
    } else {
        [self close];
    }
}

@end
