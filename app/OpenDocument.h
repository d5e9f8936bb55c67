#pragma once

#include "text/String.h"

// The program that opens documents on this platform, looked up through PATH.
#ifdef __APPLE__
constexpr const char kDesktopOpener[] = "open";
#else
constexpr const char kDesktopOpener[] = "xdg-open";
#endif

// Hands a document to the desktop's default application: `open` on macOS,
// `xdg-open` elsewhere, found through PATH and started with posix_spawn and an
// argument vector, so no shell ever sees the path. A relative path is made
// absolute against the current directory first, so that it can be neither
// taken for an option nor for a URL. The helper's output goes to /dev/null;
// it is not waited for, and a failure to start it is ignored: opening the
// description is a courtesy at the end of a run.
void OpenDocumentWithDesktop(const stdx::string& path);
