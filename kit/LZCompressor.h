#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/BackgroundWriter.h"
#include "kit/InflateStatus.h"
#ifdef QA_HAVE_ISAL
#include "kit/IsalInflater.h"
#endif
#include "kit/ZlibInflater.h"
#include "text/String.h"

// Sees the kit bytes that the inflater reads, in file order, each once.
class InputObserver {
public:
    // The bytes stay readable until the next Release, so that an observer
    // may work on them while the inflater does.
    virtual void Consume(const void* bytes, std::uint32_t count) = 0;
    // Returns when the observer is done with the bytes of the last Consume.
    virtual void Release() = 0;

protected:
    ~InputObserver() = default;
};

// What the inflater does next, as the reader of its output decides.
enum class OutputStep {
    Continue,    // inflate on
    DigestOnly,  // inflate no further; the input observer still sees every byte
    Stop,        // stop at once (the inflation then ends with 1223)
    Window,      // inflate on into the observer's memory (Reserve, Filled)
};

// Learns how far the inflater's output has reached the target, so that a
// reader may use the stream while it grows.
class OutputObserver {
public:
    // At least `bytes` of output are in the target, every byte before them
    // included; called as pieces reach it and once more at the end of the
    // stream. The answer steers the inflater.
    virtual OutputStep Written(std::uint64_t bytes) = 0;
    // After Written said Window: the target holds `bytes`, every later byte
    // goes to memory the observer lends.
    virtual void WindowFrom(std::uint64_t bytes) = 0;
    // Where the next at most `most` bytes go: *room bytes at *at (waiting
    // until there are some), with Window; Stop to stop at once.
    virtual OutputStep Reserve(std::uint32_t most, unsigned char** at, std::uint32_t* room) = 0;
    // `count` bytes were put where the last Reserve said.
    virtual void Filled(std::uint32_t count) = 0;

protected:
    ~OutputObserver() = default;
};

// Stateless policy that inflates a kit file into a stream file, decoding
// with the inflate policy `Inflater` (ZlibInflater or IsalInflater).
template <class Inflater>
class BasicLZCompressor {
public:
    // Bytes of the kit file read at a time, and of each of the two output
    // buffers. Large enough that the inflater's fast path and the writes dominate,
    // small enough that memory stays constant and small.
    static constexpr std::uint32_t kWindowBytes = 1024 * 1024;
    static constexpr std::uint32_t kOutputBytes = 256 * 1024;

    // Inflates the raw DEFLATE stream in `srcPath` into `dstPath`, which must
    // exist (it is opened without truncation). Bytes after the end of the
    // stream are ignored. Codes: 0; the code of FileSystem::Open or
    // FileSystem::Read or FileSystem::Write; 87 when the kit cannot be
    // measured; 13 when the data is not a complete raw DEFLATE stream, or
    // the kit file grew shorter while it was read. An empty kit file gives
    // an empty stream and 0. On failure the partial output stays in
    // `dstPath`.
    template <class FileSystemPolicy>
    ErrorCode Decompress(FileSystemPolicy& fileSystem, const stdx::u16string& srcPath,
                         const stdx::u16string& dstPath);
    // The same into an open, writable handle, from its current position.
    // Only the first `inputBytes` bytes of the kit are read (the rest of the
    // file, such as an integrity record, is not part of the stream). With an
    // observer, every one of those bytes is handed to it, those after the
    // end of the stream included. With an output observer, it hears how far
    // the output has come and may end the inflation early: DigestOnly ends
    // it with 0 once the observer has seen every input byte, Stop with 1223
    // at once.
    template <class FileSystemPolicy>
    ErrorCode DecompressInto(FileSystemPolicy& fileSystem, const stdx::u16string& srcPath,
                             FileHandle target, std::uint64_t inputBytes = UINT64_MAX,
                             InputObserver* observer = nullptr, OutputObserver* output = nullptr);

private:
    template <class FileSystemPolicy>
    ErrorCode Inflate(FileSystemPolicy& fileSystem, FileHandle source, FileHandle target,
                      std::uint64_t inputBytes, InputObserver* observer, OutputObserver* progress);
};

// The build's inflate policy: ISA-L when it was found at configure time (and
// QA_FORCE_ZLIB is off), else zlib. Both decode the same streams with the
// same results; ISA-L does it several times faster.
#ifdef QA_HAVE_ISAL
using DefaultInflater = IsalInflater;
#else
using DefaultInflater = ZlibInflater;
#endif

using LZCompressor = BasicLZCompressor<DefaultInflater>;

template <class Inflater>
template <class FileSystemPolicy>
ErrorCode BasicLZCompressor<Inflater>::Decompress(FileSystemPolicy& fileSystem,
                                                  const stdx::u16string& srcPath,
                                                  const stdx::u16string& dstPath) {
    FileHandle target = kInvalidHandle;
    ErrorCode code =
        fileSystem.Open(dstPath, kAccessWrite, 0, kDispositionCreate, &target, kAttributeNormal);
    if (code != kErrorSuccess) {
        return code;
    }
    code = DecompressInto(fileSystem, srcPath, target);
    fileSystem.Close(target);
    // A write error that a file system reports only on close shows up here.
    if (code == kErrorSuccess) {
        code = fileSystem.LastError();
    }
    return code;
}

