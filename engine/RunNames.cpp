#include "engine/RunNames.h"

#include <random>
#include <vector>

namespace run_names {

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

char16_t Lower(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

}  // namespace

stdx::u16string RandomTag() {
    static const char16_t kDigits[] = u"0123456789abcdef";
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t bits = engine();
    stdx::u16string tag;
    for (int i = 0; i < 16; ++i) {
        tag.push_back(kDigits[bits & 15u]);
        bits >>= 4;
    }
    return tag;
}

stdx::u16string HiddenRunName(const stdx::u16string& tag) {
    return u".qa-" + tag + u".run";
}

bool IsHiddenRunName(const std::string& name) {
    static const std::size_t kSize = 4 + 16 + 4;
    if (name.size() != kSize || name.compare(0, 4, ".qa-") != 0 ||
        name.compare(kSize - 4, 4, ".run") != 0) {
        return false;
    }
    for (std::size_t i = 4; i < 20; ++i) {
        if (!IsHexDigit(name[i])) {
            return false;
        }
    }
    return true;
}

bool IsTempRunName(const stdx::u16string& name) {
    const stdx::u16string prefix(kTempRunPrefix);
    if (name.size() <= prefix.size() || name.find(prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < u'0' || name[i] > u'9') {
            return false;
        }
    }
    return true;
}

stdx::u16string TemporaryName(const stdx::u16string& tag, std::size_t writer) {
    if (writer == 0) {
        return u".qa-" + tag + u".tmp";
    }
    return u".qa-" + tag + u"." + stdx::u16string(1, static_cast<char16_t>(u'0' + writer)) +
           u".tmp";
}

stdx::u16string HiddenBackupName(const stdx::u16string& tag) {
    return u".qa-" + tag + u".backup";
}

bool NameMeetsTag(const stdx::u16string& kitName, const stdx::u16string& tag) {
    // Every private name starts with ".qa-": most names have no such part,
    // and are passed without building the names.
    bool prefix = false;
    for (std::size_t i = 0; i + 3 < kitName.size() && !prefix; ++i) {
        prefix = kitName[i] == u'.' && Lower(kitName[i + 1]) == u'q' &&
                 Lower(kitName[i + 2]) == u'a' && kitName[i + 3] == u'-';
    }
    if (!prefix) {
        return false;
    }
    std::vector<stdx::u16string> privateNames{HiddenRunName(tag), HiddenBackupName(tag)};
    for (std::size_t writer = 0; writer < kMaxWriters; ++writer) {
        privateNames.push_back(TemporaryName(tag, writer));
    }
    auto equalNoCase = [&](std::size_t begin, std::size_t end, const stdx::u16string& name) {
        if (end - begin != name.size()) {
            return false;
        }
        for (std::size_t i = 0; i < name.size(); ++i) {
            if (Lower(kitName[begin + i]) != name[i]) {
                return false;
            }
        }
        return true;
    };
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= kitName.size(); ++i) {
        if (i < kitName.size() && kitName[i] != u'\\' && kitName[i] != u'/') {
            continue;
        }
        for (const stdx::u16string& name : privateNames) {
            if (equalNoCase(begin, i, name)) {
                return true;
            }
        }
        begin = i + 1;
    }
    return false;
}

bool AnyNameMeetsTag(const std::vector<const stdx::u16string*>& kitNames,
                     const stdx::u16string& tag) {
    for (const stdx::u16string* name : kitNames) {
        if (NameMeetsTag(*name, tag)) {
            return true;
        }
    }
    return false;
}

}  // namespace run_names
