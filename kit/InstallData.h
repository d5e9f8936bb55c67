#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/fs/FileSystem.h"
#include "kit/BackgroundDigest.h"
#include "kit/FileData.h"
#include "kit/IntegrityRecord.h"
#include "kit/KitInflation.h"
#include "kit/KitName.h"
#include "kit/KitRecords.h"
#include "kit/KitStreamReader.h"
#include "kit/KitTrust.h"
#include "kit/LZCompressor.h"
#include "kit/ProductInfo.h"
#include "kit/StreamCopy.h"
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
    ~InstallData() {
        m_inflation.Stop();
        Release();
    }
    InstallData(const InstallData&) = delete;
    InstallData& operator=(const InstallData&) = delete;

    // Inflates the kit at `kitPath` into a new temporary stream file (in
    // FileSystem::TempDirectory, without a name) and reads its tables: Begin,
    // WantData and FinishLoad in one.
    // Codes: 0; 1013 when the stream file cannot be created; the code of
    // FileSystem::Open, Seek, Read or Write; 87 when the kit cannot be
    // measured; 13 when the kit is damaged: not a complete raw DEFLATE
    // stream (a kit file cut short while it is read included), or a stream
    // that ends inside a field, holds a record length below 4, a field
    // running past its record, a string or record prefix over 1 MiB, a data
    // range past the end of the stream, or a file name that
    // kit::IsSafeKitName refuses; also when its integrity record
    // is malformed or does not match, when a stream made for a record has
    // none, and when the trust refuses the kit (Integrity() says which). On
    // failure both tables are empty, no stream is open and no stream file
    // is left.
    ErrorCode Load(const stdx::u16string& kitPath) {
        ErrorCode code = Begin(kitPath);
        if (code == kErrorSuccess) {
            WantData();
            code = FinishLoad();
        }
        return code == kErrorSuccess ? code : Fail(code);
    }

    // The first half of Load, for a reader that uses the kit while it is
    // inflated: starts the inflation on a thread of its own and returns once
    // the tables are read. Codes of Load, as far as the tables tell; the
    // rest of the kit is judged by FinishLoad. Each file's data may be read
    // (ExtractFile, WriteFileTo) once WantData was called: the read waits
    // for the inflater. Past the tables the inflater waits until WantData
    // or SkipData.
    ErrorCode Begin(const stdx::u16string& kitPath);
    // File data will be read: the whole stream is inflated.
    void WantData() { m_inflation.Progress().Decide(kit::StreamProgress::Need::Data); }
    // Only the files at `indices` will be read, each once, in that order:
    // where their data comes in the stream in the same order, it passes
    // through memory only (kit::StreamWindow), and no other file can be
    // read; else as WantData. Once the reads are over (or given up),
    // EndReads.
    void WantFiles(const std::vector<std::size_t>& indices);
    // Files will likely be read, which ones is not known yet: the inflation
    // goes on past the tables until WantData, WantFiles or SkipData.
    void WantDataAhead() { m_inflation.Progress().Decide(kit::StreamProgress::Need::Ahead); }
    // No more file is read: whatever the window kept for reads still to
    // come is let go, so that the inflation can end.
    void EndReads() { m_inflation.Progress().EndReads(); }
    // No file data will be read: none is inflated; the kit's bytes still go
    // through its digest, so that FinishLoad still judges the whole kit.
    void SkipData() { m_inflation.Progress().Decide(kit::StreamProgress::Need::DigestOnly); }
    // Waits for the inflation begun by Begin to end and judges the kit: 0,
    // or the codes of Load with the stream closed. The tables stay after a
    // failure (until the next Begin or Load), so that a reader that still
    // holds records may name them while it gives up. Once ended, returns
    // the same code at once.
    ErrorCode FinishLoad();

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

    // The most a copy moves between two looks at a stop request
    // (kit::StreamCopy's).
    static constexpr std::uint32_t kStopCheckBytes =
        kit::StreamCopy<FileSystemPolicy>::kStopCheckBytes;

    // Whether a successful Load (or Begin) left the stream open.
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
    void ReadTables(bool hasRecord, std::uint64_t kitBytes);
    // Empties the tables and closes the stream after a failed load.
    ErrorCode Fail(ErrorCode code);
    template <class Stop>
    ErrorCode CopyOut(std::size_t index, FileHandle target, Stop stop, char* buffer);
    void Release();

    FileHandle m_stream;
    std::uint32_t m_bufferSize;
    std::unique_ptr<char[]> m_buffer;
    kit::KitTrust m_trust;
    kit::IntegrityReport m_integrity;
    // The integrity record read from the kit's tail, for the inflation's
    // verdict.
    kit::TailStatus m_tail = kit::TailStatus::kNoRecord;
    kit::IntegrityRecord m_record;
    std::string m_tailReason;
    // The read number of each record WantFiles chose, or kNoRead; empty
    // when the data is not read through a window.
    static constexpr std::uint32_t kNoRead = UINT32_MAX;
    std::vector<std::uint32_t> m_readOf;
    // Set by Begin: the inflation is still to be finished.
    bool m_loading = false;
    ErrorCode m_loadCode = kErrorSuccess;
    // Last, so that its thread ends before anything it uses goes.
    kit::KitInflation<Compressor, FileSystemPolicy> m_inflation{m_compressor, m_fileSystem};
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
ErrorCode InstallData<Compressor, FileSystemPolicy>::Begin(const stdx::u16string& kitPath) {
    m_inflation.Stop();
    Release();
    m_products.clear();
    m_files.clear();
    m_integrity = kit::IntegrityReport();
    m_readOf.clear();
    m_loading = false;
    m_loadCode = kErrorSuccess;
    ErrorCode code = kErrorSuccess;
    try {
        Check(CreateStreamFile());
        std::uint64_t streamBytes = 0;
        ReadTail(kitPath, &m_tail, &m_record, &streamBytes, &m_tailReason);
        if (m_tail == kit::TailStatus::kNoRecord && !kit::IsAccepted(m_integrity, m_trust)) {
            throw ErrorCode(kErrorInflate);
        }
        m_inflation.Start(kitPath, m_stream, streamBytes, m_tail, m_record, m_tailReason, m_trust);
        m_loading = true;
        ReadTables(m_tail != kit::TailStatus::kNoRecord, streamBytes);
        return kErrorSuccess;
    } catch (ErrorCode thrown) {
        code = thrown;
    } catch (const std::bad_alloc&) {
        code = kErrorInvalidParameter;
    }
    m_inflation.Stop();
    if (m_loading) {
        // Where the inflation failed on its own (the tables then found the
        // stream cut short), its verdict says why.
        const ErrorCode inflated = m_inflation.Finish();
        if (inflated != kErrorSuccess && inflated != kErrorCancelled) {
            m_integrity = m_inflation.Integrity();
        }
        m_loading = false;
    }
    return Fail(code);
}