template <class Inflater>
template <class FileSystemPolicy>
ErrorCode BasicLZCompressor<Inflater>::DecompressInto(FileSystemPolicy& fileSystem,
                                                      const stdx::u16string& srcPath,
                                                      FileHandle target, std::uint64_t inputBytes,
                                                      InputObserver* observer,
                                                      OutputObserver* output) {
    FileHandle source = kInvalidHandle;
    ErrorCode code = fileSystem.Open(srcPath, kAccessRead, 0, kDispositionOpenExisting, &source,
                                     kAttributeSequential);
    if (code != kErrorSuccess) {
        return code;
    }
    code = Inflate(fileSystem, source, target, inputBytes, observer, output);
    fileSystem.Close(source);
    return code;
}

template <class Inflater>
template <class FileSystemPolicy>
ErrorCode BasicLZCompressor<Inflater>::Inflate(FileSystemPolicy& fileSystem, FileHandle source,
                                               FileHandle target, std::uint64_t inputBytes,
                                               InputObserver* observer, OutputObserver* progress) {
    const std::int64_t length = fileSystem.Seek(source, 0, kSeekEnd);
    if (length < 0) {
        return kErrorInvalidParameter;
    }
    if (length == 0 || inputBytes == 0) {
        if (progress != nullptr) {
            progress->Written(0);
        }
        return kErrorSuccess;
    }
    Inflater inflater;
    // Two output buffers: one is inflated into while the other is written.
    // Not filled first: a small kit never touches most of their pages.
    std::unique_ptr<unsigned char[]> output[2] = {
        std::unique_ptr<unsigned char[]>(new unsigned char[kOutputBytes]),
        std::unique_ptr<unsigned char[]>(new unsigned char[kOutputBytes])};
    int current = 0;
    // Declared after the buffers, so it has finished with them before they go.
    BackgroundWriter<FileSystemPolicy> writer(fileSystem, target);
    const std::uint64_t total = static_cast<std::uint64_t>(length) < inputBytes
                                    ? static_cast<std::uint64_t>(length)
                                    : inputBytes;
    // Output handed to the writer; all of it but the last piece is written.
    std::uint64_t submitted = 0;
    // Whether the output goes to the observer's memory instead of the target.
    bool windowed = false;
    // Past the end of the stream, or where the reader wants no more of it,
    // only the input observer wants the bytes.
    bool ended = false;
    if (fileSystem.Seek(source, 0, kSeekBegin) != 0) {
        return kErrorInvalidParameter;
    }
    // Read, not mapped: a kit file cut short by someone else meanwhile is
    // then a short read and a damaged kit, where a mapping would crash the
    // process; and the cost does not depend on how the page cache happens
    // to hold the file.
    std::unique_ptr<unsigned char[]> input(
        new unsigned char[total < kWindowBytes ? total : kWindowBytes]);
    for (std::uint64_t offset = 0; offset < total; offset += kWindowBytes) {
        const std::uint32_t window = static_cast<std::uint32_t>(
            total - offset < kWindowBytes ? total - offset : kWindowBytes);
        std::uint32_t got = 0;
        const ErrorCode read = fileSystem.Read(source, input.get(), window, &got);
        if (read != kErrorSuccess) {
            return read;
        }
        if (got != window) {
            return kErrorInflate;
        }
        const unsigned char* view = input.get();
        if (observer != nullptr) {
            observer->Consume(view, window);
        }
        auto release = [&] {
            if (observer != nullptr) {
                observer->Release();
            }
        };
        if (ended) {
            release();
            continue;
        }
        inflater.SetInput(view, window);
        InflateStatus status = InflateStatus::kOutputFull;
        OutputStep step = windowed ? OutputStep::Window : OutputStep::Continue;
        do {
            std::uint32_t produced = 0;
            if (windowed) {
                unsigned char* at = nullptr;
                std::uint32_t room = 0;
                step = progress->Reserve(kOutputBytes, &at, &room);
                if (step != OutputStep::Window) {
                    break;
                }
                status = inflater.Inflate(at, room, &produced);
                progress->Filled(produced);
                continue;
            }
            status = inflater.Inflate(output[current].get(), kOutputBytes, &produced);
            if (produced != 0) {
                const ErrorCode code = writer.Submit(output[current].get(), produced);
                if (code != kErrorSuccess) {
                    release();
                    return code;
                }
                if (progress != nullptr) {
                    step = progress->Written(submitted);
                }
                submitted += produced;
                current ^= 1;
                if (step == OutputStep::Window) {
                    // Every byte so far is in the target before the rest
                    // goes to memory.
                    const ErrorCode finished = writer.Finish();
                    if (finished != kErrorSuccess) {
                        release();
                        return finished;
                    }
                    progress->WindowFrom(submitted);
                    windowed = true;
                }
            }
        } while (status == InflateStatus::kOutputFull &&
                 (step == OutputStep::Continue || step == OutputStep::Window));
        release();
        if (step == OutputStep::Stop) {
            return kErrorCancelled;
        }
        if (step == OutputStep::DigestOnly) {
            if (observer == nullptr) {
                return writer.Finish();
            }
            ended = true;
            continue;
        }
        if (status == InflateStatus::kError) {
            return kErrorInflate;
        }
        if (status == InflateStatus::kEnd) {
            const ErrorCode code = writer.Finish();
            if (code != kErrorSuccess) {
                return code;
            }
            if (progress != nullptr && !windowed) {
                progress->Written(submitted);
            }
            if (observer == nullptr) {
                return kErrorSuccess;
            }
            ended = true;
        }
    }
    // Without an end the input ran out before the final block: a truncated kit.
    return ended ? writer.Finish() : kErrorInflate;
}
