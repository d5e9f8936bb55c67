#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "kit/KitDigest.h"
#include "kit/LZCompressor.h"

namespace kit {

// The digest of the kit bytes the inflater reads, computed on a second
// thread while the inflater works on the same window, so that checking a
// kit costs little more time than inflating it. Pieces smaller than
// kInlineBytes (a small kit) are hashed on the caller's thread, without a
// thread at all; so is everything when no thread can be started.
class BackgroundDigest final : public InputObserver {
public:
    static constexpr std::uint32_t kInlineBytes = 256 * 1024;

    BackgroundDigest();
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

    void Consume(const void* bytes, std::uint32_t count) override;
    void Release() override;
    // The digest of every byte consumed; false when the library failed.
    bool Finish(unsigned char digest[kDigestBytes]);

private:
    static void* Main(void* self);
    void Run();

    KitDigest m_digest;  // used by the thread only while a piece is pending
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    const void* m_bytes;
    std::uint32_t m_count;
    bool m_busy;
    bool m_stopping;
    bool m_started;
    bool m_threaded;
    pthread_t m_thread;
};

}  // namespace kit
