#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "engine/fs/FileSystem.h"

// Writes pieces of a file on a second thread, so that the producer (the
// inflater) goes on with the next piece while the previous one is copied
// into the file. One piece is in flight at a time: Submit waits until the
// previous piece is written. When no thread can be started, every piece is
// written on the caller's thread; the result is the same.
template <class FileSystemPolicy>
class BackgroundWriter {
public:
    BackgroundWriter(FileSystemPolicy& fileSystem, FileHandle target)
        : m_fileSystem(fileSystem),
          m_target(target),
          m_bytes(nullptr),
          m_count(0),
          m_busy(false),
          m_stopping(false),
          m_code(kErrorSuccess),
          m_threaded(pthread_create(&m_thread, nullptr, &BackgroundWriter::Main, this) == 0) {}

    ~BackgroundWriter() {
        Finish();
        if (m_threaded) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_stopping = true;
            }
            m_wake.notify_all();
            pthread_join(m_thread, nullptr);
        }
    }

    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // Hands over `count` bytes, which must stay untouched until the next
    // Submit or Finish returns. Returns the code of the first failed write
    // so far (the piece is then dropped), else 0.
    ErrorCode Submit(const unsigned char* bytes, std::uint32_t count) {
        if (!m_threaded) {
            if (m_code == kErrorSuccess) {
                m_code = WritePiece(bytes, count);
            }
            return m_code;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return !m_busy; });
        if (m_code != kErrorSuccess) {
            return m_code;
        }
        m_bytes = bytes;
        m_count = count;
        m_busy = true;
        lock.unlock();
        m_wake.notify_one();
        return kErrorSuccess;
    }

    // Waits until every piece is written; the code of the first failed
    // write, else 0.
    ErrorCode Finish() {
        if (!m_threaded) {
            return m_code;
        }
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait(lock, [this] { return !m_busy; });
        return m_code;
    }

private:
    static void* Main(void* self) {
        static_cast<BackgroundWriter*>(self)->Run();
        return nullptr;
    }

    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_busy || m_stopping; });
            if (!m_busy) {
                return;
            }
            const unsigned char* bytes = m_bytes;
            const std::uint32_t count = m_count;
            lock.unlock();
            const ErrorCode code = WritePiece(bytes, count);
            lock.lock();
            if (m_code == kErrorSuccess) {
                m_code = code;
            }
            m_busy = false;
            m_done.notify_all();
        }
    }

    ErrorCode WritePiece(const unsigned char* bytes, std::uint32_t count) {
        std::uint32_t written = 0;
        return m_fileSystem.Write(m_target, bytes, count, &written);
    }

    FileSystemPolicy& m_fileSystem;
    const FileHandle m_target;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const unsigned char* m_bytes;
    std::uint32_t m_count;
    bool m_busy;
    bool m_stopping;
    ErrorCode m_code;
    pthread_t m_thread;
    const bool m_threaded;
};
