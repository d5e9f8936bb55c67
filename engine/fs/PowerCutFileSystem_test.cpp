// The power-cut policy: what a disk with a volatile write cache keeps of a
// sequence of operations cut at any point, over a range of seeds.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "engine/fs/FileSystemFeatures.h"
#include "engine/fs/FileSystemTestSupport.h"
#include "engine/fs/PowerCutFileSystem.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

constexpr std::int64_t kOldSeconds = 1500000000;
constexpr std::int64_t kNewSeconds = 1600000000;
constexpr std::uint32_t kSeeds = 64;
// What a SyncAll action gives where SyncFileSystem is not available.
constexpr ErrorCode kNoSyncFileSystem = 0xFFFFFFFFu;

// One call of the policy, on a path below the test's directory.
enum class Call {
    Create,         // CreateExclusive
    CreateAt,       // CreateExclusiveAt
    OpenTruncate,   // Open with kDispositionTruncate
    Write,          // the argument's bytes
    Copy,           // CopyRangeAt of 4 bytes of "source" from the argument's offset
    SetTime,        // SetTimes to kNewSeconds
    Close,          //
    FileSync,       // Sync of the file's handle
    DirSync,        // SyncDirectory
    DirHandleSync,  // Sync of an OpenDirectory handle
    SyncAll,        // SyncFileSystem on an OpenDirectory handle
    MakeDir,        // MakeDirectory
    Rename,         // Rename to the argument, no replace
    Replace,        // Rename to the argument, replacing
    RenameAt,       // RenameAt to the argument, no replace
    ExchangeAt,     // ExchangeAt with the argument
    Remove,         // RemoveFile
    RemoveAt,       // RemoveFileAt
    Rmdir,          // RemoveDirectory
    RemoveTree,
};

struct Action {
    Call call;
    const char* path;
    const char* argument;
    ErrorCode expected;
};

Action Do(Call call, const char* path, const char* argument = "",
          ErrorCode expected = kErrorSuccess) {
    return {call, path, argument, expected};
}
Action Fails(Call call, const char* path, ErrorCode expected, const char* argument = "") {
    return {call, path, argument, expected};
}

class PowerCutTest : public ::testing::Test {
protected:
    void SetUp() override {
        Reset({});
        WriteFile(m_dir / "source", "0123456789");
    }

    std::vector<PowerCut::Root> Roots() const {
        return {{m_dir / "disk", true}, {m_dir / "memory", false}};
    }

    // Empty roots, then each "root/file=bytes" (time kOldSeconds) and
    // "root/directory/".
    void Reset(const std::vector<const char*>& before) {
        for (const char* root : {"disk", "memory"}) {
            std::filesystem::remove_all(m_dir / root);
            std::filesystem::create_directories(m_dir / root);
        }
        for (const std::string entry : before) {
            const std::size_t equals = entry.find('=');
            if (equals == std::string::npos) {
                std::filesystem::create_directories(m_dir / entry);
                continue;
            }
            const std::string path = m_dir / entry.substr(0, equals);
            WriteFile(path, entry.substr(equals + 1));
            power_cut::StoreTime(path, kOldSeconds);
        }
        m_handles.clear();
    }

    // Every entry of both roots: "root/directory/" or "root/file=bytes".
    std::string State() const {
        std::string text;
        for (const std::string root : {"disk", "memory"}) {
            for (const auto& entry : fs_test::Snapshot(m_dir / root)) {
                text += (text.empty() ? "" : " ") + root + "/" + entry.first +
                        (entry.second.directory ? "/" : "=" + entry.second.bytes);
            }
        }
        return text;
    }

    FileHandle OpenDirectory(const std::string& path) {
        FileHandle handle = kInvalidHandle;
        EXPECT_EQ(m_fs.OpenDirectoryAt(kInvalidHandle, path, &handle), kErrorSuccess) << path;
        return handle;
    }

