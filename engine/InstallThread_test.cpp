#include "engine/InstallThread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/InstallTestSupport.h"
#include "text/Languages.h"

using namespace install_test;

namespace {

Status WaitForFinalStatus(const InstallProcessData& data) {
    Status status = ReadStatus(data);
    while (!IsFinal(status)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        status = ReadStatus(data);
    }
    return status;
}

// Waits until a run has begun: its first status names a file.
Status WaitForRunToBegin(const InstallProcessData& data) {
    Status status = ReadStatus(data);
    while (status.text == u"preparing") {
        std::this_thread::yield();
        status = ReadStatus(data);
    }
    return status;
}

class InstallThreadTest : public InstallDirsTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallDirsTest::SetUp());
        m_data.Init();
        m_data.SetStatus(0, u"preparing", 0);
    }

    void LoadKit(const std::vector<KitFile>& files) {
        ASSERT_EQ(BuildKit(m_kitPath, files), "");
        ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
        m_data.SetInstallData(&m_kit, U16(m_target));
    }

    InstallData<LZCompressor, FileSystem> m_kit;
    InstallProcessData m_data;
    InstallThread m_thread;
};

TEST_F(InstallThreadTest, SuccessfulRunEndsOneSecondAfterItsFinishStatus) {
    LoadKit({{"a\\b.cfg", "b", kBaseSeconds}, {"c.cfg", "c", kBaseSeconds}});
    m_thread.Init();
    m_thread.Start(&m_data);
    const Status status = WaitForFinalStatus(m_data);
    const auto finished = std::chrono::steady_clock::now();
    m_thread.Wait();
    const auto paused = std::chrono::steady_clock::now() - finished;

    EXPECT_EQ(status.code, kErrorSuccess);
    EXPECT_EQ(status.percent, 100);
    EXPECT_EQ(status.text, LocalizedString("IDS_INSTALL_FINISH"));
    EXPECT_GE(paused, std::chrono::milliseconds(900));
    EXPECT_EQ(ReadFile(m_target + "/a/b.cfg"), "b");
    // The status stays until the next run is handed its data.
    const Status later = ReadStatus(m_data);
    EXPECT_EQ(later.code, kErrorSuccess);
    EXPECT_EQ(later.percent, 100);
    EXPECT_EQ(later.text, status.text);
}

TEST_F(InstallThreadTest, FailedRunKeepsItsStatusAfterTheThreadEnds) {
    WriteFile(m_target + "/blocker", "file", kBaseSeconds);
    WriteFile(m_target + "/one.cfg", "old", kBaseSeconds - 10);
    const Tree before = Snapshot(m_target);
    LoadKit({{"one.cfg", "new", kBaseSeconds}, {"blocker\\x.cfg", "x", kBaseSeconds}});
    m_thread.Start(&m_data);
    m_thread.Wait();

    const Status status = ReadStatus(m_data);
    EXPECT_NE(status.code, kErrorSuccess);
    EXPECT_NE(status.code, kErrorCancelled);
    EXPECT_EQ(status.percent, 50);
    EXPECT_EQ(status.text, LocalizedString("IDS_INSTALL_ERROR"));
    EXPECT_EQ(Snapshot(m_target), before);
}

TEST_F(InstallThreadTest, StopDuringARunLetsItComplete) {
    std::vector<KitFile> files;
    for (int i = 0; i < 200; ++i) {
        files.push_back(
            {"d" + std::to_string(i % 10) + "\\f" + std::to_string(i), "x", kBaseSeconds});
    }
    LoadKit(files);
    m_thread.Start(&m_data);
    Status status = WaitForRunToBegin(m_data);
    m_thread.Stop();
    m_thread.Wait();
    status = ReadStatus(m_data);
    EXPECT_EQ(status.code, kErrorSuccess);
    EXPECT_EQ(status.percent, 100);
    EXPECT_EQ(ReadFile(m_target + "/d9/f199"), "x");
}

