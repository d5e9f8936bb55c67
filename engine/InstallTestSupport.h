#pragma once

// Helpers shared by the install engine's tests: the shared ones (trees
// compared as snapshots and kits built from a list of files among them), a
// fixture with its own template and temporary directories, the shared
// status read back, and runs with a fault injected.

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/InstallProcessData.h"
#include "engine/InstallWorker.h"
#include "engine/fs/FaultInjectingFileSystem.h"
#include "engine/fs/FileSystem.h"
#include "kit/InstallData.h"
#include "tests/support/TestKits.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"
#include "text/String.h"

namespace install_test {

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

inline std::int64_t Mtime(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_mtime) : -1;
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
using FaultyWorker = InstallWorker<FaultInjectingFileSystem>;

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
                          void* context = nullptr, FaultyWorker* worker = nullptr,
                          std::int64_t alsoFailAt = 0) {
    data.SetInstallData(&kit, U16(target));
    FaultyWorker local;
    FaultyWorker& used = worker != nullptr ? *worker : local;
    used.SetFinishPause(std::chrono::milliseconds(0));
    FaultSchedule::SetHook(hook, context);
    FaultSchedule::Arm(failAt, alsoFailAt);
    RunResult result;
    result.code = used.Run(&data);
    FaultSchedule::Disarm();
    FaultSchedule::SetHook(nullptr, nullptr);
    result.injected = FaultSchedule::Injected();
    result.operations = FaultSchedule::Operations();
    data.GetStatus(&result.statusCode, &result.statusText, &result.percent);
    return result;
}

// InstallDirsTest with runs of kits built from a list of files: on a fresh
// worker each, or on the one given; the fault schedule is disarmed after
// each test.
class InstallKitTest : public InstallDirsTest {
protected:
    void TearDown() override {
        FaultSchedule::Disarm();
        FaultSchedule::SetHook(nullptr, nullptr);
    }

    RunResult Install(const std::vector<KitFile>& files, FaultSchedule::Hook hook = nullptr,
                      void* context = nullptr, FaultyWorker* worker = nullptr) {
        EXPECT_EQ(BuildKit(m_kitPath, files), "");
        FaultyKit kit;
        EXPECT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
        return RunArmed(kit, m_data, m_target, 0, hook, context, worker);
    }

    // The path of relative below the template directory.
    std::string T(const std::string& relative) const { return m_target + "/" + relative; }

    FaultyData m_data;
};

}  // namespace install_test
