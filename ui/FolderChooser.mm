#include "ui/FolderChooser.h"

#include "text/Languages.h"
#include "ui/CocoaStrings.h"
#include "ui/PanelCloseBox.h"

static NSOpenPanel* NewFolderPanel() {
#if defined(GNUSTEP)
    // GNUstep's shared panel comes back larger each time it is shown again
    // under a window manager, its controls shifted; a new one keeps its size
    // but has no title of its own.
    NSOpenPanel* panel = [[NSOpenPanel alloc] init];
    [panel setTitle:ToNSString(LocalizedString("IDS_CHOOSEDIR_TITLE"))];
#else
    NSOpenPanel* panel = [[NSOpenPanel openPanel] retain];
#endif
    [panel setResolvesAliases:YES];
    [panel setCanChooseFiles:NO];
    [panel setCanChooseDirectories:YES];
    [panel setCanCreateDirectories:NO];
    [panel setAllowsMultipleSelection:NO];
    return panel;
}

static void TakeChoice(NSOpenPanel* panel, NSInteger result, NSTextField* field) {
    if (result != NSFileHandlingPanelOKButton) {
        return;
    }
    NSString* path = [[panel URL] path];
    if (path != nil) {
        [field setStringValue:path];
    }
}

#if defined(__APPLE__) && defined(__BLOCKS__)

void ChooseFolderInto(NSTextField* field, NSWindow* window) {
    NSOpenPanel* panel = NewFolderPanel();
    // The block holds the panel and the field until the sheet ends.
    [panel beginSheetModalForWindow:window
                  completionHandler:^(NSInteger result) {
                    TakeChoice(panel, result, field);
                  }];
    [panel release];
}

#else

void ChooseFolderInto(NSTextField* field, NSWindow* window) {
    (void)window;
    NSOpenPanel* panel = NewFolderPanel();
    // The window manager's close is the chooser's Cancel.
    ModalCloseAction closeAction(panel, @selector(cancel:));
    AcceptCloseRequestsWhenShown(panel);
    TakeChoice(panel, [panel runModal], field);
    CancelCloseRequestsSetup(panel);
    [panel release];
}

#endif
