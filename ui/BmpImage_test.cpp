#include "ui/BmpImage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/EmbeddedImages.h"

namespace {

void Put32(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// A BMP with a 40-byte header, the palette (B, G, R, 0 each) and the rows as
// given (already padded), stored in file order.
std::vector<unsigned char> Bmp(int width, int height, int bits,
                               const std::vector<unsigned char>& palette,
                               const std::vector<unsigned char>& rows,
                               std::uint32_t compression = 0) {
    std::vector<unsigned char> bytes(54, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put32(bytes, 10, static_cast<std::uint32_t>(54 + palette.size()));
    Put32(bytes, 14, 40);
    Put32(bytes, 18, static_cast<std::uint32_t>(width));
    Put32(bytes, 22, static_cast<std::uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<unsigned char>(bits);
    Put32(bytes, 30, compression);
    Put32(bytes, 46, static_cast<std::uint32_t>(palette.size() / 4));
    bytes.insert(bytes.end(), palette.begin(), palette.end());
    bytes.insert(bytes.end(), rows.begin(), rows.end());
    Put32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}

std::string Pixels(const RgbaImage& image) {
    std::string text;
    for (std::size_t i = 0; i < image.pixels.size(); i += 4) {
        char pixel[16];
        std::snprintf(pixel, sizeof(pixel), "%02x%02x%02x%02x ", image.pixels[i],
                      image.pixels[i + 1], image.pixels[i + 2], image.pixels[i + 3]);
        text += pixel;
    }
    return text;
}

TEST(BmpImageTest, DecodesTheSupportedKinds) {
    // Palette: 0 red, 1 green, 2 blue (stored B, G, R, 0).
    const std::vector<unsigned char> palette = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0};
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
        int width;
        int height;
        std::string pixels;  // top row first
    } cases[] = {
        {"8 bits, bottom-up, rows padded to 4 bytes",
         Bmp(3, 2, 8, palette, {2, 2, 2, 0, 0, 1, 2, 0}), 3, 2,
         "ff0000ff 00ff00ff 0000ffff 0000ffff 0000ffff 0000ffff "},
        {"24 bits, bottom-up, one pixel of padding per row",
         Bmp(1, 2, 24, {}, {0x10, 0x20, 0x30, 0, 0x40, 0x50, 0x60, 0}), 1, 2, "605040ff 302010ff "},
        {"32 bits, top-down, alpha byte ignored", Bmp(2, -1, 32, {}, {1, 2, 3, 0, 4, 5, 6, 7}), 2,
         1, "030201ff 060504ff "},
    };
    for (const auto& c : cases) {
        RgbaImage image;
        ASSERT_TRUE(DecodeBmp(c.bytes, &image)) << c.what;
        EXPECT_EQ(image.width, c.width) << c.what;
        EXPECT_EQ(image.height, c.height) << c.what;
        EXPECT_EQ(Pixels(image), c.pixels) << c.what;
    }
}

TEST(BmpImageTest, RefusesWhatItCannotRead) {
    const std::vector<unsigned char> palette = {0, 0, 255, 0};
    std::vector<unsigned char> good = Bmp(2, 2, 8, palette, {0, 0, 0, 0, 0, 0, 0, 0});
    std::vector<unsigned char> png = good;
    png[0] = 0x89;
    std::vector<unsigned char> indexOutsidePalette = Bmp(1, 1, 8, palette, {1, 0, 0, 0});
    const struct {
        const char* what;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {"empty", {}},
        {"not a BMP", png},
        {"cut short", std::vector<unsigned char>(good.begin(), good.end() - 1)},
        {"run-length compressed", Bmp(2, 2, 8, palette, {0, 0, 0, 0, 0, 0, 0, 0}, 1)},
        {"4 bits per pixel", Bmp(2, 2, 4, palette, {0, 0, 0, 0, 0, 0, 0, 0})},
        {"no width", Bmp(0, 2, 24, {}, {})},
        {"no height", Bmp(2, 0, 24, {}, {})},
        {"huge", Bmp(100000, 100000, 24, {}, {})},
        {"index outside the palette", indexOutsidePalette},
    };
    for (const auto& c : cases) {
        RgbaImage image;
        image.width = 7;
        EXPECT_FALSE(DecodeBmp(c.bytes, &image)) << c.what;
        EXPECT_EQ(image.width, 7) << c.what << ": the output changed";
    }
    RgbaImage image;
    EXPECT_TRUE(DecodeBmp(good, &image));
}

// The banner: its top-left pixel is the first of the last stored row,
// looked up in the palette by hand.
TEST(BmpImageTest, DecodesTheWizardBanner) {
    RgbaImage image;
    ASSERT_TRUE(DecodeBmp(WizardBannerBmp, &image));
    EXPECT_EQ(image.width, 158);
    EXPECT_EQ(image.height, 286);
    ASSERT_EQ(image.pixels.size(), 158u * 286u * 4u);
    const std::size_t rowBytes = 160;
    const unsigned char index = WizardBannerBmp[1078 + 285 * rowBytes];
    const std::size_t entry = 54 + std::size_t{index} * 4;
    EXPECT_EQ(image.pixels[0], WizardBannerBmp[entry + 2]);
    EXPECT_EQ(image.pixels[1], WizardBannerBmp[entry + 1]);
    EXPECT_EQ(image.pixels[2], WizardBannerBmp[entry]);
    EXPECT_EQ(image.pixels[3], 255);
}

}  // namespace
