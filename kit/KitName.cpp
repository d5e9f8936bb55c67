#include "kit/KitName.h"

namespace kit {

namespace {

bool IsSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

}  // namespace

bool IsSafeKitName(const stdx::u16string& name) {
    const std::size_t length = name.size();
    if (length == 0 || IsSeparator(name[0])) {
        return false;
    }
    // Only a drive prefix leaves the directory: "C:" alone or before a
    // separator. "a:b.cfg" and "1:notes.txt" are ordinary names here.
    const bool driveLetter =
        (name[0] >= u'A' && name[0] <= u'Z') || (name[0] >= u'a' && name[0] <= u'z');
    if (driveLetter && length >= 2 && name[1] == u':' && (length == 2 || IsSeparator(name[2]))) {
        return false;
    }
    std::size_t componentStart = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && name[i] == u'\0') {
            return false;
        }
        if (i < length && !IsSeparator(name[i])) {
            continue;
        }
        const std::size_t componentLength = i - componentStart;
        if (componentLength == 0) {
            return false;
        }
        if (name[componentStart] == u'.' &&
            (componentLength == 1 || (componentLength == 2 && name[componentStart + 1] == u'.'))) {
            return false;
        }
        componentStart = i + 1;
    }
    return true;
}

}  // namespace kit
