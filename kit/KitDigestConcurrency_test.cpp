#include "kit/BackgroundDigest.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kit/KitTestSupport.h"

namespace {

std::string Hex(const unsigned char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

TEST(KitDigest, IsSha256) {
    kit::KitDigest digest;
    digest.Update("ab", 2);
    digest.Update("c", 1);
    unsigned char out[kit::kDigestBytes];
    ASSERT_TRUE(digest.Finish(out));
    EXPECT_EQ(Hex(out, sizeof(out)),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// Pieces below the inline size, above it, and a mix, as the compressor hands
// them over: each released before the next. The digest is the one of the
// whole sequence in every case.
TEST(BackgroundDigest, SameDigestAsOnePassWhateverThePieces) {
    const std::string bytes = kit_test::Pattern(3 * 1024 * 1024 + 17, 5);
    kit::KitDigest whole;
    whole.Update(bytes.data(), bytes.size());
    unsigned char expected[kit::kDigestBytes];
    ASSERT_TRUE(whole.Finish(expected));
    const std::vector<std::vector<std::size_t>> layouts = {
        {bytes.size()},
        {1000, 5000, bytes.size() - 6000},
        {1024 * 1024, 1024 * 1024, 1024 * 1024, 17},
        {kit::BackgroundDigest::kInlineBytes, 1,
         bytes.size() - kit::BackgroundDigest::kInlineBytes - 1},
    };
    for (const std::vector<std::size_t>& pieces : layouts) {
        kit::BackgroundDigest digest;
        std::size_t offset = 0;
        for (std::size_t piece : pieces) {
            digest.Consume(bytes.data() + offset, static_cast<std::uint32_t>(piece));
            digest.Release();
            offset += piece;
        }
        ASSERT_EQ(offset, bytes.size());
        unsigned char out[kit::kDigestBytes];
        ASSERT_TRUE(digest.Finish(out));
        EXPECT_EQ(Hex(out, sizeof(out)), Hex(expected, sizeof(expected))) << pieces.size();
    }
}

}  // namespace
