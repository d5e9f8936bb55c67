#include "kit/LZCompressor.h"

#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;

namespace {

// Every case runs with each inflate policy the build has: the policies must
// be interchangeable, byte for byte and code for code.
template <class Inflater>
class LZCompressorTest : public ::testing::Test {
protected:
    using Compressor = BasicLZCompressor<Inflater>;

    // Writes `kit` as the kit file and inflates it into a fresh stream file.
    ErrorCode Inflate(const std::string& kit) {
        WriteFile(m_dir / "kit", kit);
        WriteFile(m_dir / "stream", "");
        FileSystem fs;
        Compressor compressor;
        return compressor.Decompress(fs, U16(m_dir / "kit"), U16(m_dir / "stream"));
    }
    std::string Stream() const { return ReadFile(m_dir / "stream"); }
    // The raw DEFLATE form of `stream` at `level`.
    std::string Deflated(const std::string& stream, int level) {
        kit_test::WriteKit(m_dir / "packed", stream, level);
        return ReadFile(m_dir / "packed");
    }

    TempDir m_dir;
};

using InflatePolicies = ::testing::Types<ZlibInflater
#ifdef QA_HAVE_ISAL
                                         ,
                                         IsalInflater
#endif
                                         >;
TYPED_TEST_SUITE(LZCompressorTest, InflatePolicies);

// Text with many back-references, some reaching the full 32 KiB back: each
// output buffer must keep the history of the ones before it.
std::string TemplateText(std::size_t size) {
    static const char* const kWords[] = {"[section]", "key",  "=", "value", "\n",     "path",
                                         "width",     "true", "0", "1",     "colour", "\t"};
    std::string text;
    unsigned state = 3;
    while (text.size() < size) {
        state = state * 1103515245u + 12345u;
        text += kWords[(state >> 16) % (sizeof(kWords) / sizeof(kWords[0]))];
        if ((state & 0x700) == 0 && text.size() > 40000) {
            // A copy of a run from just under 32 KiB back.
            text += text.substr(text.size() - 32700, 200);
        }
    }
    text.resize(size);
    return text;
}

TYPED_TEST(LZCompressorTest, EmptyKitGivesAnEmptyStream) {
    EXPECT_EQ(this->Inflate(""), 0u);
    EXPECT_EQ(this->Stream(), "");
}

TYPED_TEST(LZCompressorTest, InflatesEveryBlockKindAcrossWindowsAndOutputBuffers) {
    constexpr std::size_t kWindow = TestFixture::Compressor::kWindowBytes;
    const std::string random = kit_test::Pattern(2 * kWindow + 200000, 11);
    const std::string text = TemplateText(9 * TestFixture::Compressor::kOutputBytes + 1234);
    const struct {
        const char* name;
        std::string stream;
        int level;
    } cases[] = {
        // Random bytes do not compress: the kit spans three windows, and
        // blocks cross their boundaries.
        {"random, fixed and dynamic blocks", random + std::string(300000, 'a'), 1},
        {"stored blocks", random, 0},
        {"text, fastest", text, 1},
        {"text, smallest", text, 9},
        {"one byte", "x", 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(this->Inflate(this->Deflated(c.stream, c.level)), 0u) << c.name;
        EXPECT_TRUE(this->Stream() == c.stream) << c.name;
    }
}

TYPED_TEST(LZCompressorTest, BytesAfterTheFinalBlockAreIgnored) {
    const std::string stream = TemplateText(100000);
    const std::string packed = this->Deflated(stream, 6);
    for (const std::string& tail : {std::string("trailing garbage \x01\x02"),
                                    kit_test::Pattern(LZCompressor::kWindowBytes + 5, 4)}) {
        ASSERT_EQ(this->Inflate(packed + tail), 0u);
        EXPECT_TRUE(this->Stream() == stream);
    }
}

TYPED_TEST(LZCompressorTest, DamagedOrIncompleteStreamsGive13) {
    const std::string stream = TemplateText(3 * TestFixture::Compressor::kOutputBytes);
    const std::string packed = this->Deflated(stream, 6);
    ASSERT_GT(packed.size(), 1000u);
    std::string reservedType = packed;
    reservedType[0] = static_cast<char>(0x07);  // BFINAL and the reserved block type 3
    std::string damaged = packed;
    for (std::size_t i = packed.size() / 2; i < packed.size() / 2 + 64; ++i) {
        damaged[i] = static_cast<char>(0xFF);
    }
    // A stored block whose length and its complement disagree.
    const std::string badStored("\x01\x05\x00\x05\x00hello", 10);
    const struct {
        const char* name;
        std::string kit;
    } cases[] = {
        {"not deflate", "plain text, not compressed data: \xff\xff\xff\xff"},
        {"reserved block type", reservedType},
        {"damaged middle", damaged},
        {"cut in half", packed.substr(0, packed.size() / 2)},
        {"last byte missing", packed.substr(0, packed.size() - 1)},
        {"stored length check", badStored},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(this->Inflate(c.kit), kErrorInflate) << c.name;
    }
}

TYPED_TEST(LZCompressorTest, OpenFailuresPassTheirCodeThrough) {
    TempDir& dir = this->m_dir;
    kit_test::WriteKit(dir / "kit", "x");
    FileSystem fs;
    typename TestFixture::Compressor compressor;
    EXPECT_EQ(compressor.Decompress(fs, U16(dir / "missing"), U16(dir / "stream")), kErrorNotFound);
    EXPECT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "no/dir/stream")),
              kErrorNotFound);
}

// What happens to the kit file just before the inflater reads its second
// window.
struct SecondReadFileSystem : FileSystem {
    std::function<ErrorCode()> m_before;
    int m_reads = 0;
    ErrorCode Read(FileHandle handle, void* buffer, std::uint32_t count, std::uint32_t* countRead) {
        if (++m_reads == 2) {
            const ErrorCode code = m_before();
            if (code != kErrorSuccess) {
                return code;
            }
        }
        return FileSystem::Read(handle, buffer, count, countRead);
    }
};

// A window that cannot be read fails the inflation instead of being
// skipped; a kit cut short by someone else while it is read is a damaged
// kit, not a crash.
TYPED_TEST(LZCompressorTest, AWindowThatCannotBeReadWholeFails) {
    TempDir& dir = this->m_dir;
    const struct {
        const char* name;
        std::function<ErrorCode()> before;
        ErrorCode expected;
    } cases[] = {
        {"read fails", [] { return kErrorInvalidParameter; }, kErrorInvalidParameter},
        {"kit cut short meanwhile",
         [&dir] {
             std::filesystem::resize_file(dir / "kit", LZCompressor::kWindowBytes + 10);
             return kErrorSuccess;
         },
         kErrorInflate},
    };
    for (const auto& c : cases) {
        kit_test::WriteKit(dir / "kit", kit_test::Pattern(LZCompressor::kWindowBytes + 100000, 2),
                           0);
        WriteFile(dir / "stream", "");
        SecondReadFileSystem fs;
        fs.m_before = c.before;
        typename TestFixture::Compressor compressor;
        EXPECT_EQ(compressor.Decompress(fs, U16(dir / "kit"), U16(dir / "stream")), c.expected)
            << c.name;
        EXPECT_EQ(fs.m_reads, 2) << c.name;
    }
}

}  // namespace