TEST_F(InstallThreadTest, StopRightAfterStartEitherSkipsOrCompletesTheRun) {
    WriteFile(m_target + "/a.cfg", "old", kBaseSeconds - 10);
    const Tree before = Snapshot(m_target);
    LoadKit({{"a.cfg", "new", kBaseSeconds}});
    m_thread.Start(&m_data);
    m_thread.Stop();
    m_thread.Wait();
    // Which one depends on whether the new thread looked at the flag before
    // Stop; both must end with a final status that matches the disk.
    const Status status = ReadStatus(m_data);
    if (status.code == kErrorCancelled) {
        EXPECT_EQ(status.text, LocalizedString("IDS_CANCEL_FINISH"));
        EXPECT_EQ(status.percent, 0);
        EXPECT_EQ(Snapshot(m_target), before);
    } else {
        EXPECT_EQ(status.code, kErrorSuccess);
        EXPECT_EQ(status.percent, 100);
        EXPECT_EQ(ReadFile(m_target + "/a.cfg"), "new");
    }
}

TEST_F(InstallThreadTest, CancelDuringARunRollsBackBeforeItsStatusShows) {
    std::vector<KitFile> files;
    for (int i = 0; i < 400; ++i) {
        files.push_back(
            {"new" + std::to_string(i % 7) + "\\f" + std::to_string(i), "x", kBaseSeconds});
    }
    WriteFile(m_target + "/keep/old.cfg", "old", kBaseSeconds - 10);
    files.push_back({"keep\\old.cfg", "new", kBaseSeconds});
    const Tree before = Snapshot(m_target);
    LoadKit(files);
    m_thread.Start(&m_data);
    Status status = WaitForRunToBegin(m_data);
    m_data.Cancel();
    status = WaitForFinalStatus(m_data);
    // Taken before Wait: once the final status shows, the disk is final.
    const Tree atFinalStatus = Snapshot(m_target);
    m_thread.Wait();
    if (status.code == kErrorCancelled) {
        EXPECT_EQ(status.text, LocalizedString("IDS_CANCEL_FINISH"));
        EXPECT_LT(status.percent, 100);
        EXPECT_EQ(atFinalStatus, before);
    } else {
        // The run was already past its last check.
        EXPECT_EQ(status.percent, 100);
    }
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
}

TEST_F(InstallThreadTest, WaitWithoutAStartedThreadReturnsAtOnce) {
    m_thread.Wait();
    m_thread.Init();
    m_thread.Wait();
    const Status status = ReadStatus(m_data);
    EXPECT_EQ(status.text, u"preparing");
}

// The thread cannot be created when the user may run no more processes; the
// run must then be reported as failed instead of leaving the user interface
// waiting. Runs in a child process, which gives up root for the limit to
// hold.
TEST_F(InstallThreadTest, FailedThreadCreationIsReportedAsAFailedRun) {
    LoadKit({{"a.cfg", "new", kBaseSeconds}});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0) {
            _exit(2);
        }
        const struct rlimit none = {0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0) {
            _exit(3);
        }
        // The limit must really stop threads, or a run that fails for
        // other reasons (the child may not write here) would look the same.
        pthread_t probe;
        if (pthread_create(
                &probe, nullptr, [](void*) -> void* { return nullptr; }, nullptr) == 0) {
            pthread_join(probe, nullptr);
            _exit(4);
        }
        InstallThread thread;
        thread.Start(&m_data);
        thread.Wait();
        const Status status = ReadStatus(m_data);
        const bool reported = status.code == kErrorInvalidParameter && status.percent == 0 &&
                              status.text == LocalizedString("IDS_INSTALL_ERROR");
        _exit(reported ? 0 : 1);
    }
    int childStatus = 0;
    ASSERT_EQ(waitpid(child, &childStatus, 0), child);
    ASSERT_TRUE(WIFEXITED(childStatus));
    EXPECT_EQ(WEXITSTATUS(childStatus), 0)
        << "1: no failure status posted; 2 to 4: the child could not set up the limit";
    EXPECT_FALSE(std::filesystem::exists(m_target + "/a.cfg"));
}

}  // namespace
