// The user interface polls the shared status while the install thread posts
// it and may cancel at any moment. Built into its own binary, which the
// ThreadSanitizer build runs.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/InstallProcessData.h"
#include "engine/InstallTestSupport.h"
#include "engine/InstallThread.h"
#include "engine/InstallWorker.h"
#include "text/Languages.h"

using namespace install_test;

namespace {

const char16_t kPreparing[] = u"preparing";

// Checks every status one reader sees: progress never goes back, a running
// status names a file of the target, and nothing changes after the final
// status.
struct StatusChecker {
    stdx::u16string target;
    std::int32_t lastPercent = 0;
    bool final = false;
    Status finalStatus;
    int reads = 0;
    int violations = 0;

    void See(const Status& status) {
        ++reads;
        if (final) {
            if (status.code != finalStatus.code || status.percent != finalStatus.percent ||
                status.text != finalStatus.text) {
                ++violations;
            }
            return;
        }
        if (status.percent < lastPercent || status.percent < 0 || status.percent > 100) {
            ++violations;
        }
        lastPercent = status.percent;
        if (IsFinal(status)) {
            final = true;
            finalStatus = status;
            return;
        }
        if (status.text != kPreparing && status.text.find(target) != 0) {
            ++violations;
        }
    }
};

class InstallConcurrencyTest : public InstallDirsTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(InstallDirsTest::SetUp());
        m_data.Init();
        m_data.SetStatus(0, kPreparing, 0);
    }

    void LoadKit(int count) {
        std::vector<KitFile> files;
        for (int i = 0; i < count; ++i) {
            files.push_back({"d" + std::to_string(i % 10) + "\\f" + std::to_string(i) + ".cfg",
                             "contents of " + std::to_string(i), kBaseSeconds});
        }
        ASSERT_EQ(BuildKit(m_kitPath, files), "");
        ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
        m_data.SetInstallData(&m_kit, U16(m_target));
    }

    // Polls from this thread and from a second reader until both have seen
    // the final status.
    void PollUntilFinal(StatusChecker* main, StatusChecker* other) {
        main->target = U16(m_target + "/");
        other->target = main->target;
        std::thread reader([this, other] {
            while (!other->final) {
                other->See(ReadStatus(m_data));
            }
        });
        while (!main->final) {
            main->See(ReadStatus(m_data));
        }
        reader.join();
    }

    InstallData<LZCompressor, FileSystem> m_kit;
    InstallProcessData m_data;
    InstallThread m_thread;
};

TEST_F(InstallConcurrencyTest, StatusReadsFromTwoThreadsWhileARunPosts) {
    LoadKit(300);
    m_thread.Start(&m_data);
    StatusChecker main;
    StatusChecker other;
    PollUntilFinal(&main, &other);
    m_thread.Wait();

    EXPECT_EQ(main.violations, 0);
    EXPECT_EQ(other.violations, 0);
    EXPECT_EQ(main.finalStatus.code, kErrorSuccess);
    EXPECT_EQ(main.finalStatus.percent, 100);
    EXPECT_EQ(main.finalStatus.text, LocalizedString("IDS_INSTALL_FINISH"));
    EXPECT_EQ(other.finalStatus.text, main.finalStatus.text);
    EXPECT_EQ(ReadFile(m_target + "/d9/f299.cfg"), "contents of 299");
}

TEST_F(InstallConcurrencyTest, CancelFromAThirdThreadWhileTwoRead) {
    WriteFile(m_target + "/d3/f3.cfg", "older copy", kBaseSeconds - 10);
    const Tree before = Snapshot(m_target);
    LoadKit(1000);
    m_thread.Start(&m_data);
    std::thread canceller([this] {
        while (ReadStatus(m_data).percent < 10 && !IsFinal(ReadStatus(m_data))) {
            std::this_thread::yield();
        }
        m_data.Cancel();
    });
    StatusChecker main;
    StatusChecker other;
    PollUntilFinal(&main, &other);
    // Taken before the thread ends: the final status comes after the
    // rollback, never during it.
    const Tree atFinalStatus = Snapshot(m_target);
    canceller.join();
    m_thread.Wait();

    EXPECT_EQ(main.violations, 0);
    EXPECT_EQ(other.violations, 0);
    ASSERT_EQ(main.finalStatus.code, kErrorCancelled);
    EXPECT_EQ(main.finalStatus.text, LocalizedString("IDS_CANCEL_FINISH"));
    EXPECT_GE(main.finalStatus.percent, 10);
    EXPECT_LT(main.finalStatus.percent, 100);
    EXPECT_EQ(atFinalStatus, before);
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
}

