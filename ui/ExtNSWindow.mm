#include "ui/ExtNSWindow.h"

#include "app/WindowLayer.h"

static bool IsEscape(NSEvent* event) {
    NSString* characters = [event charactersIgnoringModifiers];
    return [characters length] == 1 && [characters characterAtIndex:0] == 0x1b;
}

@implementation ExtNSWindow

- (id)initWithContentRect:(NSRect)contentRect
                styleMask:(NSUInteger)style
                  backing:(NSBackingStoreType)backing
                    defer:(BOOL)defer
                  actions:(WizardActions*)actions {
    m_actions = actions;
    m_layer = nullptr;
    return [super initWithContentRect:contentRect styleMask:style backing:backing defer:defer];
}

- (void)setActions:(WizardActions*)actions {
    m_actions = actions;
}

- (void)setLayer:(WindowLayer*)layer {
    m_layer = layer;
}

- (void)keyDown:(NSEvent*)event {
    if (m_actions != nullptr && IsEscape(event)) {
        m_actions->ConfirmCancel();
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
    if (m_actions == nullptr) {
        [super performClose:sender];
        return;
    }
    if (!m_actions->OnCloseRequest()) {
        return;
    }
    if (m_layer != nullptr) {
        m_layer->CloseWindow();
    } else {
        [self close];
    }
}

@end
