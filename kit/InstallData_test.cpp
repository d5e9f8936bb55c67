#include "kit/InstallData.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::Kit;
using kit_test::MultiStream;
using kit_test::Pattern;
using kit_test::ScopedTempRoot;
using kit_test::TestFile;
using kit_test::WriteKit;
using test_support::BuildKit;
using test_support::KitFile;

namespace {

const FileTime kTime2020 = FileSystem::FromUnixSeconds(1600000000);

// Writer -> Load -> ExtractFile gives every file its bytes and its time.
TEST(InstallDataRoundTrip, WriterKitExtractsBytesAndTimes) {
    ScopedTempRoot temp;
    TempDir dir;
    const std::vector<KitFile> files = {
        {"a.cfg", "alpha", 1600000000},
        {"sub\\empty.cfg", "", 1600000001},
        {"sub\\deep\\big.bin", Pattern(2621440, 1), 86400},
        {"\u041a\u043b\u044e\u0447 $(x) `y` \"q\".cfg", "meta", 1600000000},
    };
    ASSERT_EQ(BuildKit(dir / "qarn.pkd", files,
                       {{{u"en", u"Templates", u"Vendor", u"doc\\readme.html"},
                         {u"DE", u"Vorlagen", u"Anbieter", u""}}}),
              "");

    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "qarn.pkd")), 0u);
    EXPECT_EQ(temp.StreamFiles(), 0u) << "the stream file is unlinked once open";
    ASSERT_EQ(kit.m_products.size(), 2u);
    EXPECT_EQ(kit.m_products[1].m_language, u"DE");
    EXPECT_EQ(kit.m_products[0].m_descriptionPath, u"doc\\readme.html");
    ASSERT_EQ(kit.m_files.size(), files.size());
    // Extract in reverse order and the first one twice: each call seeks.
    for (std::size_t n = files.size() + 1; n-- > 0;) {
        const std::size_t i = n % files.size();
        const std::string target = dir / ("out" + std::to_string(i));
        ASSERT_EQ(kit.ExtractFile(i, U16(target)), 0u) << i;
        EXPECT_EQ(kit.m_files[i].m_name, U16(files[i].name));
        EXPECT_EQ(ReadFile(target), files[i].bytes) << i;
        EXPECT_EQ(fs_test::ModifiedSeconds(target), files[i].seconds);
    }
}

TEST(InstallDataRoundTrip, SingleProductLayoutIsEnglish) {
    ScopedTempRoot temp;
    TempDir dir;
    kit::KitWriter writer;
    writer.SetSingleProduct(true);
    writer.AddProduct({u"fr", u"Product", u"Provider", u"desc.txt"});
    writer.AddFileBytes(u"x", kTime2020, "x");
    std::string error;
    ASSERT_TRUE(writer.Write(dir / "kit", nullptr, &error)) << error;
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    ASSERT_EQ(kit.m_products.size(), 1u);
    EXPECT_EQ(kit.m_products[0].m_language, u"en");
    EXPECT_EQ(kit.m_products[0].m_productName, u"Product");
    EXPECT_EQ(kit.m_products[0].m_providerName, u"Provider");
    EXPECT_EQ(kit.m_products[0].m_descriptionPath, u"desc.txt");
    ASSERT_EQ(kit.m_files.size(), 1u);
}

TEST(InstallDataLayout, EmptySingleProductAndEmptyTables) {
    ScopedTempRoot temp;
    TempDir dir;
    std::string stream;
    kit::AppendU32(&stream, 0);
    for (int i = 0; i < 4; ++i) {
        kit::AppendU32(&stream, 0);  // three empty strings and no files
    }
    WriteKit(dir / "kit", stream);
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    ASSERT_EQ(kit.m_products.size(), 1u);
    EXPECT_EQ(kit.m_products[0].m_language, u"en");
    EXPECT_TRUE(kit.m_products[0].m_productName.empty());
    EXPECT_TRUE(kit.m_files.empty());

    WriteKit(dir / "none", MultiStream({}, {}));
    Kit none;
    ASSERT_EQ(none.Load(U16(dir / "none")), 0u);
    EXPECT_TRUE(none.m_products.empty());
    EXPECT_TRUE(none.m_files.empty());
}

TEST(InstallDataLayout, AnyNonZeroVersionSelectsTheMultiLanguageLayout) {
    ScopedTempRoot temp;
    TempDir dir;
    for (std::uint32_t version : {1u, 2u, 0xFFFFFFFFu}) {
        WriteKit(dir / "kit",
                 MultiStream({{u"en", u"P", u"V", u"d"}}, {{u"f", 1, "data"}}, version));
        Kit kit;
        ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u) << version;
        ASSERT_EQ(kit.m_products.size(), 1u);
        EXPECT_EQ(kit.m_products[0].m_productName, u"P");
        ASSERT_EQ(kit.m_files.size(), 1u);
    }
}

