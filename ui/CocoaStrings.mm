#include "ui/CocoaStrings.h"

#include "text/Encoding.h"

NSString* ToNSString(const stdx::string& utf8) {
    NSString* result = [NSString stringWithUTF8String:utf8.c_str()];
    return result != nil ? result : @"";
}

NSString* ToNSString(const stdx::u16string& text) {
    return ToNSString(Utf16ToUtf8(text));
}

stdx::string FromNSString(NSString* text) {
    if (text == nil) {
        return stdx::string();
    }
    const char* bytes = [text UTF8String];
    return bytes != nullptr ? stdx::string(bytes) : stdx::string();
}
