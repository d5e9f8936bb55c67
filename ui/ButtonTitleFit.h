#pragma once

#import <AppKit/AppKit.h>

// Gives button the platform's control font at the largest size (from the
// default down to a readable minimum) at which its title fits on one line
// inside the button. The wizard's buttons and checkbox have fixed frames,
// and some languages' captions are wider than them at the default size:
// GNUstep would wrap such a title and show only its first line ("<" of
// "< Попередня").
void FitButtonTitle(NSButton* button);
