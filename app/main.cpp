#include <memory>

#include "app/HeadlessWindowLayer.h"
#include "app/RunInstaller.h"

#ifdef QA_HAVE_COCOA
#include "ui/CocoaWindowLayer.h"
#endif

int main(int argc, char** argv) {
    StartupArgs args{argc, argv, 0, stdx::u16string()};
    std::unique_ptr<WindowLayer> layer;
#ifdef QA_HAVE_COCOA
    layer = CreateCocoaWindowLayer();
#endif
    if (!layer) {
        layer = std::make_unique<HeadlessWindowLayer>();
    }
    return RunInstaller(args, *layer);
}
