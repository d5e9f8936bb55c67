#include "kit/LZCompressor.h"

#include <string>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

using fs_test::ReadBytes;
using fs_test::ScopedTempDir;
using fs_test::U16;
using fs_test::WriteBytes;

namespace {

TEST(LZCompressor, EmptyKitGivesAnEmptyStream) {
    ScopedTempDir dir;
    WriteBytes(dir / "kit", "");
    WriteBytes(dir / "stream", "");
    FileSystem fs;
    LZCompressor compressor;
    EXPECT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), 0u);
    EXPECT_EQ(ReadBytes(dir / "stream"), "");
}

TEST(LZCompressor, InflatesAcrossWindowsAndIgnoresTrailingBytes) {
    ScopedTempDir dir;
    const std::string stream = kit_test::Pattern(200000, 11) + std::string(300000, 'a');
    kit_test::WriteKit(dir / "kit", stream, 1);
    WriteBytes(dir / "kit", ReadBytes(dir / "kit") + "trailing garbage \x01\x02");
    WriteBytes(dir / "stream", "");
    FileSystem fs;
    LZCompressor compressor;
    ASSERT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), 0u);
    EXPECT_TRUE(ReadBytes(dir / "stream") == stream);
}

TEST(LZCompressor, OpenFailuresPassTheirCodeThrough) {
    ScopedTempDir dir;
    kit_test::WriteKit(dir / "kit", "x");
    FileSystem fs;
    LZCompressor compressor;
    EXPECT_EQ(compressor.Decompress(fs, U16(dir / "missing"), U16(dir / "stream")), kErrorNotFound);
    EXPECT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "no/dir/stream")),
              kErrorNotFound);
}

// A window that cannot be mapped fails the inflation instead of being
// skipped.
struct UnmappableFileSystem : FileSystem {
    int m_maps = 0;
    const void* MapReadOnly(FileHandle handle, std::uint64_t offset, std::uint32_t length) {
        return ++m_maps == 2 ? nullptr : FileSystem::MapReadOnly(handle, offset, length);
    }
};

TEST(LZCompressor, UnmappableWindowFails) {
    ScopedTempDir dir;
    kit_test::WriteKit(dir / "kit", kit_test::Pattern(100000, 2), 0);
    WriteBytes(dir / "stream", "");
    UnmappableFileSystem fs;
    LZCompressor compressor;
    EXPECT_NE(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), 0u);
    EXPECT_EQ(fs.m_maps, 2);
}

}  // namespace
