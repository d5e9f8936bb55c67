#include "launcher/ConfigWriter.h"

#include <unistd.h>

#include "text/Encoding.h"

namespace {

bool Holds(const stdx::u16string& text, const char16_t* units) {
    for (char16_t unit : text) {
        for (const char16_t* u = units; *u != 0; ++u) {
            if (unit == *u) {
                return true;
            }
        }
    }
    return false;
}

bool HoldsZero(const stdx::u16string& text) {
    for (char16_t unit : text) {
        if (unit == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsWritableLine(const stdx::u16string& key, const stdx::u16string& value) {
    return !Holds(key, u"=\n") && !Holds(value, u"\n") && !HoldsZero(key) && !HoldsZero(value);
}

std::string FormatConfigLine(const stdx::u16string& key, const stdx::u16string& value) {
    const stdx::string key8 = Utf16ToUtf8(key);
    const stdx::string value8 = Utf16ToUtf8(value);
    std::string line;
    line.reserve(key8.size() + value8.size() + 2);
    line.append(key8.data(), key8.size());
    line.push_back('=');
    line.append(value8.data(), value8.size());
    line.push_back('\n');
    return line;
}

std::string FormatConfigText(const ConfigList& list) {
    std::string text;
    for (const ConfigEntry& entry : list) {
        for (const stdx::u16string& value : entry.m_values) {
            if (IsWritableLine(entry.m_key, value)) {
                text += FormatConfigLine(entry.m_key, value);
            }
        }
    }
    return text;
}

std::string TemporaryNameFor(const std::string& target, int attempt) {
    return target + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".new";
}

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

void WriteConfigFile(const stdx::u16string& path, const ConfigList& list) {
    ConfigFileIo io;
    WriteConfigFile(path, list, io);
}
