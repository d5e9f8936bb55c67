#include "kit/LZCompressor.h"

#include <string>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

TEST(LZCompressor, EmptyKitGivesAnEmptyStream) {
    TempDir dir;
    WriteFile(dir / "kit", "");
    WriteFile(dir / "stream", "");
    FileSystem fs;
    LZCompressor compressor;
    EXPECT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), 0u);
    EXPECT_EQ(ReadFile(dir / "stream"), "");
}

TEST(LZCompressor, InflatesAcrossWindowsAndIgnoresTrailingBytes) {
    TempDir dir;
    const std::string stream =
        kit_test::Pattern(2 * LZCompressor::kWindowBytes + 200000, 11) + std::string(300000, 'a');
    kit_test::WriteKit(dir / "kit", stream, 1);
    // Random bytes do not compress: the kit spans three windows, and blocks
    // cross their boundaries.
    ASSERT_GT(ReadFile(dir / "kit").size(), 2u * LZCompressor::kWindowBytes);
    WriteFile(dir / "kit", ReadFile(dir / "kit") + "trailing garbage \x01\x02");
    WriteFile(dir / "stream", "");
    FileSystem fs;
    LZCompressor compressor;
    ASSERT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), 0u);
    EXPECT_TRUE(ReadFile(dir / "stream") == stream);
}

TEST(LZCompressor, OpenFailuresPassTheirCodeThrough) {
    TempDir dir;
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
    TempDir dir;
    kit_test::WriteKit(dir / "kit", kit_test::Pattern(LZCompressor::kWindowBytes + 100000, 2), 0);
    WriteFile(dir / "stream", "");
    UnmappableFileSystem fs;
    LZCompressor compressor;
    EXPECT_NE(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), 0u);
    EXPECT_EQ(fs.m_maps, 2);
}

}  // namespace
