#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/fs/ErrorCodes.h"
#include "kit/LZCompressor.h"
#include "kit/StreamWindow.h"

namespace kit {

// How far a kit's inflated stream has been written, shared between the
// thread that inflates the kit and the threads that read the stream
// meanwhile: its tables first, then the files an installation writes. A
// reader waits for the bytes it needs; the inflater, once past the tables,
// waits to hear whether any file data is wanted at all, so that a run with
// nothing to write inflates no file data (the kit's digest still sees every
// byte of the kit). Until the reader has found the tables' end, the
// inflater keeps at most kLeadBytes ahead of what it asked for: inflating
// far ahead would inflate file data nobody may want.
//
// When the files to be read are known, in an order whose data ascends in
// the stream (kit::StreamWindow::Fits), the data after the tables goes to a
// window in memory instead of the stream file (Need::Window): the readers
// copy each file from there, and no byte of it is written twice.
// Thread-safe.
class StreamProgress final : public OutputObserver {
public:
    // What the readers want of the data after the tables.
    enum class Need {
        Undecided,   // not known yet: the inflater waits at the data
        Data,        // files will be read: inflate everything
        Window,      // the files given to OpenWindow will be read, in order
        Ahead,       // files will likely be read: inflate on until told which
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
        m_window.Expect({});
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
            case Need::Window:
                return OutputStep::Window;
            default:
                return OutputStep::Continue;
        }
    }
    // From here on (the stream file holding `fileBytes`) the inflater fills
    // the window.
    void WindowFrom(std::uint64_t fileBytes) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_written = fileBytes;
        m_window.Begin(fileBytes);
        m_changed.notify_all();
    }
    OutputStep Reserve(std::uint32_t most, unsigned char** at, std::uint32_t* room) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        // A little room at a time would wake everyone for every small file.
        m_inflaterWaits = true;
        m_changed.wait(lock,
                       [this] { return m_need == Need::Nothing || m_window.Free() >= kLeastRoom; });
        m_inflaterWaits = false;
        if (m_need == Need::Nothing) {
            return OutputStep::Stop;
        }
        *room = m_window.Room(most, at);
        return OutputStep::Window;
    }
    void Filled(std::uint32_t count) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window.Filled(count);
        if (m_readersWait != 0) {
            m_changed.notify_all();
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
    // What is wanted of the data. Once decided it changes only to Nothing,
    // but for Ahead, which is followed by the decision proper.
    void Decide(Need need) {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Asked for once per file by a run: only a change wakes anyone.
        if (m_need != need &&
            (m_need == Need::Undecided || m_need == Need::Ahead || need == Need::Nothing)) {
            m_need = need;
            if (need == Need::Nothing) {
                m_window.Abandon();
            }
            m_changed.notify_all();
        }
    }
    // Decides that the data of `ranges` will be read, in that order, each
    // through its read number (its place in ranges), and nothing else: true
    // when the data goes through a window; false when the need was already
    // decided or the ranges do not fit one (StreamWindow::Fits), and the
    // need is then Data unless it was decided before.
    bool OpenWindow(const std::vector<StreamWindow::Range>& ranges) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if ((m_need == Need::Undecided || m_need == Need::Ahead) &&
                StreamWindow::Fits(ranges)) {
                m_window.Expect(ranges);
                m_need = Need::Window;
                m_changed.notify_all();
                return true;
            }
        }
        Decide(Need::Data);
        return false;
    }
    // Where the next bytes of read `read` are, waiting for them: at *at in
    // memory (busy until Advance), or, with *at null, at *position in the
    // stream file. Their count, or 0 with the code of an inflation that
    // ended before them (13 when it ended well but short), or 1223 when the
    // reads were abandoned; the read is then dropped.
    std::uint32_t Acquire(std::size_t read, const unsigned char** at, std::uint64_t* offset,
                          ErrorCode* code) {
        std::unique_lock<std::mutex> lock(m_mutex);
        *code = kErrorSuccess;
        for (;;) {
            const std::uint64_t position = m_window.Position(read);
            *offset = position;
            const std::uint64_t end = m_window.End(read);
            if (position >= end) {
                return 0;
            }
            if (m_window.Abandoned()) {
                m_window.Drop(read);
                *code = kErrorCancelled;
                return 0;
            }
            // Before the window starts, the bytes are in the stream file.
            const std::uint64_t fileEnd = m_window.Begun() ? m_window.Base() : m_written;
            if (position < fileEnd) {
                *at = nullptr;
                return static_cast<std::uint32_t>((end < fileEnd ? end : fileEnd) - position);
            }
            const std::uint32_t count = m_window.Available(read, at);
            if (count != 0) {
                return count;
            }
            if (m_ended) {
                m_window.Drop(read);
                *code = m_code != kErrorSuccess ? m_code : kErrorInflate;
                return 0;
            }
            ++m_readersWait;
            m_changed.wait(lock);
            --m_readersWait;
        }
    }
    // Read `read` used `count` bytes at its position.
    void Advance(std::size_t read, std::uint64_t count) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window.Advance(read, count);
        WakeInflater();
    }
    // Read `read` ends here, done or not.
    void EndRead(std::size_t read) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_window.Done(read)) {
            m_window.Drop(read);
            WakeInflater();
        }
    }
    // No read goes on: the window keeps nothing more for anyone.
    void EndReads() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_window.Abandon();
        m_changed.notify_all();
    }
    Need Wanted() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_need;
    }
    // The bytes inflated so far: the whole stream once the inflation ended
    // with every byte wanted.
    std::uint64_t Size() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_window.Begun() ? m_window.Head() : m_written;
    }

private:
    // The room the inflater waits for in a window before it goes on.
    static constexpr std::uint64_t kLeastRoom = 65536;

    void WakeInflater() {
        if (m_inflaterWaits && m_window.Free() >= kLeastRoom) {
            m_changed.notify_all();
        }
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_written = 0;
    std::uint64_t m_asked = 0;  // the furthest end a reader has waited for
    bool m_inflaterWaits = false;
    std::uint64_t m_dataStart = UINT64_MAX;
    Need m_need = Need::Undecided;
    bool m_ended = false;
    ErrorCode m_code = kErrorSuccess;
    StreamWindow m_window;
    int m_readersWait = 0;
};

}  // namespace kit
