#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/BackgroundDigest.h"
#include "kit/FileData.h"
#include "kit/IntegrityRecord.h"
#include "kit/KitName.h"
#include "kit/KitRecords.h"
#include "kit/KitStreamReader.h"
#include "kit/KitTrust.h"
#include "kit/LZCompressor.h"
#include "kit/ProductInfo.h"
#include "text/String.h"

// One opened distribution kit: its product and file tables and an open
// handle on the inflated kit stream, from which single files are extracted.
//
// Both policies are held as member objects and every file operation goes
// through `m_fileSystem`, so a test can hand in a policy that fails a chosen
// call. The stream file has no name in the temporary directory (or only for
// the moment between its creation and its unlinking where the system cannot
// create unnamed files), so nobody can swap it and no "pdk" file outlives
// the process however it ends.
//
// A kit may end with an integrity record (kit/IntegrityRecord.h). Its
// digest is computed in the pass that inflates the kit, and the kit is
// refused as damaged unless the trust (kit::BuiltInTrust by default)
// accepts it: see kit::IsAccepted.
template <class Compressor, class FileSystemPolicy>
class InstallData {
public:
    static constexpr std::uint32_t kBufferBytes = 1048576;

    InstallData() : InstallData(FileSystemPolicy()) {}
    explicit InstallData(const FileSystemPolicy& fileSystem)
        : m_fileSystem(fileSystem),
          m_stream(kInvalidHandle),
          m_bufferSize(kBufferBytes),
          m_buffer(new char[kBufferBytes]),
          m_trust(kit::BuiltInTrust()) {}
    ~InstallData() { Release(); }
    InstallData(const InstallData&) = delete;
    InstallData& operator=(const InstallData&) = delete;

    // Inflates the kit at `kitPath` into a new temporary stream file (in
    // FileSystem::TempDirectory, without a name) and reads its tables.
    // Codes: 0; 1013 when the stream file cannot be created; the code of
    // FileSystem::Open, Seek, Read or Write; 87 when the kit cannot be
    // measured or mapped; 13 when the kit is damaged: not a complete raw
    // DEFLATE stream, or a stream that ends inside a field, holds a record
    // length below 4, a field running past its record, a string or record
    // prefix over 1 MiB, a data range past the end of the stream, or a file
    // name that kit::IsSafeKitName refuses; also when its integrity record
    // is malformed or does not match, when a stream made for a record has
    // none, and when the trust refuses the kit (Integrity() says which). On
    // failure both tables are empty, no stream is open and no stream file
    // is left.
    ErrorCode Load(const stdx::u16string& kitPath);

    // The keys the next Load accepts (kit::BuiltInTrust() until set).
    void SetTrust(const kit::KitTrust& trust) { m_trust = trust; }
    // The verdict of the last Load on the kit's integrity record; kDamaged
    // with a reason also for a kit whose record is missing although its
    // stream was made for one.
    const kit::IntegrityReport& Integrity() const { return m_integrity; }

    // Writes file `index` to `targetPath` (created when missing, cut to the
    // file's size) and sets its access and modification times to the
    // recorded time in whole seconds. Codes: 0; 87 for an index out of range
    // or a kit that is not loaded; the code of FileSystem::Open, ReadAt,
    // CopyRangeAt, Write, SetEnd, SetTimes or Close; 13 when the stream ends before the
    // file does. A partly written target is left for the caller's rollback.
    ErrorCode ExtractFile(std::size_t index, const stdx::u16string& targetPath);
    // The same into `target`, an open writable handle that stays open (the
    // caller closes it and sees late write errors there). Codes as above,
    // without the open's.
    ErrorCode ExtractFileTo(std::size_t index, FileHandle target);

    // Writes file `index` through `target`, a new empty file open for
    // writing, and sets its access and modification times as ExtractFile
    // does; the handle stays open for the caller. `stop` is called between
    // pieces of at most kStopCheckBytes; when it returns true the copy ends
    // with 1223. Where the system cannot copy between files itself, the
    // bytes pass through `buffer` (kBufferBytes long), or the kit's own
    // buffer when it is null: threads that write files at once each give
    // their own. Codes: those of ExtractFile, and 1223.
    template <class Stop>
    ErrorCode WriteFileTo(std::size_t index, FileHandle target, Stop stop, char* buffer = nullptr);

    // The most file records the table is made room for before it is read.
    static constexpr std::uint64_t kReservedFiles = 262144;