TEST(InstallDataLayout, ExtraRecordBytesAreSkippedAndOffsetsMadeAbsolute) {
    ScopedTempRoot temp;
    TempDir dir;
    const std::vector<TestFile> files = {{u"one", kTime2020, "first"}, {u"two", kTime2020, "2nd"}};
    const std::string stream =
        MultiStream({{u"en", u"P", u"V", u"d"}, {u"de", u"Q", u"W", u""}}, files, 1, 13);
    WriteKit(dir / "kit", stream);
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    ASSERT_EQ(kit.m_products.size(), 2u);
    EXPECT_EQ(kit.m_products[1].m_productName, u"Q");
    const std::uint32_t dataStart = static_cast<std::uint32_t>(stream.size() - 8);
    EXPECT_EQ(kit.m_files[0].m_offset, dataStart);
    EXPECT_EQ(kit.m_files[1].m_offset, dataStart + 5);
    ASSERT_EQ(kit.ExtractFile(1, U16(dir / "two")), 0u);
    EXPECT_EQ(ReadFile(dir / "two"), "2nd");
}

TEST(InstallDataLayout, RecordsMayShareBytesInAnyOrder) {
    ScopedTempRoot temp;
    TempDir dir;
    std::string stream;
    kit::AppendU32(&stream, 1);
    kit::AppendU32(&stream, 0);
    kit::AppendU32(&stream, 3);
    kit::AppendFileRecord(&stream, u"late", 1, 6, 4);
    kit::AppendFileRecord(&stream, u"same1", 1, 0, 6);
    kit::AppendFileRecord(&stream, u"same2", 1, 0, 6);
    stream += "sharedTAIL";
    WriteKit(dir / "kit", stream);
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    ASSERT_EQ(kit.ExtractFile(0, U16(dir / "late")), 0u);
    ASSERT_EQ(kit.ExtractFile(1, U16(dir / "s1")), 0u);
    ASSERT_EQ(kit.ExtractFile(2, U16(dir / "s2")), 0u);
    EXPECT_EQ(ReadFile(dir / "late"), "TAIL");
    EXPECT_EQ(ReadFile(dir / "s1"), "shared");
    EXPECT_EQ(ReadFile(dir / "s2"), "shared");
}

TEST(InstallDataInflate, TrailingBytesAndManyWindowsDoNotChangeTheResult) {
    ScopedTempRoot temp;
    TempDir dir;
    // Stored blocks (level 0) of incompressible data run across many 32 KiB
    // windows, with block boundaries inside them.
    const std::vector<TestFile> files = {{u"big", kTime2020, Pattern(300000, 7)}};
    const std::string stream = MultiStream({}, files);
    WriteKit(dir / "stored", stream, 0);
    WriteKit(dir / "packed", stream, 9);
    WriteFile(dir / "trailing", ReadFile(dir / "packed") + Pattern(70000, 3));
    for (const char* name : {"stored", "packed", "trailing"}) {
        Kit kit;
        ASSERT_EQ(kit.Load(U16(dir / name)), 0u) << name;
        ASSERT_EQ(kit.ExtractFile(0, U16(dir / "out")), 0u);
        EXPECT_EQ(ReadFile(dir / "out"), files[0].bytes) << name;
    }
}

TEST(InstallDataExtract, OverwritesALongerFileAndGivesEmptyFilesTheirTime) {
    ScopedTempRoot temp;
    TempDir dir;
    const FileTime early = FileSystem::FromUnixSeconds(86400);
    WriteKit(dir / "kit", MultiStream({}, {{u"short", kTime2020, "abc"}, {u"empty", early, ""}}));
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    WriteFile(dir / "target", std::string(5000, 'x'));
    ASSERT_EQ(kit.ExtractFile(0, U16(dir / "target")), 0u);
    EXPECT_EQ(ReadFile(dir / "target"), "abc");
    WriteFile(dir / "was-full", "full");
    ASSERT_EQ(kit.ExtractFile(1, U16(dir / "was-full")), 0u);
    EXPECT_EQ(ReadFile(dir / "was-full"), "");
    EXPECT_EQ(fs_test::ModifiedSeconds(dir / "was-full"), 86400);
}

