#include "kit/ZlibInflater.h"

#include <cstring>

ZlibInflater::ZlibInflater() : m_ready(false), m_ended(false), m_failed(false) {
    // Zeroed, so that zlib uses its own allocation functions.
    std::memset(&m_stream, 0, sizeof(m_stream));
    // Negative window bits: raw DEFLATE, no header and no check value.
    m_ready = inflateInit2(&m_stream, -15) == Z_OK;
}

ZlibInflater::~ZlibInflater() {
    if (m_ready) {
        inflateEnd(&m_stream);
    }
}

void ZlibInflater::SetInput(const void* bytes, std::uint32_t count) {
    m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    m_stream.avail_in = count;
}

InflateStatus ZlibInflater::Inflate(unsigned char* output, std::uint32_t capacity,
                                    std::uint32_t* produced) {
    *produced = 0;
    if (!m_ready || m_failed) {
        return InflateStatus::kError;
    }
    if (m_ended) {
        return InflateStatus::kEnd;
    }
    m_stream.next_out = output;
    m_stream.avail_out = capacity;
    const int result = inflate(&m_stream, Z_NO_FLUSH);
    *produced = capacity - m_stream.avail_out;
    if (result == Z_STREAM_END) {
        m_ended = true;
        return InflateStatus::kEnd;
    }
    // Z_BUF_ERROR only means "no progress possible": with the input used up
    // that is the normal wait for the next window.
    if (result == Z_BUF_ERROR && m_stream.avail_in == 0) {
        return InflateStatus::kNeedInput;
    }
    if (result != Z_OK) {
        m_failed = true;
        return InflateStatus::kError;
    }
    return m_stream.avail_out == 0 ? InflateStatus::kOutputFull : InflateStatus::kNeedInput;
}
