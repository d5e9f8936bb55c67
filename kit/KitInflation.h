#pragma once

#include <pthread.h>

#include <cstdint>

#include "engine/fs/ErrorCodes.h"
#include "engine/fs/FileSystem.h"
#include "kit/BackgroundDigest.h"
#include "kit/IntegrityRecord.h"
#include "kit/KitTrust.h"
#include "kit/StreamProgress.h"
#include "text/String.h"

namespace kit {

// The inflation of one kit into its stream file, on a thread of its own, so
// that the tables (and, in an installation, the files) are read while the
// stream grows (StreamProgress). The kit's digest is computed in the same
// pass over the kit's bytes and judged against the trust once they are all
// read. When no thread can be started the whole kit is inflated before
// Start returns; the result is the same.
template <class Compressor, class FileSystemPolicy>
class KitInflation {
public:
    KitInflation(Compressor& compressor, FileSystemPolicy& fileSystem)
        : m_compressor(compressor), m_fileSystem(fileSystem) {}
    ~KitInflation() { Stop(); }
    KitInflation(const KitInflation&) = delete;
    KitInflation& operator=(const KitInflation&) = delete;

    // Starts inflating the first streamBytes of the kit at kitPath into
    // stream (open for writing, at its start). With a record (tail not
    // kNoRecord) the digest of those bytes is judged against trust at the
    // end. The caller keeps everything it hands in alive until Finish or
    // Stop.
    void Start(const stdx::u16string& kitPath, FileHandle stream, std::uint64_t streamBytes,
               TailStatus tail, const IntegrityRecord& record, const std::string& reason,
               const KitTrust& trust) {
        Stop();
        m_progress.Reset();
        m_kitPath = kitPath;
        m_stream = stream;
        m_streamBytes = streamBytes;
        m_tail = tail;
        m_record = &record;
        m_reason = &reason;
        m_trust = &trust;
        m_integrity = IntegrityReport();
        m_code = kErrorSuccess;
        m_running = pthread_create(&m_thread, nullptr, &KitInflation::Main, this) == 0;
        if (!m_running) {
            // Nobody reads while this thread inflates: it must not wait.
            m_progress.Decide(StreamProgress::Need::Data);
            Run();
        }
    }

    StreamProgress& Progress() { return m_progress; }

    // Waits for the inflation to end. 0; the code of the inflation (13 for
    // data that is not a complete raw DEFLATE stream); 13 when the record
    // is damaged or the trust refuses the kit (Integrity() says which).
    ErrorCode Finish() {
        if (m_running) {
            pthread_join(m_thread, nullptr);
            m_running = false;
        }
        return m_code;
    }
    // The verdict on the kit's integrity record, once finished.
    const IntegrityReport& Integrity() const { return m_integrity; }

    // Abandons a running inflation and waits for its thread.
    void Stop() {
        if (m_running) {
            m_progress.Decide(StreamProgress::Need::Nothing);
            Finish();
        }
    }

private:
    static void* Main(void* self) {
        static_cast<KitInflation*>(self)->Run();
        return nullptr;
    }

    void Run() {
        if (m_tail == TailStatus::kNoRecord) {
            m_code = m_compressor.DecompressInto(m_fileSystem, m_kitPath, m_stream, m_streamBytes,
                                                 nullptr, &m_progress);
        } else {
            Digest computed{};
            if (m_tail == TailStatus::kRecord) {
                // The compressor reads only the bytes before the record and
                // shows each of them to the digest, so what is inflated is
                // what is checked.
                BackgroundDigest digest;
                m_code = m_compressor.DecompressInto(m_fileSystem, m_kitPath, m_stream,
                                                     m_streamBytes, &digest, &m_progress);
                if (!digest.Finish(computed.data()) && m_code == kErrorSuccess) {
                    m_code = kErrorInvalidParameter;
                }
            }
            m_integrity = JudgeRecord(m_tail, *m_record, *m_reason, computed, *m_trust);
            if (m_code == kErrorSuccess && !IsAccepted(m_integrity, *m_trust)) {
                m_code = kErrorInflate;
            }
        }
        m_progress.End(m_code);
    }

    Compressor& m_compressor;
    FileSystemPolicy& m_fileSystem;
    StreamProgress m_progress;
    stdx::u16string m_kitPath;
    FileHandle m_stream = kInvalidHandle;
    std::uint64_t m_streamBytes = 0;
    TailStatus m_tail = TailStatus::kNoRecord;
    const IntegrityRecord* m_record = nullptr;
    const std::string* m_reason = nullptr;
    const KitTrust* m_trust = nullptr;
    IntegrityReport m_integrity;
    ErrorCode m_code = kErrorSuccess;
    bool m_running = false;
    pthread_t m_thread;
};

}  // namespace kit