template <class Compressor, class FileSystemPolicy>
ErrorCode InstallData<Compressor, FileSystemPolicy>::FinishLoad() {
    if (!m_loading) {
        return m_loadCode;
    }
    m_loading = false;
    EndReads();
    ErrorCode code = m_inflation.Finish();
    if (m_tail != kit::TailStatus::kNoRecord) {
        m_integrity = m_inflation.Integrity();
    }
    // Every range is checked here, once the stream's size is known, so that
    // extraction can trust it; without the data there is none to check.
    const kit::StreamProgress::Need wanted = m_inflation.Progress().Wanted();
    if (code == kErrorSuccess &&
        (wanted == kit::StreamProgress::Need::Data || wanted == kit::StreamProgress::Need::Window ||
         wanted == kit::StreamProgress::Need::Ahead)) {
        const std::uint64_t streamSize = m_inflation.Progress().Size();
        for (const config::FileData<FileSystemPolicy>& file : m_files) {
            if (static_cast<std::uint64_t>(file.m_offset) + file.m_size > streamSize) {
                code = kErrorInflate;
                break;
            }
        }
    }
    if (code != kErrorSuccess) {
        Release();
    }
    m_loadCode = code;
    return m_loadCode;
}

template <class Compressor, class FileSystemPolicy>
ErrorCode InstallData<Compressor, FileSystemPolicy>::Fail(ErrorCode code) {
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
void InstallData<Compressor, FileSystemPolicy>::ReadTables(bool hasRecord, std::uint64_t kitBytes) {
    kit::StreamProgress& progress = m_inflation.Progress();
    kit::KitStreamReader<FileSystemPolicy> reader(m_fileSystem, m_stream, progress);

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
    // untrusted: never more than the stream can hold (every record takes at
    // least four bytes, and DEFLATE makes at most 1032 bytes of one), nor
    // more than kReservedFiles, past which the table grows as it is read.
    std::uint64_t reserved = kitBytes < UINT64_MAX / 1032 ? kitBytes * 1032 / 4 : UINT64_MAX;
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
        m_files.push_back(std::move(file));
    }

    // Offsets become absolute; their ends are checked once the stream's
    // size is known (FinishLoad), and each read waits for its bytes.
    const std::uint64_t dataStart = reader.Position();
    for (config::FileData<FileSystemPolicy>& file : m_files) {
        const std::uint64_t begin = dataStart + file.m_offset;
        if (begin > 0xFFFFFFFFu) {
            throw ErrorCode(kErrorInflate);
        }
        file.m_offset = static_cast<std::uint32_t>(begin);
    }
    progress.SetDataStart(dataStart);
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
        index, target, [] { return false; }, m_buffer.get());
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
    const ErrorCode code =
        CopyOut(index, target, stop, buffer != nullptr ? buffer : m_buffer.get());
    if (code != kErrorSuccess) {
        return code;
    }
    return m_fileSystem.SetTimes(target, nullptr, nullptr, &file.m_lastWriteTime);
}

