#pragma once

#import <AppKit/AppKit.h>

// The wizard's content view: origin at the top left, y growing downwards, so
// that control frames read as they are laid out on the page.
@interface FlippedNSView : NSView
- (BOOL)isFlipped;
@end
