#pragma once

#import <Foundation/Foundation.h>

#include "text/String.h"

// Conversions between the program's strings and Cocoa's. Cocoa takes text as
// UTF-8 only here.

// An autoreleased string; text that is not valid UTF-8 gives an empty string
// rather than nil, so that a caller never hands nil to a control.
NSString* ToNSString(const stdx::string& utf8);
NSString* ToNSString(const stdx::u16string& text);

// The UTF-8 bytes of text; nil gives an empty string.
stdx::string FromNSString(NSString* text);
