#include "ui/ButtonTitleFit.h"

namespace {

constexpr CGFloat kMinimumFontSize = 8;
constexpr CGFloat kFontSizeStep = 0.5;

// The cell's own idea of the width it needs: title, image (a checkbox's box)
// and the bezel's margins.
bool Fits(NSButton* button) {
    return [[button cell] cellSize].width <= NSWidth([button bounds]);
}

}  // namespace

void FitButtonTitle(NSButton* button) {
    CGFloat size = [[NSFont systemFontOfSize:0] pointSize];
    [button setFont:[NSFont systemFontOfSize:size]];
    while (!Fits(button) && size - kFontSizeStep >= kMinimumFontSize) {
        size -= kFontSizeStep;
        [button setFont:[NSFont systemFontOfSize:size]];
    }
}
