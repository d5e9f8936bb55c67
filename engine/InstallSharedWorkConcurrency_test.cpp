// The work a run shares out: the looks at every file's place, taken by
// several threads in chunks, must still end a run at the first record in
// kit order that cannot be installed; and a folder the template directory
// lacks arrives whole, as if made level by level, or not at all.

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/InstallTestSupport.h"
#include "engine/fs/FileSystemFeatures.h"
#include "kit/KitTestSupport.h"

using namespace install_test;

namespace {

// Every run on one worker with two writers.
class InstallSharedWorkTest : public InstallKitTest {
protected:
    void SetUp() override {
        InstallKitTest::SetUp();
        m_worker.SetWriters(2);
    }

    RunResult Install(const std::vector<KitFile>& files, FaultSchedule::Hook hook = nullptr,
                      void* context = nullptr) {
        return InstallKitTest::Install(files, hook, context, &m_worker);
    }

    FaultyWorker m_worker;
};

// Records spread over folders in turn, so that neighbours lie apart.
std::vector<KitFile> Interleaved(std::size_t count, std::size_t folders) {
    std::vector<KitFile> files;
    for (std::size_t i = 0; i < count; ++i) {
        files.push_back({"d" + std::to_string(i % folders) + "\\f" + std::to_string(i) + ".cfg",
                         "kit " + std::to_string(i), kBaseSeconds});
    }
    return files;
}

std::string PlaceOf(const std::vector<KitFile>& files, std::size_t index) {
    std::string place = files[index].name;
    place[place.find('\\')] = '/';
    return place;
}

TEST_F(InstallSharedWorkTest, FirstRecordInKitOrderThatCannotBeInstalledEndsTheRun) {
    const std::size_t kCount = 1100;
    const std::vector<KitFile> files = Interleaved(kCount, 10);
    const struct {
        const char* what;
        std::vector<std::size_t> blocked;
    } cases[] = {
        {"one late record", {1050}},
        {"an early and a late record", {900, 300}},
        {"the first record and the last", {kCount - 1, 0}},
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        std::filesystem::remove_all(m_target);
        for (std::size_t i = 0; i < kCount; i += 7) {
            WriteFile(T(PlaceOf(files, i)), "installed", kBaseSeconds - 100);
        }
        for (std::size_t blocked : entry.blocked) {
            std::filesystem::remove(T(PlaceOf(files, blocked)));
            std::filesystem::create_directories(T(PlaceOf(files, blocked)));
        }
        const Tree before = Snapshot(m_target);

        const RunResult result = Install(files);
        const std::size_t first = *std::min_element(entry.blocked.begin(), entry.blocked.end());
        EXPECT_EQ(result.code, kErrorInvalidParameter);
        EXPECT_EQ(result.statusCode, kErrorInvalidParameter);
        EXPECT_EQ(result.percent, static_cast<std::int32_t>(first * 100 / kCount));
        EXPECT_EQ(Snapshot(m_target), before);
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    }
}

// Sets the process's umask for a scope.
class UmaskOverride {
public:
    explicit UmaskOverride(mode_t mask) : m_previous(::umask(mask)) {}
    ~UmaskOverride() { ::umask(m_previous); }

private:
    mode_t m_previous;
};

// Both cases run on one worker: the second must look at the template
// directory as it is then, not as the first run found it.
TEST_F(InstallSharedWorkTest, NewFoldersArriveWithTheModesMadeFoldersHave) {
    const UmaskOverride mask(027);
    const struct {
        const char* what;
        bool templateDirectory;  // whether it is there before the run
    } cases[] = {{"into a template directory", true}, {"making the template directory", false}};
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.what);
        std::filesystem::remove_all(m_target);
        if (entry.templateDirectory) {
            WriteFile(T("keep/old.cfg"), "installed", kBaseSeconds - 100);
        }
        const RunResult result = Install({{"top.cfg", "top", kBaseSeconds},
                                          {"keep\\sub\\n.cfg", "n", kBaseSeconds},
                                          {"new\\a\\b\\x.cfg", "x", kBaseSeconds},
                                          {"other\\z.cfg", "z", kBaseSeconds},
                                          {"new\\y.cfg", "y", kBaseSeconds}});
        ASSERT_EQ(result.code, kErrorSuccess);
        for (const char* file :
             {"top.cfg", "keep/sub/n.cfg", "new/a/b/x.cfg", "other/z.cfg", "new/y.cfg"}) {
            EXPECT_TRUE(std::filesystem::is_regular_file(T(file))) << file;
        }
        std::set<std::string> created;
        for (const stdx::u16string& path : m_worker.Entries().back().m_createdDirs) {
            created.insert(U8(path));
        }
        std::set<std::string> expected = {T("keep/sub"), T("new"), T("new/a"), T("new/a/b"),
                                          T("other")};
        if (!entry.templateDirectory) {
            expected.insert(T("keep"));
            expected.insert(m_target);
        }
        EXPECT_EQ(created, expected);
        for (const std::string& directory : expected) {
            struct stat status;
            ASSERT_EQ(::stat(directory.c_str(), &status), 0) << directory;
            EXPECT_EQ(status.st_mode & 07777, 0750u) << directory;
        }
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    }
}

