#include "kit/BackgroundDigest.h"

namespace kit {

BackgroundDigest::BackgroundDigest()
    : m_bytes(nullptr),
      m_count(0),
      m_busy(false),
      m_stopping(false),
      m_started(false),
      m_threaded(false) {}

BackgroundDigest::~BackgroundDigest() {
    if (!m_threaded) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    pthread_join(m_thread, nullptr);
}

void BackgroundDigest::Consume(const void* bytes, std::uint32_t count) {
    if (!m_started && count >= kInlineBytes) {
        m_started = true;
        m_threaded = pthread_create(&m_thread, nullptr, &BackgroundDigest::Main, this) == 0;
    }
    if (!m_threaded) {
        m_digest.Update(bytes, count);
        return;
    }
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        // The caller releases every piece before it gives the next one.
        m_done.wait(lock, [this] { return !m_busy; });
        m_bytes = bytes;
        m_count = count;
        m_busy = true;
    }
    m_wake.notify_one();
}

void BackgroundDigest::Release() {
    if (!m_threaded) {
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return !m_busy; });
}

bool BackgroundDigest::Finish(unsigned char digest[kDigestBytes]) {
    Release();
    return m_digest.Finish(digest);
}

void* BackgroundDigest::Main(void* self) {
    static_cast<BackgroundDigest*>(self)->Run();
    return nullptr;
}

void BackgroundDigest::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_busy || m_stopping; });
        if (!m_busy) {
            return;
        }
        const void* bytes = m_bytes;
        const std::uint32_t count = m_count;
        lock.unlock();
        m_digest.Update(bytes, count);
        lock.lock();
        m_busy = false;
        m_done.notify_all();
    }
}

}  // namespace kit
