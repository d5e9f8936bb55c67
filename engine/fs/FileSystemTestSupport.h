#pragma once

#include <sys/stat.h>

#include <string>

#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

// Helpers for tests that work on real files: the shared ones, and file
// times read back.
namespace fs_test {

// The shared test helpers serve as this namespace's own.
using namespace test_support;

inline time_t ModifiedSeconds(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

}  // namespace fs_test