// Something made at a new folder's place while the run wrote its files is
// not the run's: the run ends with 87, leaves it alone and takes back
// everything else.
TEST_F(InstallSharedWorkTest, FolderMadeMeanwhileAtANewFoldersPlaceIsLeftAlone) {
    if (!fs_features::kExclusiveRename) {
        GTEST_SKIP()
            << "without a rename that replaces nothing, new folders are made level by level";
    }
    WriteFile(T("keep/a.cfg"), "installed", kBaseSeconds - 100);
    const Tree before = Snapshot(m_target);
    struct Meddler {
        std::string folder;
        bool done = false;
    } meddler{T("new"), false};
    const auto hook = [](std::int64_t, const char* operation, void* context) {
        Meddler* meddler = static_cast<Meddler*>(context);
        if (!meddler->done && std::string(operation) == "RenameAt") {
            meddler->done = true;
            WriteFile(meddler->folder + "/mine.cfg", "the user's", kBaseSeconds);
        }
    };
    const RunResult result = Install({{"keep\\a.cfg", "kit a", kBaseSeconds},
                                      {"new\\deep\\x.cfg", "kit x", kBaseSeconds},
                                      {"new\\y.cfg", "kit y", kBaseSeconds}},
                                     hook, &meddler);
    ASSERT_TRUE(meddler.done);
    EXPECT_EQ(result.code, kErrorInvalidParameter);
    Tree expected = before;
    expected["new"].directory = true;
    expected["new/mine.cfg"].bytes = "the user's";
    expected["new/mine.cfg"].mtime = kBaseSeconds;
    EXPECT_EQ(Snapshot(m_target), expected);
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
}