TEST(InstallDataExtract, BadIndexMissingDirectoryAndUnloadedKit) {
    ScopedTempRoot temp;
    TempDir dir;
    Kit unloaded;
    EXPECT_EQ(unloaded.ExtractFile(0, U16(dir / "x")), kErrorInvalidParameter);
    WriteKit(dir / "kit", MultiStream({}, {{u"f", 1, "f"}}));
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    EXPECT_EQ(kit.ExtractFile(1, U16(dir / "x")), kErrorInvalidParameter);
    EXPECT_EQ(kit.ExtractFile(0, U16(dir / "no/such/dir")), kErrorNotFound);
    EXPECT_EQ(kit.m_files.size(), 1u);
}

TEST(InstallDataStreamFile, NothingIsLeftInTheTemporaryDirectory) {
    ScopedTempRoot temp;
    TempDir dir;
    WriteKit(dir / "good", MultiStream({}, {{u"f", 1, "f"}}));
    WriteFile(dir / "bad", "this is not a deflate stream at all");
    {
        Kit kit;
        ASSERT_EQ(kit.Load(U16(dir / "good")), 0u);
        EXPECT_TRUE(kit.IsLoaded());
        EXPECT_EQ(temp.StreamFiles(), 0u);
        ASSERT_EQ(kit.ExtractFile(0, U16(dir / "f")), 0u);
    }
    Kit failed;
    EXPECT_NE(failed.Load(U16(dir / "bad")), 0u);
    EXPECT_FALSE(failed.IsLoaded());
    EXPECT_EQ(temp.StreamFiles(), 0u);
    EXPECT_EQ(failed.Load(U16(dir / "missing")), kErrorNotFound);
    EXPECT_EQ(temp.StreamFiles(), 0u);
    EXPECT_EQ(fs_test::CountEntries(temp.path()), 0u);
}

TEST(InstallDataStreamFile, UnusableTemporaryDirectoryGives1013) {
    TempDir dir;
    WriteKit(dir / "kit", MultiStream({}, {}));
    // A TMPDIR that is not a directory falls back to /var/tmp, so make the
    // fallback unusable instead: the stream file goes to a missing directory.
    struct NoTempFileSystem : FileSystem {
        ErrorCode CreateUnnamedTempFile(const stdx::u16string& directory,
                                        const stdx::u16string& prefix, FileHandle* handle) {
            return FileSystem::CreateUnnamedTempFile(directory + u"missing/", prefix, handle);
        }
    };
    InstallData<LZCompressor, NoTempFileSystem> kit;
    EXPECT_EQ(kit.Load(U16(dir / "kit")), kErrorTempFile);
    EXPECT_FALSE(kit.IsLoaded());
}

// Holds the first read of the stream back (the tables' reader) and counts
// what is written (the inflater's output).
struct SlowTablesFileSystem : FileSystem {
    struct Counters {
        std::atomic<std::uint64_t> written{0};
        std::atomic<bool> slept{false};
    };
    Counters* counters = nullptr;

    ErrorCode Write(FileHandle handle, const void* buffer, std::uint32_t count,
                    std::uint32_t* countWritten) {
        counters->written += count;
        return FileSystem::Write(handle, buffer, count, countWritten);
    }
    ErrorCode ReadAt(FileHandle handle, std::uint64_t offset, void* buffer, std::uint32_t count,
                     std::uint32_t* countRead) {
        if (!counters->slept.exchange(true)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return FileSystem::ReadAt(handle, offset, buffer, count, countRead);
    }
};

// A run that wants no file data must not have it inflated, however slowly
// the tables are read: the inflater may run only a little ahead of them.
TEST(InstallDataStreamFile, DataNobodyWantsIsNotInflatedWhileTablesAreRead) {
    ScopedTempRoot temp;
    TempDir dir;
    std::vector<KitFile> files;
    for (unsigned i = 0; i < 16; ++i) {
        files.push_back({"f" + std::to_string(i), Pattern(1 << 20, i), 1600000000});
    }
    ASSERT_EQ(BuildKit(dir / "qarn.pkd", files), "");

    SlowTablesFileSystem::Counters counters;
    SlowTablesFileSystem policy;
    policy.counters = &counters;
    InstallData<LZCompressor, SlowTablesFileSystem> kit(policy);
    ASSERT_EQ(kit.Begin(U16(dir / "qarn.pkd")), 0u);
    kit.SkipData();
    ASSERT_EQ(kit.FinishLoad(), 0u);
    EXPECT_EQ(kit.m_files.size(), files.size());
    EXPECT_LT(counters.written.load(), 3u << 20) << "of 16 MiB of file data";
}

}  // namespace
