#include <string>

#include <gtest/gtest.h>

#include "engine/fs/FaultInjectingFileSystem.h"
#include "kit/InstallData.h"
#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::MultiStream;
using kit_test::ScopedTempRoot;
using kit_test::WriteKit;

namespace {

using FaultyKit = InstallData<LZCompressor, FaultInjectingFileSystem>;

struct Disarm {
    ~Disarm() {
        FaultSchedule::Disarm();
        FaultSchedule::SetHook(nullptr, nullptr);
    }
};

// Whether the operation numbered as armed is one that can fail: Close,
// Unmap, RemoveFile and TempDirectory are counted but have no failure.
struct FailableWatch {
    bool armedCanFail = false;
    std::int64_t armed = 0;
    static void Hook(std::int64_t number, const char* operation, void* context) {
        FailableWatch* self = static_cast<FailableWatch*>(context);
        if (number == self->armed) {
            const std::string name = operation;
            self->armedCanFail = name != "Close" && name != "Unmap" && name != "RemoveFile" &&
                                 name != "TempDirectory";
        }
    }
    void Arm(std::int64_t n) {
        armed = n;
        armedCanFail = false;
        FaultSchedule::SetHook(&FailableWatch::Hook, this);
        FaultSchedule::Arm(n);
    }
};

// Each file-system call of a Load fails in turn: the load must report it and
// leave nothing behind.
TEST(InstallDataFaults, EveryFailingCallDuringLoadIsReported) {
    ScopedTempRoot temp;
    TempDir dir;
    Disarm disarm;
    WriteKit(dir / "kit",
             MultiStream({{u"en", u"P", u"V", u"d"}},
                         {{u"a", 1, kit_test::Pattern(200000, 2)}, {u"b", 1, "b"}}),
             0);
    FaultSchedule::Arm(0);
    {
        FaultyKit kit;
        ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    }
    const std::int64_t operations = FaultSchedule::Operations();
    ASSERT_GT(operations, 10);
    int injected = 0;
    FailableWatch watch;
    for (std::int64_t n = 1; n <= operations; ++n) {
        watch.Arm(n);
        FaultyKit kit;
        const ErrorCode code = kit.Load(U16(dir / "kit"));
        FaultSchedule::Disarm();
        if (watch.armedCanFail) {
            ++injected;
            EXPECT_NE(code, 0u) << "operation " << n;
            EXPECT_FALSE(kit.IsLoaded());
            EXPECT_TRUE(kit.m_files.empty());
        }
        EXPECT_EQ(temp.StreamFiles(), 0u) << "operation " << n;
    }
    EXPECT_GT(injected, 5);
}

TEST(InstallDataFaults, EveryFailingCallDuringExtractionIsReported) {
    ScopedTempRoot temp;
    TempDir dir;
    Disarm disarm;
    const std::string bytes = kit_test::Pattern(2621440, 4);
    WriteKit(dir / "kit", MultiStream({}, {{u"big", 1, bytes}}));
    FaultyKit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    FaultSchedule::Arm(0);
    ASSERT_EQ(kit.ExtractFile(0, U16(dir / "out")), 0u);
    const std::int64_t operations = FaultSchedule::Operations();
    FailableWatch watch;
    for (std::int64_t n = 1; n <= operations; ++n) {
        watch.Arm(n);
        const ErrorCode code = kit.ExtractFile(0, U16(dir / "out"));
        FaultSchedule::Disarm();
        if (watch.armedCanFail) {
            EXPECT_NE(code, 0u) << "operation " << n;
        }
    }
    // And the kit is still whole afterwards.
    ASSERT_EQ(kit.ExtractFile(0, U16(dir / "out")), 0u);
    EXPECT_EQ(ReadFile(dir / "out"), bytes);
}

// Reads that deliver nothing, as from a stream file cut short under us.
struct StarvedFileSystem : FileSystem {
    bool m_starve = false;
    ErrorCode ReadAt(FileHandle handle, std::uint64_t offset, void* buffer, std::uint32_t count,
                     std::uint32_t* got) {
        if (m_starve) {
            *got = 0;
            return kErrorSuccess;
        }
        return FileSystem::ReadAt(handle, offset, buffer, count, got);
    }
    bool CopyRangeAt(FileHandle source, std::uint64_t offset, FileHandle target,
                     std::uint32_t count, std::uint32_t* copied, ErrorCode* code) {
        return !m_starve && FileSystem::CopyRangeAt(source, offset, target, count, copied, code);
    }
};

TEST(InstallDataFaults, ExtractionFailsInsteadOfSpinningWhenReadsStarve) {
    ScopedTempRoot temp;
    TempDir dir;
    WriteKit(dir / "kit", MultiStream({}, {{u"f", 1, "contents"}}));
    InstallData<LZCompressor, StarvedFileSystem> kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    kit.m_fileSystem.m_starve = true;
    EXPECT_NE(kit.ExtractFile(0, U16(dir / "out")), 0u);
    kit.m_fileSystem.m_starve = false;
    EXPECT_EQ(kit.ExtractFile(0, U16(dir / "out")), 0u);
    EXPECT_EQ(ReadFile(dir / "out"), "contents");
}

// Without a kernel copy the 1 MiB buffer carries the bytes: a 2.5 MiB file
// takes three reads, and only its last half MiB comes from the third.
struct BufferedFileSystem : FileSystem {
    int m_reads = 0;
    ErrorCode ReadAt(FileHandle handle, std::uint64_t offset, void* buffer, std::uint32_t count,
                     std::uint32_t* got) {
        ++m_reads;
        return FileSystem::ReadAt(handle, offset, buffer, count, got);
    }
    bool CopyRangeAt(FileHandle, std::uint64_t, FileHandle, std::uint32_t, std::uint32_t*,
                     ErrorCode*) {
        return false;
    }
};

TEST(InstallDataFaults, BufferedCopyOfTwoAndAHalfMiB) {
    ScopedTempRoot temp;
    TempDir dir;
    const std::string bytes = kit_test::Pattern(2621440, 9);
    WriteKit(dir / "kit", MultiStream({}, {{u"big", 1, bytes}, {u"after", 1, "AFTER"}}));
    InstallData<LZCompressor, BufferedFileSystem> kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    WriteFile(dir / "out", std::string(3000000, 'z'));
    kit.m_fileSystem.m_reads = 0;
    ASSERT_EQ(kit.ExtractFile(0, U16(dir / "out")), 0u);
    EXPECT_EQ(kit.m_fileSystem.m_reads, 3);
    EXPECT_EQ(ReadFile(dir / "out"), bytes);
}

}  // namespace
