#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/CInstallerDlg.h"
#include "kit/KitWriter.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"
#include "text/Encoding.h"
#include "text/Languages.h"

// The shared helpers (real files in scoped temporary directories,
// environment overrides, tree snapshots), a scoped current directory, kits
// made with the kit writer, and a controller whose executable path and free
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

struct KitFile {
    std::string name;  // backslash separators, as in a kit
    std::string bytes;
    std::int64_t unixTime;
};

// Writes a kit with these products and files, in this order.
inline void WriteKit(const std::string& path, const std::vector<config::ProductInfo>& products,
                     const std::vector<KitFile>& files) {
    kit::KitWriter writer;
    for (const config::ProductInfo& product : products) {
        writer.AddProduct(product);
    }
    for (const KitFile& file : files) {
        writer.AddFileBytes(U16(file.name), FileSystem::FromUnixSeconds(file.unixTime), file.bytes);
    }
    std::string error;
    ASSERT_TRUE(writer.Write(path, nullptr, &error)) << error;
}

inline config::ProductInfo Product(const std::string& language, const std::string& name,
                                   const std::string& provider, const std::string& description) {
    config::ProductInfo product;
    product.m_language = U16(language);
    product.m_productName = U16(name);
    product.m_providerName = U16(provider);
    product.m_descriptionPath = U16(description);
    return product;
}

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
