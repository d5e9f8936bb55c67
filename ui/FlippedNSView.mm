#include "ui/FlippedNSView.h"

@implementation FlippedNSView

- (BOOL)isFlipped {
    return YES;
}

@end