// Two writers with an event sink: the sink hears of every record once, in
// kit order, though the records alternate between the writers; a name the
// kit holds twice ends with its later copy.
TEST_F(InstallConcurrencyTest, TwoWritersTellTheSinkInKitOrder) {
    struct Sink : InstallEventSink {
        std::vector<std::string> told;
        void OnFileAction(const stdx::u16string& path, FileAction action) override {
            told.push_back(U8(path) + (action == FileAction::Skip ? " skip" : ""));
        }
        void OnRollback(int, int) override { told.push_back("rollback"); }
    } sink;
    std::vector<KitFile> files;
    std::vector<std::string> expected;
    for (int i = 0; i < 600; ++i) {
        const std::string directory = "d" + std::to_string(i / 50);
        files.push_back({directory + "\\f" + std::to_string(i) + ".cfg", "contents", kBaseSeconds});
        expected.push_back(directory + "/f" + std::to_string(i) + ".cfg");
    }
    files.push_back({"d0\\f0.cfg", "second copy", kBaseSeconds + 10});
    expected.push_back("d0/f0.cfg");
    WriteFile(m_target + "/d5/f250.cfg", "up to date", kBaseSeconds + 100);
    expected[250] += " skip";
    ASSERT_EQ(BuildKit(m_kitPath, files), "");
    ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
    m_data.SetInstallData(&m_kit, U16(m_target));
    m_data.SetEventSink(&sink);
    InstallWorker<FileSystem> worker;
    worker.SetFinishPause(std::chrono::milliseconds(0));
    worker.SetWriters(2);
    StatusChecker main;
    StatusChecker other;
    std::thread run([&] { worker.Run(&m_data); });
    PollUntilFinal(&main, &other);
    run.join();
    m_data.SetEventSink(nullptr);

    EXPECT_EQ(main.violations, 0);
    EXPECT_EQ(other.violations, 0);
    EXPECT_EQ(main.finalStatus.percent, 100);
    EXPECT_EQ(sink.told, expected);
    EXPECT_EQ(ReadFile(m_target + "/d0/f0.cfg"), "second copy");
    EXPECT_EQ(ReadFile(m_target + "/d11/f599.cfg"), "contents");
}

// A record that cannot be written, amid records both writers are busy
// with: the run fails with its code and is rolled back completely.
TEST_F(InstallConcurrencyTest, TwoWritersStopTogetherAtAFailure) {
    std::vector<KitFile> files;
    for (int i = 0; i < 600; ++i) {
        files.push_back({"d" + std::to_string(i % 7) + "\\f" + std::to_string(i) + ".cfg",
                         std::string(static_cast<std::size_t>(i) * 13, 'x'), kBaseSeconds});
        if (i == 300) {
            files.push_back({"blocker\\x.cfg", "x", kBaseSeconds});
        }
    }
    WriteFile(m_target + "/blocker", "a file where a directory goes", kBaseSeconds);
    WriteFile(m_target + "/d3/f3.cfg", "older copy", kBaseSeconds - 10);
    const Tree before = Snapshot(m_target);
    ASSERT_EQ(BuildKit(m_kitPath, files), "");
    ASSERT_EQ(m_kit.Load(U16(m_kitPath)), kErrorSuccess);
    m_data.SetInstallData(&m_kit, U16(m_target));
    InstallWorker<FileSystem> worker;
    worker.SetFinishPause(std::chrono::milliseconds(0));
    worker.SetWriters(2);
    EXPECT_EQ(worker.Run(&m_data), kErrorInvalidParameter);
    const Status status = ReadStatus(m_data);
    EXPECT_EQ(status.code, kErrorInvalidParameter);
    // The percent of the record that failed.
    EXPECT_EQ(status.percent, 301 * 100 / 601);
    EXPECT_EQ(Snapshot(m_target), before);
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
}

}  // namespace
