#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "tests/support/TestSupport.h"

// Helpers for the launcher tests: the shared ones, and directory counts.
namespace launcher_test {

// The shared test helpers serve as this namespace's own.
using namespace test_support;

inline std::size_t EntryCount(const std::string& directory) {
    std::size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(directory);
         it != std::filesystem::directory_iterator(); ++it) {
        ++count;
    }
    return count;
}

}  // namespace launcher_test
