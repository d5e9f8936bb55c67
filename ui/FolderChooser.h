#pragma once

#import <AppKit/AppKit.h>

// Lets the user choose one existing folder (no files, no new folders,
// aliases resolved). When the user confirms, the folder's full path becomes
// the text of field; a cancelled choice (also by the window manager's close,
// or a termination signal) leaves the field unchanged.
// On macOS the chooser is a sheet on window and this returns at once; with
// GNUstep, whose runtime has no blocks, it is a modal panel and this returns
// after the choice.
void ChooseFolderInto(NSTextField* field, NSWindow* window);