    // The most a copy moves between two looks at a stop request: small
    // enough that a cancel is seen within a fraction of a second.
    static constexpr std::uint32_t kStopCheckBytes = 16u * 1048576u;

    // Whether a successful Load left the stream open.
    bool IsLoaded() const { return m_stream != kInvalidHandle; }

    std::vector<config::ProductInfo> m_products;              // in kit order
    std::vector<config::FileData<FileSystemPolicy>> m_files;  // in installation order
    Compressor m_compressor;
    FileSystemPolicy m_fileSystem;

private:
    static void Check(ErrorCode code) {
        if (code != kErrorSuccess) {
            throw ErrorCode(code);
        }
    }

    ErrorCode CreateStreamFile();
    void ReadTail(const stdx::u16string& kitPath, kit::TailStatus* status,
                  kit::IntegrityRecord* record, std::uint64_t* streamBytes, std::string* reason);
    void Inflate(const stdx::u16string& kitPath);
    void ReadTables(bool hasRecord);
    template <class Stop>
    ErrorCode CopyOut(const config::FileData<FileSystemPolicy>& file, FileHandle target, Stop stop,
                      char* buffer);
    void Release();

    FileHandle m_stream;
    std::uint32_t m_bufferSize;
    std::unique_ptr<char[]> m_buffer;
    kit::KitTrust m_trust;
    kit::IntegrityReport m_integrity;
};

template <class Compressor, class FileSystemPolicy>
ErrorCode InstallData<Compressor, FileSystemPolicy>::CreateStreamFile() {
    stdx::u16string directory;
    const ErrorCode code = m_fileSystem.TempDirectory(&directory);
    if (code != kErrorSuccess) {
        return code;
    }
    // Kept open from its creation on: no name of it is ever opened, so none
    // can be swapped for another file, even in a temporary directory that
    // others may write to.
    return m_fileSystem.CreateUnnamedTempFile(directory, u"pdk", &m_stream);
}

template <class Compressor, class FileSystemPolicy>
void InstallData<Compressor, FileSystemPolicy>::Release() {
    if (m_stream != kInvalidHandle) {
        m_fileSystem.Close(m_stream);
        m_stream = kInvalidHandle;
    }
}

template <class Compressor, class FileSystemPolicy>
ErrorCode InstallData<Compressor, FileSystemPolicy>::Load(const stdx::u16string& kitPath) {
    Release();
    m_products.clear();
    m_files.clear();
    m_integrity = kit::IntegrityReport();
    ErrorCode code = kErrorSuccess;
    try {
        Check(CreateStreamFile());
        Inflate(kitPath);
        ReadTables(m_integrity.state != kit::IntegrityState::kNoRecord);
        return kErrorSuccess;
    } catch (ErrorCode thrown) {
        code = thrown;
    } catch (const std::bad_alloc&) {
        code = kErrorInvalidParameter;
    }
    m_products.clear();
    m_files.clear();
    Release();
    return code;
}

template <class Compressor, class FileSystemPolicy>
void InstallData<Compressor, FileSystemPolicy>::ReadTail(const stdx::u16string& kitPath,
                                                         kit::TailStatus* status,
                                                         kit::IntegrityRecord* record,
                                                         std::uint64_t* streamBytes,
                                                         std::string* reason) {
    FileHandle file = kInvalidHandle;
    Check(m_fileSystem.Open(kitPath, kAccessRead, 0, kDispositionOpenExisting, &file,
                            kAttributeNormal));
    const std::int64_t size = m_fileSystem.Seek(file, 0, kSeekEnd);
    const std::uint64_t fileSize = size < 0 ? 0 : static_cast<std::uint64_t>(size);
    const std::size_t tailSize =
        static_cast<std::size_t>(fileSize < kit::kMaxRecordBytes ? fileSize : kit::kMaxRecordBytes);
    unsigned char tail[kit::kMaxRecordBytes];
    std::uint32_t got = 0;
    ErrorCode code = kErrorSuccess;
    if (size < 0 ||
        m_fileSystem.Seek(file, static_cast<std::int64_t>(fileSize - tailSize), kSeekBegin) < 0) {
        code = m_fileSystem.LastError();
        code = code != kErrorSuccess ? code : kErrorInvalidParameter;
    } else if (tailSize != 0) {
        code = m_fileSystem.Read(file, tail, static_cast<std::uint32_t>(tailSize), &got);
        // The size was measured a moment ago; a shorter read means the kit
        // is changing under us.
        if (code == kErrorSuccess && got != tailSize) {
            code = kErrorInflate;
        }
    }
    m_fileSystem.Close(file);
    Check(code);
    std::uint32_t recordBytes = 0;
    *status = kit::ParseIntegrityTail(tail, tailSize, fileSize, record, &recordBytes, reason);
    *streamBytes = fileSize - recordBytes;
}

