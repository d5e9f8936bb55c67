#pragma once

// Keeps Cocoa out of the platform-free code (text/, kit/, engine/,
// launcher/ and the logic of app/): only ui/ talks to AppKit, so that the
// installer's logic builds and is tested without a window server.
//
// Put in front of every translation unit of those folders with the
// compiler's forced include (-include text/AppKitGuard.h): the build then
// fails for any source compiled as Objective-C there. Included as the last
// header of a source file, it also fails when an AppKit or Foundation header
// came in through another header.

#if defined(__OBJC__)
#error "Objective-C in platform-free code: Cocoa belongs in ui/"
#endif

#if defined(_APPKITDEFINES_H) || defined(__AppKitDefines_INCLUDE) || defined(_GNUstep_H_AppKit) || \
    defined(__FOUNDATION__) || defined(__Foundation_h_GNUSTEP_BASE_INCLUDE) ||                     \
    defined(_OBJC_OBJC_H_)
#error "AppKit or Foundation included in platform-free code: Cocoa belongs in ui/"
#endif