    ErrorCode Run(const Action& action) {
        const std::string path = m_dir / action.path;
        const std::string argument = action.argument;
        const std::string parent = path.substr(0, path.rfind('/'));
        const std::string leaf = path.substr(path.rfind('/') + 1);
        FileHandle& handle = m_handles[action.path];
        FileHandle directory = kInvalidHandle;
        ErrorCode code = kErrorSuccess;
        std::uint32_t count = 0;
        const FileTime time = FileSystem::FromUnixSeconds(kNewSeconds);
        switch (action.call) {
            case Call::Create:
                return m_fs.CreateExclusive(U16(path), false, &handle);
            case Call::CreateAt:
                directory = OpenDirectory(parent);
                code = m_fs.CreateExclusiveAt(directory, leaf, false, &handle);
                break;
            case Call::OpenTruncate:
                return m_fs.Open(U16(path), kAccessWrite, 0, kDispositionTruncate, &handle,
                                 kAttributeNormal);
            case Call::Write:
                return m_fs.Write(handle, argument.data(),
                                  static_cast<std::uint32_t>(argument.size()), &count);
            case Call::Copy:
                EXPECT_EQ(m_fs.Open(U16(m_dir / "source"), kAccessRead, 0, kDispositionOpenExisting,
                                    &directory, kAttributeNormal),
                          kErrorSuccess);
                if (!m_fs.CopyRangeAt(directory, std::stoul(argument), handle, 4, &count, &code)) {
                    // Where the kernel cannot copy, the caller reads and writes, as the
                    // kit reader does; the cut must keep the same bytes either way.
                    char bytes[4] = {};
                    EXPECT_EQ(m_fs.ReadAt(directory, std::stoul(argument), bytes, 4, &count),
                              kErrorSuccess);
                    code = m_fs.Write(handle, bytes, count, &count);
                }
                break;
            case Call::SetTime:
                return m_fs.SetTimes(handle, nullptr, nullptr, &time);
            case Call::Close:
                m_fs.Close(handle);
                return kErrorSuccess;
            case Call::FileSync:
                return m_fs.Sync(handle);
            case Call::DirSync:
                return m_fs.SyncDirectory(U16(path));
            case Call::DirHandleSync:
                directory = OpenDirectory(path);
                code = m_fs.Sync(directory);
                break;
            case Call::SyncAll:
                directory = OpenDirectory(path);
                if (!m_fs.SyncFileSystem(directory, &code)) {
                    code = kNoSyncFileSystem;
                }
                break;
            case Call::MakeDir:
                return m_fs.MakeDirectory(U16(path));
            case Call::Rename:
            case Call::Replace:
                return m_fs.Rename(U16(path), U16(m_dir / argument), action.call == Call::Replace);
            case Call::RenameAt:
            case Call::ExchangeAt: {
                directory = OpenDirectory(parent);
                const std::string to = m_dir / argument;
                const FileHandle toDirectory = OpenDirectory(to.substr(0, to.rfind('/')));
                const std::string toLeaf = to.substr(to.rfind('/') + 1);
                code = action.call == Call::RenameAt
                           ? m_fs.RenameAt(directory, leaf, toDirectory, toLeaf, false)
                           : m_fs.ExchangeAt(directory, leaf, toDirectory, toLeaf);
                m_fs.Close(toDirectory);
                break;
            }
            case Call::Remove:
                return m_fs.RemoveFile(U16(path));
            case Call::RemoveAt:
                directory = OpenDirectory(parent);
                code = m_fs.RemoveFileAt(directory, leaf);
                break;
            case Call::Rmdir:
                return m_fs.RemoveDirectory(U16(path));
            case Call::RemoveTree:
                return m_fs.RemoveTree(U16(path));
        }
        m_fs.Close(directory);
        return code;
    }

    TempDir m_dir;
    PowerCutFileSystem m_fs;
    std::map<std::string, FileHandle> m_handles;
};

// What the policy counted: numbered operations, changes recorded, and
// those durable.
struct Counts {
    std::int64_t operations;
    std::size_t recorded;
    std::size_t durable;
};

struct Case {
    const char* name;
    std::vector<Action> actions;
    // The disk right after the actions, and every state the rebuild gives
    // over the seeds.
    std::string live;
    std::set<std::string> states;
    Counts counts;
    // What the roots hold at the start (see Reset).
    std::vector<const char*> before = {};
    std::int64_t cutAt = 0;
    bool syncFileSystem = true;
};

