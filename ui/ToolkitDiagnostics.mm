#include "ui/ToolkitDiagnostics.h"

#import <Foundation/Foundation.h>

#include <cstdlib>
#include <cstring>

namespace {

#if defined(GNUSTEP)
void DropLogLine(NSString*) {}
#endif

bool DiagnosticsWanted() {
    const char* value = std::getenv(kToolkitDiagnosticsVariable);
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

void KeepToolkitDiagnosticsOffStandardError() {
    if (DiagnosticsWanted()) {
        return;
    }
#if defined(GNUSTEP)
    _NSLog_printf_handler = &DropLogLine;
#endif
}
