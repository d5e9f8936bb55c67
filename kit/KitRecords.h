#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/fs/FileSystem.h"
#include "kit/FileData.h"
#include "kit/ProductInfo.h"
#include "text/String.h"

// The byte layout of the inflated kit stream, both ways. Integers are
// little-endian; a string is a u32 count of UTF-16 units followed by the
// units; a record starts with its own u32 length, which counts the whole
// record including itself.
namespace kit {

// Bytes of a record's length field, and of the fixed fields of a file
// record after its name (time, offset, size).
constexpr std::uint32_t kRecordLengthBytes = 4;
constexpr std::uint32_t kFileFixedBytes = 16;

void AppendU32(std::string* out, std::uint32_t value);
void AppendU64(std::string* out, std::uint64_t value);
void AppendString(std::string* out, const stdx::u16string& text);
// Whole records, length included, followed by `extraBytes` zero bytes that a
// reader must skip.
void AppendProductRecord(std::string* out, const config::ProductInfo& product,
                         std::uint32_t extraBytes = 0);
void AppendFileRecord(std::string* out, const stdx::u16string& name, FileTime lastWriteTime,
                      std::uint32_t offset, std::uint32_t size, std::uint32_t extraBytes = 0);

std::uint32_t LoadU32(const unsigned char* bytes);
std::uint64_t LoadU64(const unsigned char* bytes);

// Decoders over a record body (the bytes after the length field). Each
// returns false, touching nothing outside [body, body + size), when a field
// runs past the end; bytes after the known fields are ignored.
bool DecodeString(const unsigned char* data, std::size_t size, std::size_t* position,
                  stdx::u16string* text);
bool DecodeProductRecord(const unsigned char* body, std::size_t size, config::ProductInfo* product);
bool DecodeFileRecord(const unsigned char* body, std::size_t size, stdx::u16string* name,
                      FileTime* lastWriteTime, std::uint32_t* offset, std::uint32_t* fileSize);

template <class FileSystemPolicy>
bool DecodeFileRecord(const unsigned char* body, std::size_t size,
                      config::FileData<FileSystemPolicy>* file) {
    return DecodeFileRecord(body, size, &file->m_name, &file->m_lastWriteTime, &file->m_offset,
                            &file->m_size);
}

}  // namespace kit
