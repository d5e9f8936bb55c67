#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/KitRecords.h"
#include "kit/StreamProgress.h"
#include "text/String.h"

namespace kit {

// Largest record prefix held in memory. The known fields of a record come
// first; whatever lies beyond this prefix is skipped unread, so a hostile
// record length cannot make the reader allocate more than this.
constexpr std::uint32_t kRecordPrefixBytes = 1024 * 1024;

// Sequential, bounds-checked reading of the kit stream's tables through the
// file-system policy, while the stream is still being inflated: each read
// waits until the inflater has written the bytes it needs (StreamProgress),
// and reads them at their offset, leaving the descriptor's position to the
// inflater. Nothing is read past the end of the stream. Every failure
// throws an ErrorCode: the policy's code when a read fails, the
// inflation's code when it failed first, 13 when the content is malformed
// (it ends inside a field, a record length is below 4, a field runs past
// its record).
template <class FileSystemPolicy>
class KitStreamReader {
public:
    KitStreamReader(FileSystemPolicy& fileSystem, FileHandle stream, StreamProgress& progress)
        : m_fileSystem(fileSystem),
          m_stream(stream),
          m_progress(progress),
          m_position(0),
          m_buffer(new unsigned char[kBufferBytes]),
          m_bufferStart(0),
          m_bufferEnd(0) {}

    std::uint64_t Position() const { return m_position; }

    std::uint32_t ReadU32() {
        unsigned char bytes[4];
        ReadExact(bytes, sizeof(bytes));
        return LoadU32(bytes);
    }

    // A u32 unit count and that many UTF-16LE units. Texts longer than
    // kRecordPrefixBytes are refused as malformed.
    stdx::u16string ReadString() {
        const std::uint32_t count = ReadU32();
        if (count == 0) {
            return stdx::u16string();
        }
        const std::uint64_t bytes = 2 * static_cast<std::uint64_t>(count);
        if (bytes > kRecordPrefixBytes) {
            throw ErrorCode(kErrorInflate);
        }
        Require(bytes);
        std::vector<unsigned char> raw(static_cast<std::size_t>(bytes));
        ReadExact(raw.data(), bytes);
        std::vector<char16_t> units(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            units[i] = static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
        }
        return stdx::u16string(units.data(), count);
    }

    // Reads a record length L and its L - 4 body bytes; returns at most the
    // first kRecordPrefixBytes of the body and skips the rest.
    void ReadRecordBody(std::vector<unsigned char>* body) {
        const std::uint32_t length = ReadU32();
        if (length < kRecordLengthBytes) {
            throw ErrorCode(kErrorInflate);
        }
        const std::uint64_t bodyBytes = length - kRecordLengthBytes;
        Require(bodyBytes);
        const std::uint64_t kept = bodyBytes < kRecordPrefixBytes ? bodyBytes : kRecordPrefixBytes;
        body->resize(static_cast<std::size_t>(kept));
        ReadExact(body->data(), kept);
        Skip(bodyBytes - kept);
    }

private:
    static constexpr std::uint32_t kBufferBytes = 65536;

    void Require(std::uint64_t count) {
        if (count > UINT64_MAX - m_position) {
            throw ErrorCode(kErrorInflate);
        }
        // Most fields lie in bytes already known to be written: only past
        // them is the inflater asked (and waited for).
        if (m_position + count <= m_known) {
            return;
        }
        const ErrorCode code = m_progress.WaitFor(m_position + count);
        if (code != kErrorSuccess) {
            throw ErrorCode(code);
        }
        m_known = m_progress.Size();
    }

    void ReadExact(void* out, std::uint64_t count) {
        Require(count);
        unsigned char* target = static_cast<unsigned char*>(out);
        while (count != 0) {
            if (m_bufferStart == m_bufferEnd) {
                Refill();
            }
            const std::uint64_t available = m_bufferEnd - m_bufferStart;
            const std::size_t take =
                static_cast<std::size_t>(count < available ? count : available);
            std::memcpy(target, m_buffer.get() + m_bufferStart, take);
            m_bufferStart += take;
            m_position += take;
            target += take;
            count -= take;
        }
    }

    void Skip(std::uint64_t count) {
        Require(count);
        const std::uint64_t buffered = m_bufferEnd - m_bufferStart;
        if (count <= buffered) {
            m_bufferStart += static_cast<std::size_t>(count);
            m_position += count;
            return;
        }
        m_position += count;
        m_bufferStart = m_bufferEnd = 0;
    }

    // Reads what the inflater has written from the position on, as much as
    // the buffer takes; the caller made sure that is at least one byte.
    void Refill() {
        const std::uint64_t written = m_progress.Size() - m_position;
        const std::uint32_t want =
            static_cast<std::uint32_t>(written < kBufferBytes ? written : kBufferBytes);
        std::uint32_t got = 0;
        const ErrorCode code =
            m_fileSystem.ReadAt(m_stream, m_position, m_buffer.get(), want, &got);
        if (code != kErrorSuccess) {
            throw ErrorCode(code);
        }
        // The inflater said these bytes are there; fewer means the stream
        // changed under us.
        if (got == 0) {
            throw ErrorCode(kErrorInflate);
        }
        m_bufferStart = 0;
        m_bufferEnd = got;
    }

    FileSystemPolicy& m_fileSystem;
    FileHandle m_stream;
    StreamProgress& m_progress;
    std::uint64_t m_position;
    std::uint64_t m_known = 0;                  // the stream is written at least this far
    std::unique_ptr<unsigned char[]> m_buffer;  // not filled first: most tables are small
    std::size_t m_bufferStart;
    std::size_t m_bufferEnd;
};

}  // namespace kit