template <class Compressor, class FileSystemPolicy>
void InstallData<Compressor, FileSystemPolicy>::Inflate(const stdx::u16string& kitPath) {
    kit::TailStatus status = kit::TailStatus::kNoRecord;
    kit::IntegrityRecord record;
    std::uint64_t streamBytes = 0;
    std::string reason;
    ReadTail(kitPath, &status, &record, &streamBytes, &reason);
    if (status == kit::TailStatus::kNoRecord) {
        if (!kit::IsAccepted(m_integrity, m_trust)) {
            throw ErrorCode(kErrorInflate);
        }
        Check(m_compressor.DecompressInto(m_fileSystem, kitPath, m_stream));
        return;
    }
    kit::Digest computed{};
    if (status == kit::TailStatus::kRecord) {
        // The compressor reads only the bytes before the record and shows
        // each of them to the digest, so what is inflated is what is checked.
        kit::BackgroundDigest digest;
        Check(m_compressor.DecompressInto(m_fileSystem, kitPath, m_stream, streamBytes, &digest));
        if (!digest.Finish(computed.data())) {
            throw ErrorCode(kErrorInvalidParameter);
        }
    }
    m_integrity = kit::JudgeRecord(status, record, reason, computed, m_trust);
    if (!kit::IsAccepted(m_integrity, m_trust)) {
        throw ErrorCode(kErrorInflate);
    }
}

template <class Compressor, class FileSystemPolicy>
void InstallData<Compressor, FileSystemPolicy>::ReadTables(bool hasRecord) {
    const std::int64_t size = m_fileSystem.Seek(m_stream, 0, kSeekEnd);
    if (size < 0 || m_fileSystem.Seek(m_stream, 0, kSeekBegin) != 0) {
        const ErrorCode code = m_fileSystem.LastError();
        throw ErrorCode(code != kErrorSuccess ? code : kErrorInvalidParameter);
    }
    const std::uint64_t streamSize = static_cast<std::uint64_t>(size);
    kit::KitStreamReader<FileSystemPolicy> reader(m_fileSystem, m_stream, streamSize);

    const std::uint32_t version = reader.ReadU32();
    if (version == kit::kSealedStreamVersion && !hasRecord) {
        m_integrity.state = kit::IntegrityState::kDamaged;
        m_integrity.reason = "the integrity record is missing";
        throw ErrorCode(kErrorInflate);
    }
    if (version == 0) {
        config::ProductInfo product;
        product.m_language = u"en";
        product.m_productName = reader.ReadString();
        product.m_providerName = reader.ReadString();
        product.m_descriptionPath = reader.ReadString();
        m_products.push_back(product);
    } else {
        // No reserve: the count is untrusted, and every record takes at least
        // four bytes of a stream whose size is known, so the loop ends.
        const std::uint32_t productCount = reader.ReadU32();
        std::vector<unsigned char> body;
        for (std::uint32_t i = 0; i < productCount; ++i) {
            reader.ReadRecordBody(&body);
            config::ProductInfo product;
            if (!kit::DecodeProductRecord(body.data(), body.size(), &product)) {
                throw ErrorCode(kErrorInflate);
            }
            m_products.push_back(product);
        }
    }

    const std::uint32_t fileCount = reader.ReadU32();
    // Room for the whole table at once (grown by doubling it would hold up
    // to twice that, and three times while it moves). The count is
    // untrusted: never more than the rest of the stream can hold (every
    // record takes at least four bytes), nor more than kReservedFiles, past
    // which the table grows as it is read.
    std::uint64_t reserved = (streamSize - reader.Position()) / 4;
    reserved = fileCount < reserved ? fileCount : reserved;
    m_files.reserve(
        static_cast<std::size_t>(reserved < kReservedFiles ? reserved : kReservedFiles));
    std::vector<unsigned char> body;
    for (std::uint32_t i = 0; i < fileCount; ++i) {
        reader.ReadRecordBody(&body);
        config::FileData<FileSystemPolicy> file;
        file.m_fileSystem = m_fileSystem;
        if (!kit::DecodeFileRecord(body.data(), body.size(), &file) ||
            !kit::IsSafeKitName(file.m_name)) {
            throw ErrorCode(kErrorInflate);
        }
        m_files.push_back(file);
    }

    // Every range is checked here, once, so that extraction can trust it.
    const std::uint64_t dataStart = reader.Position();
    for (config::FileData<FileSystemPolicy>& file : m_files) {
        const std::uint64_t begin = dataStart + file.m_offset;
        if (begin > 0xFFFFFFFFu || begin + file.m_size > streamSize) {
            throw ErrorCode(kErrorInflate);
        }
        file.m_offset = static_cast<std::uint32_t>(begin);
    }
}

