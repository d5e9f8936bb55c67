#pragma once

// Helpers shared by the install engine's tests: a fixture with its own
// template and temporary directories, trees written with chosen times, and
// kits built from a list of files.

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/InstallProcessData.h"
#include "engine/InstallWorker.h"
#include "engine/fs/FaultInjectingFileSystem.h"
#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "kit/KitWriter.h"
#include "tests/support/TestSupport.h"
#include "text/String.h"

namespace install_test {

// A fixed point in time for kit records (2023-11-14 22:13:20 UTC).
constexpr std::int64_t kBaseSeconds = 1700000000;

// The shared test helpers serve as this namespace's own.
using namespace test_support;

// A template directory, a private TMPDIR and a kit path, all below one
// scoped directory; the template directory and TMPDIR exist from SetUp on.
class InstallDirsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::is_directory(m_root.path()));
        m_target = m_root / "templates";
        m_temp = m_root / "tmp";
        m_kitPath = m_root / "qarn.pkd";
        std::filesystem::create_directories(m_target);
        std::filesystem::create_directories(m_temp);
        m_tmpEnv = std::make_unique<EnvOverride>("TMPDIR", m_temp);
    }

    TempDir m_root;
    std::string m_target;
    std::string m_temp;
    std::string m_kitPath;
    std::unique_ptr<EnvOverride> m_tmpEnv;
};

inline void SetMtime(const std::string& path, std::int64_t seconds) {
    struct timeval times[2] = {{static_cast<time_t>(seconds), 0},
                               {static_cast<time_t>(seconds), 0}};
    utimes(path.c_str(), times);
}

inline std::int64_t Mtime(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_mtime) : -1;
}

// Writes a file, creating its parent directories.
inline void WriteFile(const std::string& path, const std::string& bytes, std::int64_t seconds) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    SetMtime(path, seconds);
}

// Entries of directory whose name starts with prefix.
inline std::vector<std::string> EntriesWithPrefix(const std::string& directory,
                                                  const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& name : ListDir(directory)) {
        if (name.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(name);
        }
    }
    return found;
}

// One file of a test kit: its kit name (backslash separators), bytes and
// time. fraction adds 100-nanosecond units below the whole second.
struct KitFile {
    std::string name;
    std::string bytes;
    std::int64_t seconds = kBaseSeconds;
    std::uint32_t fraction = 0;
};

inline FileTime KitTime(const KitFile& file) {
    return FileSystem::FromUnixSeconds(file.seconds) + file.fraction;
}

// Writes a kit with these files to kitPath; the returned text is empty on
// success and the writer's error otherwise.
inline std::string BuildKit(const std::string& kitPath, const std::vector<KitFile>& files) {
    kit::KitWriter writer;
    config::ProductInfo product;
    product.m_language = u"en";
    product.m_productName = u"Templates";
    product.m_providerName = u"Provider";
    writer.AddProduct(product);
    for (const KitFile& file : files) {
        writer.AddFileBytes(U16(file.name), KitTime(file), file.bytes);
    }
    std::string error;
    if (!writer.Write(kitPath, nullptr, &error)) {
        return error.empty() ? "kit not written" : error;
    }
    return std::string();
}

// One snapshot of the shared status.
struct Status {
    ErrorCode code = 0;
    stdx::u16string text;
    std::int32_t percent = -1;
};

inline Status ReadStatus(const InstallProcessDataBase& data) {
    Status status;
    data.GetStatus(&status.code, &status.text, &status.percent);
    return status;
}

// Whether a status ends a run for the user interface.
inline bool IsFinal(const Status& status) {
    return status.code != kErrorSuccess || status.percent >= 100;
}

using FaultyKit = InstallData<LZCompressor, FaultInjectingFileSystem>;
using FaultyData = BasicInstallProcessData<FaultyKit>;
using FaultyWorker = InstallWorker<FaultInjectingFileSystem, FaultInjectingFileFinder>;

// What one run returned and left in the shared status.
struct RunResult {
    ErrorCode code = 0;
    ErrorCode statusCode = 0;
    stdx::u16string statusText;
    std::int32_t percent = -1;
    bool injected = false;
    std::int64_t operations = 0;
};

// Runs one worker (no finish pause) over a loaded kit into target, with
// operation number failAt failing (0: none) and hook called before every
// operation of the run; the kit's own loading is not counted.
inline RunResult RunArmed(FaultyKit& kit, FaultyData& data, const std::string& target,
                          std::int64_t failAt, FaultSchedule::Hook hook = nullptr,
                          void* context = nullptr, FaultyWorker* worker = nullptr) {
    data.SetInstallData(&kit, U16(target));
    FaultyWorker local;
    FaultyWorker& used = worker != nullptr ? *worker : local;
    used.SetFinishPause(std::chrono::milliseconds(0));
    FaultSchedule::SetHook(hook, context);
    FaultSchedule::Arm(failAt);
    RunResult result;
    result.code = used.Run(&data);
    FaultSchedule::Disarm();
    FaultSchedule::SetHook(nullptr, nullptr);
    result.injected = FaultSchedule::Injected();
    result.operations = FaultSchedule::Operations();
    data.GetStatus(&result.statusCode, &result.statusText, &result.percent);
    return result;
}

}  // namespace install_test
