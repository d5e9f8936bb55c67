// The installation benchmarks measure what they say: kits in each order
// hold the same files in that order, the grouped kit is the one the kit
// tool writes, and a run without syncs installs what a durable run does.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/BenchKits.h"
#include "bench/BenchRun.h"
#include "bench/NoSyncFileSystem.h"
#include "kit/InstallData.h"
#include "tests/support/TestKits.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TreeSnapshot.h"

using namespace test_support;

namespace {

// Three folders, four files each, made round robin as the small tree is.
std::vector<bench::SourceFile> MadeFiles() {
    std::vector<bench::SourceFile> files;
    for (int i = 0; i < 12; ++i) {
        files.push_back({"dir" + std::to_string(i % 3) + "/file" + std::to_string(i) + ".cfg",
                         static_cast<std::uint64_t>(10 + i)});
    }
    return files;
}

std::vector<std::string> Paths(const std::vector<bench::SourceFile>& files) {
    std::vector<std::string> paths;
    for (const bench::SourceFile& file : files) {
        paths.push_back(file.relative);
    }
    return paths;
}

std::string Folder(const std::string& path) {
    return path.substr(0, path.find('/'));
}

// Writes the made files under root with their sizes and the kit time.
void WriteMadeTree(const std::string& root) {
    for (const bench::SourceFile& file : MadeFiles()) {
        WriteFile(root + "/" + file.relative, std::string(file.size, 'k'), bench::kKitSeconds);
    }
}

// The names of a kit's records in kit order, with "/" separators.
std::vector<std::string> KitPaths(const std::string& kitPath, kit::IntegrityState* integrity) {
    InstallData<LZCompressor, FileSystem> kit;
    EXPECT_EQ(kit.Load(U16(kitPath)), kErrorSuccess) << kitPath;
    std::vector<std::string> paths;
    for (const auto& record : kit.m_files) {
        std::string path = U8(record.m_name);
        std::replace(path.begin(), path.end(), '\\', '/');
        paths.push_back(path);
        EXPECT_EQ(record.m_lastWriteTime, FileSystem::FromUnixSeconds(bench::kKitSeconds));
    }
    *integrity = kit.Integrity().state;
    return paths;
}

TEST(BenchKitsTest, EachOrderHoldsTheSameFilesInItsOwnOrder) {
    const std::vector<std::string> made = Paths(MadeFiles());
    std::vector<std::string> sorted = made;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::string> backwards(sorted.rbegin(), sorted.rend());
    for (bench::KitOrder order : bench::kKitOrders) {
        SCOPED_TRACE(bench::OrderName(order));
        bench::KitOrder parsed = bench::KitOrder::Grouped;
        ASSERT_TRUE(bench::ParseOrder(bench::OrderName(order), &parsed));
        EXPECT_EQ(parsed, order);
        const std::vector<std::string> paths = Paths(bench::InKitOrder(MadeFiles(), order));
        std::vector<std::string> same = paths;
        std::sort(same.begin(), same.end());
        EXPECT_EQ(same, sorted);
        EXPECT_EQ(Paths(bench::InKitOrder(MadeFiles(), order)), paths) << "not repeatable";
        std::size_t folderChanges = 0;
        for (std::size_t i = 1; i < paths.size(); ++i) {
            folderChanges += Folder(paths[i]) != Folder(paths[i - 1]) ? 1 : 0;
        }
        switch (order) {
            case bench::KitOrder::Grouped:
                EXPECT_EQ(paths, sorted);
                EXPECT_EQ(folderChanges, 2u);
                break;
            case bench::KitOrder::Interleaved:
                EXPECT_EQ(paths, made);
                EXPECT_EQ(folderChanges, paths.size() - 1);
                break;
            case bench::KitOrder::Shuffled:
                EXPECT_NE(paths, sorted);
                EXPECT_NE(paths, made);
                EXPECT_NE(paths, backwards);
                break;
            case bench::KitOrder::Reversed:
                EXPECT_EQ(paths, backwards);
                EXPECT_EQ(folderChanges, 2u);
                break;
        }
    }
    bench::KitOrder untouched = bench::KitOrder::Reversed;
    EXPECT_FALSE(bench::ParseOrder("sorted", &untouched));
    EXPECT_EQ(untouched, bench::KitOrder::Reversed);
}

TEST(BenchKitsTest, KitsHoldTheOrderAndTheGroupedOneIsTheKitToolsOwn) {
    TempDir root;
    const std::string source = root / "source";
    WriteMadeTree(source);
    for (bench::KitOrder order : bench::kKitOrders) {
        for (bool integrity : {false, true}) {
            SCOPED_TRACE(std::string(bench::OrderName(order)) + (integrity ? ", sealed" : ""));
            const std::string kitPath = root / "ordered.pkd";
            kit::KitStats stats;
            std::string error;
            ASSERT_TRUE(bench::WriteOrderedKit(source, MadeFiles(), order, integrity, kitPath,
                                               &stats, &error))
                << error;
            kit::IntegrityState state = kit::IntegrityState::kDamaged;
            EXPECT_EQ(KitPaths(kitPath, &state), Paths(bench::InKitOrder(MadeFiles(), order)));
            EXPECT_EQ(state,
                      integrity ? kit::IntegrityState::kUnsigned : kit::IntegrityState::kNoRecord);
        }
    }
    kit::KitWriter tool;
    std::string error;
    ASSERT_TRUE(tool.AddDirectory(source, nullptr, &error)) << error;
    ASSERT_TRUE(tool.Write(root / "tool.pkd", nullptr, &error)) << error;
    kit::IntegrityState state = kit::IntegrityState::kDamaged;
    EXPECT_EQ(KitPaths(root / "tool.pkd", &state),
              Paths(bench::InKitOrder(MadeFiles(), bench::KitOrder::Grouped)));
}

TEST(BenchKitsTest, RunsWithoutSyncsInstallAndReplaceWhatDurableRunsDo) {
    TempDir root;
    const std::string source = root / "source";
    const std::string kitPath = root / "qarn.pkd";
    WriteMadeTree(source);
    std::string error;
    ASSERT_TRUE(bench::WriteOrderedKit(source, MadeFiles(), bench::KitOrder::Shuffled, false,
                                       kitPath, nullptr, &error))
        << error;
    EnvOverride temp("TMPDIR", root.path());
    const std::string durable = root / "durable";
    const std::string unsynced = root / "unsynced";
    for (std::size_t writers : {1, 2}) {
        SCOPED_TRACE(writers);
        std::filesystem::remove_all(durable);
        std::filesystem::remove_all(unsynced);
        ASSERT_EQ(bench::InstallKit<FileSystem>(kitPath, durable, writers), kErrorSuccess);
        ASSERT_EQ(bench::InstallKit<bench::NoSyncFileSystem>(kitPath, unsynced, writers),
                  kErrorSuccess);
        EXPECT_EQ(Snapshot(unsynced), Snapshot(source));
        EXPECT_EQ(Snapshot(durable), Snapshot(source));
        // Other bytes of the kit's size but one second older: all replaced.
        for (const bench::SourceFile& file : MadeFiles()) {
            WriteFile(unsynced + "/" + file.relative, std::string(file.size, 'o'));
        }
        ASSERT_TRUE(bench::SetTreeTime(unsynced, MadeFiles(), bench::kKitSeconds - 1));
        ASSERT_EQ(bench::InstallKit<bench::NoSyncFileSystem>(kitPath, unsynced, writers),
                  kErrorSuccess);
        EXPECT_EQ(Snapshot(unsynced), Snapshot(source));
    }
}

}  // namespace
