#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "text/Encoding.h"
#include "text/String.h"

namespace launcher_test {

// A fresh directory, removed with everything in it when the test ends.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "launcher-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        // Tests may leave read-only directories behind.
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Points "HOME" somewhere else for one test and restores it afterwards.
class HomeOverride {
public:
    explicit HomeOverride(const char* home) {
        const char* old = std::getenv("HOME");
        m_hadHome = old != nullptr;
        if (m_hadHome) {
            m_oldHome = old;
        }
        if (home != nullptr) {
            ::setenv("HOME", home, 1);
        } else {
            ::unsetenv("HOME");
        }
    }
    explicit HomeOverride(const std::string& home) : HomeOverride(home.c_str()) {}
    ~HomeOverride() {
        if (m_hadHome) {
            ::setenv("HOME", m_oldHome.c_str(), 1);
        } else {
            ::unsetenv("HOME");
        }
    }
    HomeOverride(const HomeOverride&) = delete;
    HomeOverride& operator=(const HomeOverride&) = delete;

private:
    bool m_hadHome = false;
    std::string m_oldHome;
};

inline stdx::u16string U16(const std::string& utf8) {
    return Utf8ToUtf16(stdx::string(utf8.c_str()));
}

inline std::string U8(const stdx::u16string& utf16) {
    return Utf16ToUtf8(utf16).c_str();
}

// Writes the bytes exactly, creating missing parent directories.
inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

inline std::size_t EntryCount(const std::string& directory) {
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(directory);
         it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

}  // namespace launcher_test
