#pragma once

#include <cstdint>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "kit/StreamProgress.h"

namespace kit {

// Copies one file's bytes out of a kit's inflated stream into a target
// file, waiting for the inflater where it has not reached them yet: from
// the stream file, or, for a read announced to the stream's window
// (StreamProgress::OpenWindow), from memory wherever the window holds them.
// Made for one copy; the stream, the progress and the buffer are the kit's.
template <class FileSystemPolicy>
class StreamCopy {
public:
    // The most a copy moves between two looks at a stop request: small
    // enough that a cancel is seen within a fraction of a second.
    static constexpr std::uint32_t kStopCheckBytes = 16u * 1048576u;

    // buffer (bufferBytes long) carries the bytes where the system cannot
    // copy between files itself.
    StreamCopy(FileSystemPolicy& fileSystem, StreamProgress& progress, FileHandle stream,
               char* buffer, std::uint32_t bufferBytes)
        : m_fileSystem(fileSystem),
          m_progress(progress),
          m_stream(stream),
          m_buffer(buffer),
          m_bufferBytes(bufferBytes) {}

    // Copies `count` bytes at `offset` of the stream file once they are
    // there. `stop` is asked between pieces of at most kStopCheckBytes; when
    // it says true the copy ends with 1223. 0; the code of the inflation
    // that ended before the bytes (13 for a stream that ended short); the
    // code of CopyRangeAt, ReadAt or Write.
    template <class Stop>
    ErrorCode FromStream(std::uint64_t offset, std::uint64_t count, FileHandle target, Stop stop) {
        const ErrorCode waited = m_progress.WaitFor(offset + count);
        if (waited != kErrorSuccess) {
            return waited;
        }
        while (count != 0) {
            if (stop()) {
                return kErrorCancelled;
            }
            const std::uint64_t piece = count < kStopCheckBytes ? count : kStopCheckBytes;
            const ErrorCode code = CopyRange(offset, piece, target);
            if (code != kErrorSuccess) {
                return code;
            }
            count -= piece;
            offset += piece;
        }
        return kErrorSuccess;
    }

    // Copies the bytes of window read `read`, each piece as soon as it is
    // inflated; the window lets them go as they are written. Codes of
    // FromStream, and 1223 when the window's reads were given up.
    template <class Stop>
    ErrorCode ThroughWindow(std::uint32_t read, FileHandle target, Stop stop) {
        // However the copy ends, the window keeps nothing more for it.
        struct Ender {
            StreamProgress& progress;
            std::uint32_t read;
            ~Ender() { progress.EndRead(read); }
        } ender{m_progress, read};
        for (;;) {
            if (stop()) {
                return kErrorCancelled;
            }
            const unsigned char* at = nullptr;
            std::uint64_t offset = 0;
            ErrorCode code = kErrorSuccess;
            std::uint32_t count = m_progress.Acquire(read, &at, &offset, &code);
            if (count == 0) {
                return code;
            }
            if (at == nullptr) {
                count = count < kStopCheckBytes ? count : kStopCheckBytes;
                code = CopyRange(offset, count, target);
            } else {
                std::uint32_t written = 0;
                code = m_fileSystem.Write(target, at, count, &written);
            }
            m_progress.Advance(read, count);
            if (code != kErrorSuccess) {
                return code;
            }
        }
    }

private:
    // Copies count bytes at offset of the stream file, all there already.
    ErrorCode CopyRange(std::uint64_t offset, std::uint64_t count, FileHandle target) {
        // The offset is known, so every piece is read from it: no seek, and
        // the stream's own position is left alone.
        while (count != 0) {
            std::uint32_t moved = 0;
            ErrorCode code = kErrorSuccess;
            // The kernel copies without the buffer, so it is given it all.
            const std::uint32_t piece = static_cast<std::uint32_t>(count);
            if (m_inKernel &&
                m_fileSystem.CopyRangeAt(m_stream, offset, target, piece, &moved, &code)) {
                if (code != kErrorSuccess) {
                    return code;
                }
            } else {
                m_inKernel = false;
                const std::uint32_t chunk = piece < m_bufferBytes ? piece : m_bufferBytes;
                code = m_fileSystem.ReadAt(m_stream, offset, m_buffer, chunk, &moved);
                if (code != kErrorSuccess) {
                    return code;
                }
                std::uint32_t written = 0;
                if (moved != 0) {
                    code = m_fileSystem.Write(target, m_buffer, moved, &written);
                    if (code != kErrorSuccess) {
                        return code;
                    }
                }
            }
            // A read that brings nothing before the file is complete would
            // otherwise spin for ever.
            if (moved == 0) {
                return kErrorInflate;
            }
            count -= moved;
            offset += moved;
        }
        return kErrorSuccess;
    }

    FileSystemPolicy& m_fileSystem;
    StreamProgress& m_progress;
    const FileHandle m_stream;
    char* const m_buffer;
    const std::uint32_t m_bufferBytes;
    bool m_inKernel = true;
};

}  // namespace kit
