#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CInstallerDlg.h"
#include "tests/support/TestKits.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"
#include "text/Encoding.h"
#include "text/Languages.h"

// The shared helpers (real files in scoped temporary directories,
// environment overrides, tree snapshots, kits made with the kit writer), a
// scoped current directory, and a controller whose executable path and free
// space the test chooses.
namespace app_test {

// The shared test helpers serve as this namespace's own.
using namespace test_support;

// Changes the current directory for a scope.
class CurrentDirOverride {
public:
    explicit CurrentDirOverride(const std::string& directory) {
        m_old = std::filesystem::current_path().string();
        std::filesystem::current_path(directory);
    }
    ~CurrentDirOverride() {
        std::error_code ignored;
        std::filesystem::current_path(m_old, ignored);
    }
    CurrentDirOverride(const CurrentDirOverride&) = delete;
    CurrentDirOverride& operator=(const CurrentDirOverride&) = delete;

private:
    std::string m_old;
};

// A controller whose executable path and free temporary space the test may
// set; unset, the real ones are used.
class TestDlg : public CInstallerDlg {
public:
    using CInstallerDlg::CInstallerDlg;
    using CInstallerDlg::ProcessData;

    std::optional<std::string> executable;
    std::optional<std::uint64_t> freeSpace;

protected:
    stdx::string ExecutablePath() override {
        if (executable) {
            return stdx::string(executable->c_str(), executable->size());
        }
        return CInstallerDlg::ExecutablePath();
    }
    std::uint64_t TempFreeSpace() override {
        return freeSpace ? *freeSpace : CInstallerDlg::TempFreeSpace();
    }
};

}  // namespace app_test
