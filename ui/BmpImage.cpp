#include "ui/BmpImage.h"

#include <cstdint>
#include <utility>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kNoCompression = 0;
// Larger pictures are refused before anything is allocated for them.
constexpr std::int64_t kMaxPixels = 1 << 24;

std::uint32_t Read32(const std::vector<unsigned char>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | (std::uint32_t{bytes[at + 1]} << 8) |
           (std::uint32_t{bytes[at + 2]} << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}

std::uint16_t Read16(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

}  // namespace

bool DecodeBmp(const std::vector<unsigned char>& bytes, RgbaImage* image) {
    if (bytes.size() < kFileHeaderSize + kInfoHeaderSize || bytes[0] != 'B' || bytes[1] != 'M') {
        return false;
    }
    const std::uint32_t dataOffset = Read32(bytes, 10);
    const std::uint32_t headerSize = Read32(bytes, 14);
    const std::int32_t width = static_cast<std::int32_t>(Read32(bytes, 18));
    const std::int32_t signedHeight = static_cast<std::int32_t>(Read32(bytes, 22));
    const std::uint16_t bitsPerPixel = Read16(bytes, 28);
    const std::uint32_t compression = Read32(bytes, 30);
    std::uint32_t paletteSize = Read32(bytes, 46);
    if (headerSize < kInfoHeaderSize || compression != kNoCompression || width <= 0 ||
        signedHeight == 0 || signedHeight == INT32_MIN) {
        return false;
    }
    if (bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32) {
        return false;
    }
    const bool bottomUp = signedHeight > 0;
    const std::int64_t height = bottomUp ? signedHeight : -std::int64_t{signedHeight};
    if (std::int64_t{width} * height > kMaxPixels) {
        return false;
    }

    const std::size_t paletteStart = kFileHeaderSize + headerSize;
    if (bitsPerPixel == 8) {
        if (paletteSize == 0 || paletteSize > 256) {
            paletteSize = 256;
        }
        if (paletteStart + std::size_t{paletteSize} * 4 > bytes.size()) {
            return false;
        }
    }
    // Each row is padded to a multiple of 4 bytes.
    const std::size_t rowBytes = (std::size_t(width) * bitsPerPixel / 8 + 3) / 4 * 4;
    if (dataOffset > bytes.size() || (bytes.size() - dataOffset) / rowBytes < std::size_t(height)) {
        return false;
    }

    RgbaImage decoded;
    decoded.width = width;
    decoded.height = static_cast<int>(height);
    decoded.pixels.resize(std::size_t(width) * std::size_t(height) * 4);
    for (std::int64_t row = 0; row < height; ++row) {
        const std::size_t sourceRow = std::size_t(bottomUp ? height - 1 - row : row);
        const unsigned char* source = &bytes[dataOffset + sourceRow * rowBytes];
        unsigned char* target = &decoded.pixels[std::size_t(row) * std::size_t(width) * 4];
        for (std::int32_t x = 0; x < width; ++x) {
            const unsigned char* bgr = nullptr;
            if (bitsPerPixel == 8) {
                const unsigned char index = source[x];
                if (index >= paletteSize) {
                    return false;
                }
                bgr = &bytes[paletteStart + std::size_t{index} * 4];
            } else {
                bgr = source + std::size_t(x) * (bitsPerPixel / 8);
            }
            target[4 * x] = bgr[2];
            target[4 * x + 1] = bgr[1];
            target[4 * x + 2] = bgr[0];
            target[4 * x + 3] = 255;
        }
    }
    *image = std::move(decoded);
    return true;
}
