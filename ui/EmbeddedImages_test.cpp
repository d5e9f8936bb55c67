#include "ui/EmbeddedImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>());
}

std::uint32_t BigEndian32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

std::uint32_t LittleEndian32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8) |
           (std::uint32_t{bytes[at + 2]} << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}

std::uint16_t LittleEndian16(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// The IHDR chunk of a PNG: size, 8 bits per channel, RGBA, not interlaced.
void ExpectRgbaPng(const std::vector<unsigned char>& png, std::uint32_t width,
                   std::uint32_t height) {
    static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    ASSERT_GE(png.size(), 33u);
    EXPECT_TRUE(std::equal(std::begin(kSignature), std::end(kSignature), png.begin()));
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(png, 16), width);
    EXPECT_EQ(BigEndian32(png, 20), height);
    EXPECT_EQ(png[24], 8) << "bits per channel";
    EXPECT_EQ(png[25], 6) << "colour type RGBA";
    EXPECT_EQ(png[28], 0) << "interlace method";
}

}  // namespace

TEST(EmbeddedImagesTest, HoldTheResourceFilesByteForByte) {
    const std::string dir = QA_RESOURCES_DIR;
    EXPECT_EQ(ErrorIconPng, ReadFile(dir + "/ErrorIcon.png"));
    EXPECT_EQ(QuestionIconPng, ReadFile(dir + "/QuestionIcon.png"));
    EXPECT_EQ(WizardBannerBmp, ReadFile(dir + "/WizardBanner.bmp"));
    // Exactly the file's size, as the pictures are handed on whole.
    EXPECT_EQ(WizardBannerBmp.capacity(), WizardBannerBmp.size());
}

TEST(EmbeddedImagesTest, IconsAreRgbaPngsOfTheirSizes) {
    ExpectRgbaPng(ErrorIconPng, 125, 125);
    ExpectRgbaPng(QuestionIconPng, 256, 256);
}

TEST(EmbeddedImagesTest, BannerIsAnUncompressedPaletteBmpOfTheViewSize) {
    const std::vector<unsigned char>& bmp = WizardBannerBmp;
    ASSERT_EQ(bmp.size(), 46838u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(LittleEndian32(bmp, 2), bmp.size()) << "file size field";
    EXPECT_EQ(LittleEndian32(bmp, 10), 1078u) << "pixel data offset";
    EXPECT_EQ(LittleEndian32(bmp, 14), 40u) << "information header size";
    EXPECT_EQ(static_cast<std::int32_t>(LittleEndian32(bmp, 18)), 158);
    // Positive height: rows stored bottom-up.
    EXPECT_EQ(static_cast<std::int32_t>(LittleEndian32(bmp, 22)), 286);
    EXPECT_EQ(LittleEndian16(bmp, 28), 8) << "bits per pixel";
    EXPECT_EQ(LittleEndian32(bmp, 30), 0u) << "no compression";
    const std::uint32_t paletteEntries = LittleEndian32(bmp, 46);
    EXPECT_TRUE(paletteEntries == 0 || paletteEntries == 256);
    // Rows padded to four bytes: 160 bytes for 158 pixels.
    EXPECT_EQ(1078u + 160u * 286u, bmp.size());
}
