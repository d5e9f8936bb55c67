#include "kit/KitWriter.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::Kit;
using kit_test::ScopedTempRoot;

namespace {

std::string InflateRaw(const std::string& packed) {
    z_stream stream = {};
    EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
    std::string out;
    std::vector<char> buffer(65536);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
        stream.avail_out = static_cast<uInt>(buffer.size());
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer.data(), buffer.size() - stream.avail_out);
    }
    EXPECT_EQ(result, Z_STREAM_END);
    inflateEnd(&stream);
    return out;
}

TEST(KitWriter, DirectoryIsSortedWithBackslashNamesAndLinksSkipped) {
    TempDir dir;
    ::mkdir((dir / "tree").c_str(), 0700);
    ::mkdir((dir / "tree/z").c_str(), 0700);
    ::mkdir((dir / "tree/a").c_str(), 0700);
    WriteFile(dir / "tree/z/1", "z1");
    WriteFile(dir / "tree/a/2", "a2");
    WriteFile(dir / "tree/m", "m");
    ASSERT_EQ(::symlink("m", (dir / "tree/link").c_str()), 0);
    kit::KitWriter writer;
    std::vector<std::string> skipped;
    std::string error;
    ASSERT_TRUE(writer.AddDirectory(dir / "tree", &skipped, &error)) << error;
    EXPECT_EQ(skipped, std::vector<std::string>{dir / "tree/link"});
    kit::KitStats stats;
    ASSERT_TRUE(writer.Write(dir / "kit", &stats, &error)) << error;
    EXPECT_EQ(stats.fileCount, 3u);

    ScopedTempRoot temp;
    Kit kit;
    ASSERT_EQ(kit.Load(U16(dir / "kit")), 0u);
    ASSERT_EQ(kit.m_files.size(), 3u);
    EXPECT_EQ(kit.m_files[0].m_name, u"a\\2");
    EXPECT_EQ(kit.m_files[1].m_name, u"m");
    EXPECT_EQ(kit.m_files[2].m_name, u"z\\1");
}

TEST(KitWriter, StatsDescribeTheStreamAndTheFile) {
    TempDir dir;
    kit::KitWriter writer;
    ASSERT_FALSE(writer.SetLevel(10));
    ASSERT_TRUE(writer.SetLevel(9));
    writer.AddProduct({u"en", u"P", u"V", u"d"});
    writer.AddFileBytes(u"f", 1, kit_test::Pattern(100000, 1));
    kit::KitStats stats;
    std::string error;
    ASSERT_TRUE(writer.Write(dir / "kit", &stats, &error)) << error;
    const std::string packed = ReadFile(dir / "kit");
    EXPECT_EQ(stats.kitBytes, packed.size());
    const std::string stream = InflateRaw(packed);
    EXPECT_EQ(stats.streamBytes, stream.size());
    EXPECT_EQ(stats.streamCrc,
              crc32(0, reinterpret_cast<const Bytef*>(stream.data()), stream.size()));
    // Header, product count, one product record, file count, one record,
    // then the data.
    EXPECT_EQ(kit::LoadU32(reinterpret_cast<const unsigned char*>(stream.data())), 1u);
    EXPECT_EQ(stream.size(), 4 + 4 + 30 + 4 + 26 + 100000u);
}

TEST(KitWriter, FailuresLeaveAnExistingKitAndNoTemporaryFile) {
    TempDir dir;
    WriteFile(dir / "kit", "old kit");
    WriteFile(dir / "source", "bytes");

    kit::KitWriter single;
    single.SetSingleProduct(true);
    single.AddProduct({u"en", u"A", u"", u""});
    single.AddProduct({u"de", u"B", u"", u""});
    std::string error;
    EXPECT_FALSE(single.Write(dir / "kit", nullptr, &error));
    EXPECT_NE(error.find("one product"), std::string::npos) << error;

    kit::KitWriter vanished;
    vanished.AddFile(u"f", 1, dir / "source");
    ::unlink((dir / "source").c_str());
    error.clear();
    EXPECT_FALSE(vanished.Write(dir / "kit", nullptr, &error));
    EXPECT_NE(error.find(dir / "source"), std::string::npos) << error;

    EXPECT_EQ(ReadFile(dir / "kit"), "old kit");
    EXPECT_EQ(fs_test::CountEntries(dir.path()), 1u);
}

TEST(KitWriter, NamesTheReaderWouldRefuseAreNotWritten) {
    TempDir dir;
    ::mkdir((dir / "tree").c_str(), 0700);
    // "C:x" is an ordinary name; a folder "C:" makes the drive prefix "C:\x".
    WriteFile(dir / "tree/C:/x", "drive-like");
    kit::KitWriter writer;
    std::string error;
    EXPECT_FALSE(writer.AddDirectory(dir / "tree", nullptr, &error));
    EXPECT_NE(error.find("C:"), std::string::npos) << error;
    ::unlink((dir / "tree/C:/x").c_str());
    ::rmdir((dir / "tree/C:").c_str());
    WriteFile(dir / "tree/\xff\xfe", "not UTF-8");
    error.clear();
    EXPECT_FALSE(writer.AddDirectory(dir / "tree", nullptr, &error));
    EXPECT_NE(error.find("UTF-8"), std::string::npos) << error;
}

}  // namespace