TEST_F(PowerCutTest, RebuildKeepsWhatSyncsMadeDurableAndAnyOfTheRest) {
    // clang-format off
    const Case cases[] = {
        {"an unsynced creation",
         {Do(Call::Create, "disk/a"), Do(Call::Write, "disk/a", "x"), Do(Call::Close, "disk/a")},
         "disk/a=x", {"", "disk/a=", "disk/a=x"}, {2, 2, 0}},
        {"fsynced data without its entry",
         {Do(Call::Create, "disk/a"), Do(Call::Write, "disk/a", "x"), Do(Call::FileSync, "disk/a"),
          Do(Call::Close, "disk/a")},
         "disk/a=x", {"", "disk/a=x"}, {3, 2, 1}},
        {"a synced entry without its data",
         {Do(Call::Create, "disk/a"), Do(Call::Write, "disk/a", "x"), Do(Call::DirSync, "disk"),
          Do(Call::Close, "disk/a")},
         "disk/a=x", {"disk/a=", "disk/a=x"}, {3, 2, 1}},
        {"written and copied data and its entry synced",
         {Do(Call::CreateAt, "disk/a"), Do(Call::Write, "disk/a", "x"),
          Do(Call::Copy, "disk/a", "3"), Do(Call::FileSync, "disk/a"), Do(Call::Close, "disk/a"),
          Do(Call::DirHandleSync, "disk")},
         "disk/a=x3456", {"disk/a=x3456"}, {5, 3, 3}},
        {"a truncation and a write, kept one by one",
         {Do(Call::OpenTruncate, "disk/a"), Do(Call::Write, "disk/a", "n"),
          Do(Call::Close, "disk/a")},
         "disk/a=n", {"disk/a=old", "disk/a=", "disk/a=n", "disk/a=nld"}, {2, 2, 0},
         {"disk/a=old"}},
        {"a synced rename",
         {Do(Call::Rename, "disk/a", "disk/b"), Do(Call::DirSync, "disk")},
         "disk/b=old", {"disk/b=old"}, {2, 1, 1}, {"disk/a=old"}},
        {"an unsynced rename is atomic",
         {Do(Call::Rename, "disk/a", "disk/b")},
         "disk/b=old", {"disk/a=old", "disk/b=old"}, {1, 1, 0}, {"disk/a=old"}},
        {"a rename between directories with one synced",
         {Do(Call::RenameAt, "disk/d/a", "disk/e/a"), Do(Call::DirSync, "disk/e")},
         "disk/d/ disk/e/ disk/e/a=old",
         {"disk/d/ disk/d/a=old disk/e/", "disk/d/ disk/e/ disk/e/a=old"}, {2, 1, 0},
         {"disk/d/a=old", "disk/e/"}},
        {"a rename between directories with both synced",
         {Do(Call::RenameAt, "disk/d/a", "disk/e/a"), Do(Call::DirSync, "disk/e"),
          Do(Call::DirSync, "disk/d")},
         "disk/d/ disk/e/ disk/e/a=old", {"disk/d/ disk/e/ disk/e/a=old"}, {3, 1, 1},
         {"disk/d/a=old", "disk/e/"}},
        {"an exchange between directories is atomic until both are synced",
         {Do(Call::ExchangeAt, "disk/d/a", "disk/e/b"), Do(Call::DirSync, "disk/e")},
         "disk/d/ disk/d/a=2 disk/e/ disk/e/b=1",
         {"disk/d/ disk/d/a=1 disk/e/ disk/e/b=2", "disk/d/ disk/d/a=2 disk/e/ disk/e/b=1"},
         {2, 1, 0}, {"disk/d/a=1", "disk/e/b=2"}},
        {"a synced exchange",
         {Do(Call::ExchangeAt, "disk/d/a", "disk/e/b"), Do(Call::DirSync, "disk/e"),
          Do(Call::DirSync, "disk/d")},
         "disk/d/ disk/d/a=2 disk/e/ disk/e/b=1", {"disk/d/ disk/d/a=2 disk/e/ disk/e/b=1"},
         {3, 1, 1}, {"disk/d/a=1", "disk/e/b=2"}},
        {"a written temporary replacing a file",
         {Do(Call::CreateAt, "disk/t"), Do(Call::Write, "disk/t", "new"),
          Do(Call::FileSync, "disk/t"), Do(Call::Close, "disk/t"),
          Do(Call::Replace, "disk/t", "disk/a")},
         "disk/a=new", {"disk/a=old", "disk/a=old disk/t=new", "disk/a=new"}, {4, 3, 1},
         {"disk/a=old"}},
        {"SyncFileSystem",
         {Do(Call::MakeDir, "disk/d/e"), Do(Call::Create, "disk/d/e/a"),
          Do(Call::Write, "disk/d/e/a", "x"), Do(Call::Close, "disk/d/e/a"),
          Do(Call::Rename, "disk/d/e/a", "disk/d/b"), Do(Call::SyncAll, "disk")},
         "disk/d/ disk/d/b=x disk/d/e/", {"disk/d/ disk/d/b=x disk/d/e/"}, {5, 5, 5}},
        {"no SyncFileSystem",
         {Do(Call::Create, "disk/a"), Do(Call::Write, "disk/a", "x"), Do(Call::Close, "disk/a"),
          Do(Call::Rename, "disk/a", "disk/b"), Fails(Call::SyncAll, "disk", kNoSyncFileSystem)},
         "disk/b=x", {"", "disk/a=", "disk/a=x", "disk/b=", "disk/b=x"}, {3, 3, 0}, {}, 0, false},
        {"a volatile root",
         {Do(Call::Create, "memory/a"), Do(Call::Write, "memory/a", "x"),
          Do(Call::FileSync, "memory/a"), Do(Call::Close, "memory/a"),
          Do(Call::DirSync, "memory"), Do(Call::SyncAll, "memory")},
         "disk/k=keep memory/a=x memory/old=1", {"disk/k=keep"}, {5, 2, 0},
         {"memory/old=1", "disk/k=keep"}},
        {"removals in a tree",
         {Do(Call::RemoveTree, "disk/d")},
         "", {"disk/d/ disk/d/f=1", "disk/d/", ""}, {1, 2, 0}, {"disk/d/f=1"}},
        {"a durable removal of a directory kept full",
         {Do(Call::RemoveTree, "disk/d"), Do(Call::DirSync, "disk")},
         "", {"disk/d/ disk/d/f=1", ""}, {2, 2, 1}, {"disk/d/f=1"}},
        {"removals one by one",
         {Do(Call::Remove, "disk/a"), Do(Call::RemoveAt, "disk/b"), Do(Call::Rmdir, "disk/d"),
          Do(Call::DirSync, "disk")},
         "", {""}, {4, 3, 3}, {"disk/a=1", "disk/b=2", "disk/d/"}},
        {"a cut",
         {Do(Call::Create, "disk/a"), Do(Call::Write, "disk/a", "x"),
          Fails(Call::FileSync, "disk/a", kErrorInvalidParameter),
          Fails(Call::Write, "disk/a", kErrorInvalidParameter, "y"),
          Fails(Call::SetTime, "disk/a", kErrorInvalidParameter), Do(Call::Close, "disk/a"),
          Fails(Call::DirSync, "disk", kErrorInvalidParameter),
          Fails(Call::SyncAll, "disk", kErrorInvalidParameter),
          Fails(Call::Rename, "disk/a", kErrorInvalidParameter, "disk/b"),
          Fails(Call::MakeDir, "disk/d", kErrorInvalidParameter),
          Fails(Call::Create, "disk/c", kErrorInvalidParameter), Do(Call::Remove, "disk/a"),
          Fails(Call::RemoveAt, "disk/a", kErrorInvalidParameter)},
         "disk/a=x", {"", "disk/a=", "disk/a=x"}, {2, 2, 0}, {}, 3},
    };
    // clang-format on
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.name);
        const bool exchanges =
            std::any_of(entry.actions.begin(), entry.actions.end(),
                        [](const Action& action) { return action.call == Call::ExchangeAt; });
        if (exchanges && !fs_features::kExchangeRename) {
            continue;
        }
        Reset(entry.before);
        std::set<std::string> states;
        {
            PowerCutSession session(Roots());
            PowerCut::SetSyncFileSystemAvailable(entry.syncFileSystem);
            PowerCut::CutAt(entry.cutAt);
            for (const Action& action : entry.actions) {
                SCOPED_TRACE(std::to_string(static_cast<int>(action.call)) + " " + action.path);
                EXPECT_EQ(Run(action), action.expected);
            }
            EXPECT_EQ(State(), entry.live);
            EXPECT_EQ(PowerCut::Operations(), entry.counts.operations);
            EXPECT_EQ(PowerCut::Recorded(), entry.counts.recorded);
            EXPECT_EQ(PowerCut::Durable(), entry.counts.durable);
            EXPECT_EQ(PowerCut::CutReached(), entry.cutAt != 0);
            for (std::uint32_t seed = 0; seed < kSeeds; ++seed) {
                PowerCut::Rebuild(seed);
                states.insert(State());
            }
        }
        EXPECT_EQ(states, entry.states);
    }
}

