#pragma once

#include <sys/stat.h>

#include <atomic>
#include <string>

#include "engine/fs/FileSystem.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

// Helpers for tests that work on real files: the shared ones, file times
// read back, and a policy that counts the stored-time probes.
namespace fs_test {

// The shared test helpers serve as this namespace's own.
using namespace test_support;

inline time_t ModifiedSeconds(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtim.tv_sec : -1;
}

// The stored-time probe counted, and answering "unknown" without probing
// while refused. Process-wide, like the fault schedule.
struct ProbeCountingFileSystem : FileSystem {
    static inline std::atomic<int> s_probes{0};
    static inline std::atomic<bool> s_refused{false};

    StoredTimeRule StoredTimeRuleOf(const stdx::u16string& directory) {
        ++s_probes;
        return s_refused ? StoredTimeRule() : FileSystem::StoredTimeRuleOf(directory);
    }
};

}  // namespace fs_test
