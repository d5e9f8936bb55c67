#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "launcher/ConfigList.h"
#include "launcher/Utf8StreamDecoder.h"
#include "text/String.h"

// Parses the text of a launcher configuration file into a ConfigList.
//
// A line is split at its first "="; nothing is trimmed and a carriage return
// before the line feed stays part of the line. Each line goes to AddValue;
// empty lines are ignored. The bytes may be fed in pieces of any size; the
// result does not depend on how the text was cut.
//
// The text is UTF-8. Invalid bytes read as U+FFFD. A byte-order mark at the
// very start is skipped (the launcher writes none, but editors do). Zero
// bytes are dropped: they cannot be written back, and a file cut short by a
// crash is often padded with them.
class ConfigReader {
public:
    // Entries are added to `list`, which must outlive the reader.
    explicit ConfigReader(ConfigList& list) : m_list(list) {}

    void Feed(const char* bytes, std::size_t count);
    // Ends the text; the last line needs no line feed.
    void Finish();

    // Bytes per read from a file.
    static constexpr std::size_t kBlockSize = 1024;

private:
    // Keys and values grow in steps of this many units.
    static constexpr std::size_t kCollectorSize = 2048;

    void PutCodePoint(char32_t codePoint);
    void PutUnit(char16_t unit);
    void FlushCollector();
    void EndLine();

    ConfigList& m_list;
    Utf8StreamDecoder m_decoder;
    bool m_atStart = true;
    bool m_inValue = false;
    stdx::u16string m_key;
    stdx::u16string m_value;
    char16_t m_collector[kCollectorSize];
    std::size_t m_collected = 0;
};

// fopen with UTF-16 arguments (both zero-terminated), converted to UTF-8.
// Returns null when the file cannot be opened.
std::FILE* OpenFile(const char16_t* path, const char16_t* mode);

// Adds the lines of the file at `path` to `list`, and appends the file's
// bytes as they are to `*bytes` when `bytes` is not null. A missing or
// unreadable file leaves `list` as it was; so does anything that is not a
// regular file (a pipe, a device, a directory), which is never opened in a
// way that could block. True when the whole file was read or there is no
// file; false when something is there that could not be read to its end, so
// that `*bytes` cannot stand for it.
bool ReadConfigFile(const stdx::u16string& path, ConfigList& list, std::string* bytes = nullptr);
