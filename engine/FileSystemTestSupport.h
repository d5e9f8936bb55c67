#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "text/Encoding.h"
#include "text/String.h"

// Helpers for tests that work on real files: a scoped temporary directory,
// whole-file reads and writes, and the UTF-16 form of a UTF-8 path.
namespace fs_test {

inline stdx::u16string U16(const std::string& utf8) {
    return Utf8ToUtf16(stdx::string(utf8.data(), utf8.size()));
}

inline std::string U8(const stdx::u16string& utf16) {
    const stdx::string bytes = Utf16ToUtf8(utf16);
    return std::string(bytes.c_str(), bytes.size());
}

// A fresh directory (under `parent`, "/tmp" by default), removed with
// everything in it when the test ends.
class ScopedTempDir {
public:
    explicit ScopedTempDir(const std::string& parent = "/tmp") {
        std::string pattern = parent + "/qa-kit-test-XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr) {
            ADD_FAILURE() << "mkdtemp in " << parent << " failed";
        }
        m_path = pattern;
    }
    ~ScopedTempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
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
    ~ScopedEnv() {
        if (m_had) {
            ::setenv(m_name.c_str(), m_old.c_str(), 1);
        } else {
            ::unsetenv(m_name.c_str());
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::string m_old;
    bool m_had;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

inline time_t ModifiedSeconds(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

// Entries of a directory other than "." and "..".
inline std::size_t CountEntries(const std::string& directory) {
    std::error_code ignored;
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(directory, ignored);
         it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

}  // namespace fs_test
