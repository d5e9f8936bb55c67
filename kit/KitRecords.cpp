#include "kit/KitRecords.h"

#include <vector>

namespace kit {

void AppendU32(std::string* out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out->push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

void AppendU64(std::string* out, std::uint64_t value) {
    AppendU32(out, static_cast<std::uint32_t>(value));
    AppendU32(out, static_cast<std::uint32_t>(value >> 32));
}

void AppendString(std::string* out, const stdx::u16string& text) {
    AppendU32(out, static_cast<std::uint32_t>(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) {
        out->push_back(static_cast<char>(text[i] & 0xFF));
        out->push_back(static_cast<char>(text[i] >> 8));
    }
}

void AppendProductRecord(std::string* out, const config::ProductInfo& product,
                         std::uint32_t extraBytes) {
    std::string body;
    AppendString(&body, product.m_language);
    AppendString(&body, product.m_productName);
    AppendString(&body, product.m_providerName);
    AppendString(&body, product.m_descriptionPath);
    body.append(extraBytes, '\0');
    AppendU32(out, static_cast<std::uint32_t>(kRecordLengthBytes + body.size()));
    out->append(body);
}

void AppendFileRecord(std::string* out, const stdx::u16string& name, FileTime lastWriteTime,
                      std::uint32_t offset, std::uint32_t size, std::uint32_t extraBytes) {
    const std::size_t length =
        kRecordLengthBytes + 4 + 2 * name.size() + kFileFixedBytes + extraBytes;
    AppendU32(out, static_cast<std::uint32_t>(length));
    AppendString(out, name);
    AppendU64(out, lastWriteTime);
    AppendU32(out, offset);
    AppendU32(out, size);
    out->append(extraBytes, '\0');
}

std::uint32_t LoadU32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint64_t LoadU64(const unsigned char* bytes) {
    return static_cast<std::uint64_t>(LoadU32(bytes)) |
           static_cast<std::uint64_t>(LoadU32(bytes + 4)) << 32;
}

bool DecodeString(const unsigned char* data, std::size_t size, std::size_t* position,
                  stdx::u16string* text) {
    if (*position > size || size - *position < 4) {
        return false;
    }
    const std::uint32_t count = LoadU32(data + *position);
    const std::size_t start = *position + 4;
    // Compared as a unit count, so that 2 * count cannot wrap.
    if (count > (size - start) / 2) {
        return false;
    }
    // Names are short: one allocation, the string's own, for most of them.
    char16_t shortUnits[128];
    std::vector<char16_t> longUnits(count > 128 ? count : 0);
    char16_t* units = count > 128 ? longUnits.data() : shortUnits;
    for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* unit = data + start + 2 * static_cast<std::size_t>(i);
        units[i] = static_cast<char16_t>(unit[0] | unit[1] << 8);
    }
    *text = count == 0 ? stdx::u16string() : stdx::u16string(units, count);
    *position = start + 2 * static_cast<std::size_t>(count);
    return true;
}

bool DecodeProductRecord(const unsigned char* body, std::size_t size,
                         config::ProductInfo* product) {
    std::size_t position = 0;
    return DecodeString(body, size, &position, &product->m_language) &&
           DecodeString(body, size, &position, &product->m_productName) &&
           DecodeString(body, size, &position, &product->m_providerName) &&
           DecodeString(body, size, &position, &product->m_descriptionPath);
}

bool DecodeFileRecord(const unsigned char* body, std::size_t size, stdx::u16string* name,
                      FileTime* lastWriteTime, std::uint32_t* offset, std::uint32_t* fileSize) {
    std::size_t position = 0;
    if (!DecodeString(body, size, &position, name) || size - position < kFileFixedBytes) {
        return false;
    }
    *lastWriteTime = LoadU64(body + position);
    *offset = LoadU32(body + position + 8);
    *fileSize = LoadU32(body + position + 12);
    return true;
}

}  // namespace kit