template <class Compressor, class FileSystemPolicy>
void InstallData<Compressor, FileSystemPolicy>::WantFiles(const std::vector<std::size_t>& indices) {
    std::vector<kit::StreamWindow::Range> ranges;
    ranges.reserve(indices.size());
    for (std::size_t index : indices) {
        const config::FileData<FileSystemPolicy>& file = m_files[index];
        ranges.push_back({file.m_offset, static_cast<std::uint64_t>(file.m_offset) + file.m_size});
    }
    // Set before the window opens: a read may start the moment it does.
    m_readOf.assign(m_files.size(), kNoRead);
    for (std::size_t read = 0; read < indices.size(); ++read) {
        m_readOf[indices[read]] = static_cast<std::uint32_t>(read);
    }
    if (!m_inflation.Progress().OpenWindow(ranges)) {
        m_readOf.clear();
    }
}

template <class Compressor, class FileSystemPolicy>
template <class Stop>
ErrorCode InstallData<Compressor, FileSystemPolicy>::CopyOut(std::size_t index, FileHandle target,
                                                             Stop stop, char* buffer) {
    const config::FileData<FileSystemPolicy>& file = m_files[index];
    // Nothing to wait for: an empty file's place is checked with every
    // other range once the stream has ended (FinishLoad), and waiting for
    // that end here could hold up the readers the inflater waits for.
    if (file.m_size == 0) {
        return kErrorSuccess;
    }
    kit::StreamCopy<FileSystemPolicy> copy(m_fileSystem, m_inflation.Progress(), m_stream, buffer,
                                           m_bufferSize);
    if (m_readOf.empty()) {
        return copy.FromStream(file.m_offset, file.m_size, target, stop);
    }
    // Through a window only the reads it was told of can be served.
    return m_readOf[index] == kNoRead ? kErrorInvalidParameter
                                      : copy.ThroughWindow(m_readOf[index], target, stop);
}