// Many replacements are exchanged on two threads: every one lands, each
// earlier copy counted once; a cancel or a failed exchange in the middle of
// them takes every one back.
TEST_F(InstallSharedWorkTest, ManyExchangesOnTwoThreadsAreAllOrNothing) {
    const std::vector<KitFile> files = Interleaved(600, 10);
    auto writeOlder = [&] {
        std::filesystem::remove_all(m_target);
        for (std::size_t i = 0; i < files.size(); ++i) {
            WriteFile(T(PlaceOf(files, i)), "old " + std::to_string(i), kBaseSeconds - 100);
        }
    };
    struct Exchanges {
        std::atomic<int> seen{0};
        FaultyData* cancel = nullptr;
    };
    const auto hook = [](std::int64_t, const char* operation, void* context) {
        Exchanges* exchanges = static_cast<Exchanges*>(context);
        if (std::string(operation) == "ExchangeAt" && ++exchanges->seen == 300 &&
            exchanges->cancel != nullptr) {
            exchanges->cancel->Cancel();
        }
    };
    writeOlder();
    const Tree before = Snapshot(m_target);
    Exchanges counted;
    ASSERT_EQ(Install(files, hook, &counted).code, kErrorSuccess);
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(ReadFile(T(PlaceOf(files, i))), files[i].bytes);
    }
    const std::vector<std::string>& backedUp = m_worker.Entries().back().m_backedUpFiles;
    EXPECT_EQ(std::set<std::string>(backedUp.begin(), backedUp.end()).size(), files.size());
    EXPECT_EQ(backedUp.size(), files.size());
    EXPECT_EQ(counted.seen, fs_features::kExchangeRename ? 600 : 0);

    if (fs_features::kExchangeRename) {
        writeOlder();
        Exchanges cancelled;
        cancelled.cancel = &m_data;
        EXPECT_EQ(Install(files, hook, &cancelled).code, kErrorCancelled);
        EXPECT_EQ(Snapshot(m_target), before);

        writeOlder();
        FaultyKit kit;
        ASSERT_EQ(kit.Load(U16(m_kitPath)), kErrorSuccess);
        m_data.SetInstallData(&kit, U16(m_target));
        FaultSchedule::ArmNamed("ExchangeAt", 300);
        EXPECT_EQ(m_worker.Run(&m_data), kErrorInvalidParameter);
        EXPECT_TRUE(FaultSchedule::Injected());
        FaultSchedule::Disarm();
        EXPECT_EQ(Snapshot(m_target), before);
    }
    EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
}

// A kit read while it inflates passes the files' data through a window in
// memory smaller than each file here, so a writer can be waiting for bytes
// that only come once the other writer has taken its own. When that other
// one stops between two files (a failed file, a cancel), the waiting one
// must still be let go: the run ends, with everything taken back.
TEST_F(InstallSharedWorkTest, AWriterStoppingWhileTheOtherWaitsForTheKitEndsTheRun) {
    std::vector<KitFile> files;
    for (unsigned i = 0; i < 8; ++i) {
        files.push_back(
            {"big\\f" + std::to_string(i) + ".bin", kit_test::Pattern(3 << 20, i), kBaseSeconds});
    }
    ASSERT_EQ(BuildKit(m_kitPath, files), "");
    WriteFile(T("keep.cfg"), "installed", kBaseSeconds - 100);
    const Tree before = Snapshot(m_target);
    struct Stopper {
        std::atomic<bool> stopped{false};
        FaultyData* cancel = nullptr;
    };
    // At the first file's end its writer pauses, long enough for the other
    // to wait on the kit, then stops before its next file.
    const auto hook = [](std::int64_t, const char* operation, void* context) {
        Stopper* stopper = static_cast<Stopper*>(context);
        if (std::string(operation) == "SetTimes" && !stopper->stopped.exchange(true)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (stopper->cancel != nullptr) {
                stopper->cancel->Cancel();
            } else {
                FaultSchedule::ArmNamed("CreateExclusiveAt", 1);
            }
        }
    };
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "a cancel" : "a failed file");
        FaultyKit kit;
        ASSERT_EQ(kit.Begin(U16(m_kitPath)), kErrorSuccess);
        m_data.Init();
        m_data.SetInstallData(&kit, U16(m_target));
        Stopper stopper;
        stopper.cancel = cancel ? &m_data : nullptr;
        FaultSchedule::SetHook(hook, &stopper);
        FaultSchedule::Arm(0);
        const ErrorCode code = m_worker.Run(&m_data);
        FaultSchedule::Disarm();
        FaultSchedule::SetHook(nullptr, nullptr);
        EXPECT_TRUE(stopper.stopped);
        EXPECT_EQ(code, cancel ? kErrorCancelled : kErrorInvalidParameter);
        EXPECT_EQ(Snapshot(m_target), before);
        EXPECT_TRUE(EntriesWithPrefix(m_temp, "qrstp").empty());
    }
}

}  // namespace
