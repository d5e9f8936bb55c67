#include "launcher/ConfigWriter.h"

#include <unistd.h>

#include "launcher/ConfigReader.h"
#include "text/Encoding.h"
#include "text/StringUtils.h"

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

// Between the target's name and the process id: no file but ours has it.
constexpr char kTemporaryTag[] = ".qa-tmp-";
constexpr char kTemporaryEnd[] = ".new";

bool AllDigits(const std::string& text, std::size_t begin, std::size_t end) {
    if (begin >= end) {
        return false;
    }
    for (std::size_t i = begin; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// Whether one line of a launcher file (its line feed included) has `key`,
// read exactly as ConfigReader reads it. Only the first line of a file may
// begin with a byte-order mark that is not part of its key.
bool LineHasKey(const std::string& line, bool first, const stdx::u16string& key) {
    ConfigList parsed;
    ConfigReader reader(parsed);
    if (!first) {
        reader.Feed("\n", 1);
    }
    reader.Feed(line.data(), line.size());
    reader.Finish();
    return !parsed.empty() && CompareNoCase(parsed[0].m_key, key) == 0;
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

std::string ReplaceKeyLines(const std::string& text, const stdx::u16string& key,
                            const std::vector<stdx::u16string>& values) {
    std::string ours;
    for (const stdx::u16string& value : values) {
        if (IsWritableLine(key, value)) {
            ours += FormatConfigLine(key, value);
        }
    }
    std::string result;
    result.reserve(text.size() + ours.size());
    bool placed = false;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find('\n', begin);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = text.substr(begin, end - begin);
        if (!LineHasKey(line, begin == 0, key)) {
            result += line;
        } else if (!placed) {
            if (begin == 0 && line.compare(0, 3, kByteOrderMark) == 0) {
                result += kByteOrderMark;
            }
            result += ours;
            placed = true;
        }
        begin = end;
    }
    if (!placed && !ours.empty()) {
        if (!result.empty() && result.back() != '\n') {
            result.push_back('\n');
        }
        result += ours;
    }
    return result;
}

std::string TemporaryNameFor(const std::string& target, int attempt) {
    return target + kTemporaryTag + std::to_string(::getpid()) + "-" + std::to_string(attempt) +
           kTemporaryEnd;
}

bool WriterOfTemporary(const std::string& name, const std::string& targetName, long* writer) {
    const std::string prefix = targetName + kTemporaryTag;
    const std::size_t endLength = sizeof(kTemporaryEnd) - 1;
    if (name.size() <= prefix.size() + endLength || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - endLength, endLength, kTemporaryEnd) != 0) {
        return false;
    }
    const std::size_t pidBegin = prefix.size();
    const std::size_t numbersEnd = name.size() - endLength;
    const std::size_t dash = name.find('-', pidBegin);
    if (dash == std::string::npos || dash >= numbersEnd || !AllDigits(name, pidBegin, dash) ||
        !AllDigits(name, dash + 1, numbersEnd) || dash - pidBegin > 9) {
        return false;
    }
    *writer = std::stol(name.substr(pidBegin, dash - pidBegin));
    return true;
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