template <class Compressor, class FileSystemPolicy>
ErrorCode InstallData<Compressor, FileSystemPolicy>::ExtractFile(
    std::size_t index, const stdx::u16string& targetPath) {
    if (index >= m_files.size() || m_stream == kInvalidHandle) {
        return kErrorInvalidParameter;
    }
    FileHandle target = kInvalidHandle;
    ErrorCode code = m_fileSystem.Open(targetPath, kAccessWrite, 0, kDispositionCreate, &target,
                                       kAttributeNormal);
    if (code != kErrorSuccess) {
        return code;
    }
    code = ExtractFileTo(index, target);
    m_fileSystem.Close(target);
    if (code == kErrorSuccess) {
        code = m_fileSystem.LastError();
    }
    return code;
}

template <class Compressor, class FileSystemPolicy>
ErrorCode InstallData<Compressor, FileSystemPolicy>::ExtractFileTo(std::size_t index,
                                                                   FileHandle target) {
    if (index >= m_files.size() || m_stream == kInvalidHandle) {
        return kErrorInvalidParameter;
    }
    const config::FileData<FileSystemPolicy>& file = m_files[index];
    ErrorCode code = CopyOut(
        file, target, [] { return false; }, m_buffer.get());
    // An existing longer file keeps its old tail unless it is cut here, and
    // the install worker's "is it newer" test relies on the time: both are
    // part of a correct extraction, so their failures are reported.
    if (code == kErrorSuccess) {
        code = m_fileSystem.SetEnd(target);
    }
    if (code == kErrorSuccess) {
        code = m_fileSystem.SetTimes(target, nullptr, nullptr, &file.m_lastWriteTime);
    }
    return code;
}

template <class Compressor, class FileSystemPolicy>
template <class Stop>
ErrorCode InstallData<Compressor, FileSystemPolicy>::WriteFileTo(std::size_t index,
                                                                 FileHandle target, Stop stop,
                                                                 char* buffer) {
    if (index >= m_files.size() || m_stream == kInvalidHandle) {
        return kErrorInvalidParameter;
    }
    const config::FileData<FileSystemPolicy>& file = m_files[index];
    // The target is new and empty, so nothing needs cutting after the copy.
    const ErrorCode code = CopyOut(file, target, stop, buffer != nullptr ? buffer : m_buffer.get());
    if (code != kErrorSuccess) {
        return code;
    }
    return m_fileSystem.SetTimes(target, nullptr, nullptr, &file.m_lastWriteTime);
}

template <class Compressor, class FileSystemPolicy>
template <class Stop>
ErrorCode InstallData<Compressor, FileSystemPolicy>::CopyOut(
    const config::FileData<FileSystemPolicy>& file, FileHandle target, Stop stop, char* buffer) {
    // The offset is known, so every piece is read from it: no seek, and the
    // stream's own position is left alone.
    std::uint64_t offset = file.m_offset;
    std::uint32_t remaining = file.m_size;
    bool inKernel = true;
    while (remaining != 0) {
        if (stop()) {
            return kErrorCancelled;
        }
        const std::uint32_t chunk = remaining < m_bufferSize ? remaining : m_bufferSize;
        std::uint32_t moved = 0;
        ErrorCode code = kErrorSuccess;
        // The kernel copies without the buffer, so it is given as much as a
        // look at the stop request allows.
        const std::uint32_t piece = remaining < kStopCheckBytes ? remaining : kStopCheckBytes;
        if (inKernel && m_fileSystem.CopyRangeAt(m_stream, offset, target, piece, &moved, &code)) {
            if (code != kErrorSuccess) {
                return code;
            }
        } else {
            inKernel = false;
            code = m_fileSystem.ReadAt(m_stream, offset, buffer, chunk, &moved);
            if (code != kErrorSuccess) {
                return code;
            }
            std::uint32_t written = 0;
            if (moved != 0) {
                code = m_fileSystem.Write(target, buffer, moved, &written);
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
        remaining -= moved;
        offset += moved;
    }
    return kErrorSuccess;
}
