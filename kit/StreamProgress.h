#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/fs/ErrorCodes.h"
#include "kit/LZCompressor.h"

namespace kit {

// How far a kit's inflated stream has been written, shared between the
// thread that inflates the kit and the threads that read the stream
// meanwhile: its tables first, then the files an installation writes. A
// reader waits for the bytes it needs; the inflater, once past the tables,
// waits to hear whether any file data is wanted at all, so that a run with
// nothing to write inflates no file data (the kit's digest still sees every
// byte of the kit). Until the reader has found the tables' end, the
// inflater keeps at most kLeadBytes ahead of what it asked for: inflating
// far ahead would inflate file data nobody may want. Thread-safe.
class StreamProgress final : public OutputObserver {
public:
    // What the readers want of the data after the tables.
    enum class Need {
        Undecided,   // not known yet: the inflater waits at the data
        Data,        // files will be read: inflate everything
        DigestOnly,  // no file will be read: only the digest goes on
        Nothing,     // the load is abandoned: stop at once
    };
    static constexpr std::uint64_t kLeadBytes = 1024 * 1024;

    void Reset() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_written = 0;
        m_asked = 0;
        m_dataStart = UINT64_MAX;
        m_need = Need::Undecided;
        m_ended = false;
        m_code = kErrorSuccess;
    }

    // The inflater's side (OutputObserver): publishes how far the stream is
    // written, and past the tables waits until the need is known.
    OutputStep Written(std::uint64_t bytes) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (bytes > m_written) {
            m_written = bytes;
            m_changed.notify_all();
        }
        m_inflaterWaits = true;
        m_changed.wait(lock, [this] {
            if (m_need != Need::Undecided) {
                return true;
            }
            return m_dataStart == UINT64_MAX ? m_written < m_asked + kLeadBytes
                                             : m_written < m_dataStart;
        });
        m_inflaterWaits = false;
        switch (m_need) {
            case Need::Nothing:
                return OutputStep::Stop;
            case Need::DigestOnly:
                return OutputStep::DigestOnly;
            default:
                return OutputStep::Continue;
        }
    }
    // The inflation is over, with its code (0 also when it stopped early
    // because no data was wanted).
    void End(ErrorCode code) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_code = code;
        m_changed.notify_all();
    }

    // The readers' side. Waits until the first `end` bytes of the stream
    // are written: 0, or the code of the inflation that ended before (13
    // when it ended well but short: the stream holds no such bytes).
    ErrorCode WaitFor(std::uint64_t end) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (end > m_asked) {
            m_asked = end;
            if (m_inflaterWaits) {
                m_changed.notify_all();
            }
        }
        m_changed.wait(lock, [this, end] { return m_written >= end || m_ended; });
        if (m_written >= end) {
            return kErrorSuccess;
        }
        return m_code != kErrorSuccess ? m_code : kErrorInflate;
    }
    // Where the file data begins: the end of the tables.
    void SetDataStart(std::uint64_t offset) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dataStart = offset;
        m_changed.notify_all();
    }
    // What is wanted of the data. Once decided it changes only to Nothing.
    void Decide(Need need) {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Asked for once per file by a run: only a change wakes anyone.
        if (m_need != need && (m_need == Need::Undecided || need == Need::Nothing)) {
            m_need = need;
            m_changed.notify_all();
        }
    }
    Need Wanted() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_need;
    }
    // The bytes written so far: the whole stream once the inflation ended
    // with every byte wanted.
    std::uint64_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_written;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_written = 0;
    std::uint64_t m_asked = 0;  // the furthest end a reader has waited for
    bool m_inflaterWaits = false;
    std::uint64_t m_dataStart = UINT64_MAX;
    Need m_need = Need::Undecided;
    bool m_ended = false;
    ErrorCode m_code = kErrorSuccess;
};

}  // namespace kit