TEST_F(PowerCutTest, RebuildGivesBackTimesPermissionBitsAndLinks) {
    Reset({"disk/old=old", "disk/ro/f=1"});
    ASSERT_EQ(chmod((m_dir / "disk/old").c_str(), 0640), 0);
    ASSERT_EQ(chmod((m_dir / "disk/ro/f").c_str(), 0604), 0);
    ASSERT_EQ(chmod((m_dir / "disk/ro").c_str(), 0500), 0);
    ASSERT_EQ(symlink("old", (m_dir / "disk/link").c_str()), 0);
    PowerCutSession session(Roots());
    FileHandle handle = kInvalidHandle;
    ASSERT_EQ(m_fs.CreateExclusive(U16(m_dir / "disk/new"), true, &handle), kErrorSuccess);
    std::uint32_t written = 0;
    EXPECT_EQ(m_fs.Write(handle, "new", 3, &written), kErrorSuccess);
    const FileTime time = FileSystem::FromUnixSeconds(kNewSeconds);
    EXPECT_EQ(m_fs.SetTimes(handle, nullptr, nullptr, &time), kErrorSuccess);
    EXPECT_EQ(m_fs.Sync(handle), kErrorSuccess);
    m_fs.Close(handle);
    EXPECT_EQ(m_fs.SyncDirectory(U16(m_dir / "disk")), kErrorSuccess);
    const struct {
        const char* path;
        mode_t mode;
        std::int64_t seconds;
    } expected[] = {
        {"disk/old", S_IFREG | 0640, kOldSeconds}, {"disk/new", S_IFREG | 0600, kNewSeconds},
        {"disk/ro", S_IFDIR | 0500, -1},           {"disk/ro/f", S_IFREG | 0604, kOldSeconds},
        {"disk/link", S_IFLNK | 0777, -1},
    };
    const std::string state = "disk/link=old disk/new=new disk/old=old disk/ro/ disk/ro/f=1";
    // A second rebuild puts back whatever differs from the state it gives,
    // however little.
    const std::function<void()> changes[] = {
        [] {},
        [this] { ASSERT_EQ(chmod((m_dir / "disk/old").c_str(), 0600), 0); },
        [this] { power_cut::StoreTime(m_dir / "disk/ro/f", kNewSeconds); },
        [this] { WriteFile(m_dir / "disk/new", "NEW"); },
        [this] {
            ASSERT_EQ(unlink((m_dir / "disk/link").c_str()), 0);
            ASSERT_EQ(symlink("new", (m_dir / "disk/link").c_str()), 0);
        },
        [this] { ASSERT_EQ(chmod((m_dir / "disk/ro").c_str(), 0700), 0); },
        [this] { WriteFile(m_dir / "disk/ro/extra", ""); },
        [this] { std::filesystem::remove_all(m_dir / "disk/ro"); },
    };
    for (const auto& change : changes) {
        change();
        PowerCut::Rebuild(0);
        EXPECT_EQ(State(), state);
        for (const auto& entry : expected) {
            SCOPED_TRACE(entry.path);
            struct stat status;
            ASSERT_EQ(lstat((m_dir / entry.path).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode, entry.mode);
            if (entry.seconds >= 0) {
                EXPECT_EQ(status.st_mtime, entry.seconds);
            }
        }
        EXPECT_EQ(std::filesystem::read_symlink(m_dir / "disk/link"), "old");
    }
}

TEST_F(PowerCutTest, ReadsPassThroughOnceThePowerIsOff) {
    Reset({"disk/a=old"});
    PowerCutSession session(Roots());
    PowerCut::CutAt(1);
    EXPECT_EQ(m_fs.CreateDirectory(U16(m_dir / "disk/d"), false), kErrorInvalidParameter);
    EXPECT_TRUE(PowerCut::CutReached());
    EXPECT_EQ(m_fs.LastError(), kErrorInvalidParameter);

    FileHandle file = kInvalidHandle;
    ASSERT_EQ(m_fs.Open(U16(m_dir / "disk/a"), kAccessRead, 0, kDispositionOpenExisting, &file,
                        kAttributeNormal),
              kErrorSuccess);
    char buffer[8] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(m_fs.Read(file, buffer, sizeof(buffer), &got), kErrorSuccess);
    EXPECT_EQ(std::string(buffer, got), "old");
    m_fs.Close(file);
    FileStatus status;
    EXPECT_EQ(m_fs.Status(U16(m_dir / "disk/a"), &status), kErrorSuccess);
    EXPECT_EQ(status.type, FileType::Regular);
    const FileHandle directory = OpenDirectory(m_dir / "disk");
    std::vector<std::string> names;
    EXPECT_EQ(m_fs.ListDirectory(directory, &names), kErrorSuccess);
    EXPECT_EQ(names, std::vector<std::string>{"a"});
    m_fs.Close(directory);

    // Once the recording ends, everything passes through unrecorded.
    PowerCut::End();
    EXPECT_EQ(m_fs.CreateDirectory(U16(m_dir / "disk/d"), false), kErrorSuccess);
    EXPECT_NE(m_fs.LastError(), kErrorInvalidParameter);
    EXPECT_EQ(PowerCut::Operations(), 0);
    EXPECT_EQ(PowerCut::Recorded(), 0u);
}

TEST_F(PowerCutTest, AVolatileRootIsAFileSystemOfItsOwn) {
    Reset({"disk/a=1", "memory/b=2"});
    PowerCutSession session(Roots());
    StorageInfo disk;
    StorageInfo memory;
    ASSERT_EQ(m_fs.StorageOf(U16(m_dir / "disk"), &disk), kErrorSuccess);
    ASSERT_EQ(m_fs.StorageOf(U16(m_dir / "memory/b"), &memory), kErrorSuccess);
    EXPECT_TRUE(disk.persistent);
    EXPECT_FALSE(memory.persistent);
    EXPECT_NE(memory.device, disk.device);
    FileStatus status;
    ASSERT_EQ(m_fs.Status(U16(m_dir / "memory/b"), &status), kErrorSuccess);
    EXPECT_EQ(status.device, memory.device);
    ASSERT_EQ(m_fs.Status(U16(m_dir / "disk/a"), &status), kErrorSuccess);
    EXPECT_EQ(status.device, disk.device);

    EXPECT_EQ(m_fs.Rename(U16(m_dir / "disk/a"), U16(m_dir / "memory/a"), false),
              kErrorInvalidParameter);
    EXPECT_EQ(m_fs.Rename(U16(m_dir / "memory/b"), U16(m_dir / "memory/c"), false), kErrorSuccess);
    EXPECT_EQ(State(), "disk/a=1 memory/c=2");
    EXPECT_EQ(PowerCut::Recorded(), 1u);
}

TEST_F(PowerCutTest, ThreadsRecordEveryChange) {
    PowerCutSession session(Roots());
    auto write = [this](const std::string& prefix) {
        for (int i = 0; i < 20; ++i) {
            FileHandle handle = kInvalidHandle;
            const std::string path = m_dir / ("disk/" + prefix + std::to_string(i));
            ASSERT_EQ(m_fs.CreateExclusive(U16(path), false, &handle), kErrorSuccess);
            std::uint32_t written = 0;
            EXPECT_EQ(m_fs.Write(handle, prefix.data(), 1, &written), kErrorSuccess);
            EXPECT_EQ(m_fs.Sync(handle), kErrorSuccess);
            m_fs.Close(handle);
        }
    };
    std::thread other(write, "b");
    write("a");
    other.join();
    EXPECT_EQ(PowerCut::Operations(), 120);
    EXPECT_EQ(PowerCut::Recorded(), 80u);
    EXPECT_EQ(PowerCut::Durable(), 40u);
}

TEST_F(PowerCutTest, ARecordingStillRunningIsAFailure) {
    PowerCut::Begin(Roots());
    EXPECT_NONFATAL_FAILURE(PowerCut::Begin(Roots()), "still running");
    PowerCut::Discard();
    EXPECT_NONFATAL_FAILURE(PowerCutSession({{"relative", true}}), "absolute");
    EXPECT_NONFATAL_FAILURE(PowerCutSession({{m_dir.path(), true}, {m_dir / "disk", false}}),
                            "do not nest");
}

}  // namespace
