#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"

// Helpers for tests that work on real files: the shared ones, file times
// and directory counts.
namespace fs_test {

// The shared test helpers serve as this namespace's own.
using namespace test_support;

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
