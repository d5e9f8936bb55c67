#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

#include "text/Encoding.h"
#include "text/String.h"

// Helpers every subsystem's tests share: a scoped temporary directory, a
// scoped environment variable, whole-file reads and writes, file times, the
// lines of a text and the events of a run log, and the UTF-8 and UTF-16
// forms of a text.
namespace test_support {

inline stdx::u16string U16(const std::string& utf8) {
    return Utf8ToUtf16(stdx::string(utf8.data(), utf8.size()));
}

inline std::string U8(const stdx::u16string& utf16) {
    const stdx::string bytes = Utf16ToUtf8(utf16);
    return std::string(bytes.c_str(), bytes.size());
}

// Writes the bytes exactly, creating missing parent directories.
inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

// Sets the access and modification times of what is at path (what a link
// leads to) to unixSeconds.
inline void SetModificationTime(const std::string& path, std::int64_t unixSeconds) {
    struct timeval times[2] = {{static_cast<time_t>(unixSeconds), 0},
                               {static_cast<time_t>(unixSeconds), 0}};
    ASSERT_EQ(::utimes(path.c_str(), times), 0) << path;
}

// Writes the bytes as WriteFile above, then gives the file that time.
inline void WriteFile(const std::string& path, const std::string& bytes, std::int64_t unixSeconds) {
    WriteFile(path, bytes);
    SetModificationTime(path, unixSeconds);
}

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The lines of a text, each without its line break. A last line without
// one is a test failure: every writer under test ends its lines.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the last line is not ended";
    return lines;
}

// The events of a run log, each line without the UTC time stamp
// ("2026-01-31T12:00:00Z ") it must start with.
inline std::vector<std::string> LogEvents(const std::string& logPath) {
    static const char kStamp[] = "0000-00-00T00:00:00Z ";  // '0': any digit
    const std::size_t stampSize = sizeof(kStamp) - 1;
    std::vector<std::string> events;
    for (const std::string& line : Lines(ReadFile(logPath))) {
        bool stamped = line.size() > stampSize;
        for (std::size_t i = 0; stamped && i < stampSize; ++i) {
            stamped = kStamp[i] == '0' ? line[i] >= '0' && line[i] <= '9' : line[i] == kStamp[i];
        }
        EXPECT_TRUE(stamped) << "no time stamp: " << line;
        events.push_back(stamped ? line.substr(stampSize) : line);
    }
    return events;
}

// Whether anything is at path, a dangling link included.
inline bool Exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

// Makes every directory of a tree writable by its owner, so that the tree
// can be removed: tests leave read-only directories behind, whose entries
// cannot be removed until the owner may write there again. Links are not
// followed: what they point to is not the test's.
inline void MakeRemovable(const std::filesystem::path& directory) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(directory, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::directory_iterator it(directory, ignored); it != fs::directory_iterator();
         it.increment(ignored)) {
        if (it->symlink_status(ignored).type() == fs::file_type::directory) {
            MakeRemovable(it->path());
        }
    }
}

// A fresh directory under `parent`, removed with everything in it when the
// test ends. The default parent is "/tmp" itself, never a "TMPDIR" a test has
// set, so that the directory outlives any such override.
class TempDir {
public:
    explicit TempDir(const std::string& parent = "/tmp") {
        std::string pattern = parent + "/qa-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp in " << parent << " failed";
        }
        m_path = pattern;
    }
    ~TempDir() {
        MakeRemovable(m_path);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets (or, with null, unsets) one environment variable for a scope and
// restores it, or its absence, afterwards.
class EnvOverride {
public:
    EnvOverride(const char* name, const char* value) : m_name(name) {
        const char* old = ::getenv(name);
        m_had = old != nullptr;
        if (m_had) {
            m_old = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    EnvOverride(const char* name, const std::string& value) : EnvOverride(name, value.c_str()) {}
    ~EnvOverride() {
        if (m_had) {
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
    }
    EnvOverride(const EnvOverride&) = delete;
    EnvOverride& operator=(const EnvOverride&) = delete;

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

}  // namespace test_support
