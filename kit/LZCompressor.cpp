#include "kit/LZCompressor.h"

#include <cstring>

RawInflater::RawInflater() : m_ready(false), m_ended(false) {
    // Zeroed, so that zlib uses its own allocation functions.
    std::memset(&m_stream, 0, sizeof(m_stream));
    // Negative window bits: raw DEFLATE, no header and no check value.
    m_ready = inflateInit2(&m_stream, -15) == Z_OK;
}

RawInflater::~RawInflater() {
    if (m_ready) {
        inflateEnd(&m_stream);
    }
}

void RawInflater::SetInput(const void* bytes, std::uint32_t count) {
    m_stream.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    m_stream.avail_in = count;
}

RawInflater::Status RawInflater::Inflate(unsigned char* output, std::uint32_t capacity,
                                         std::uint32_t* produced) {
    *produced = 0;
    if (!m_ready) {
        return Status::kError;
    }
    if (m_ended) {
        return Status::kEnd;
    }
    m_stream.next_out = output;
    m_stream.avail_out = capacity;
    const int result = inflate(&m_stream, Z_NO_FLUSH);
    *produced = capacity - m_stream.avail_out;
    if (result == Z_STREAM_END) {
        m_ended = true;
        return Status::kEnd;
    }
    // Z_BUF_ERROR only means "no progress possible": with the input used up
    // that is the normal wait for the next window.
    if (result == Z_BUF_ERROR && m_stream.avail_in == 0) {
        return Status::kNeedInput;
    }
    if (result != Z_OK) {
        return Status::kError;
    }
    return m_stream.avail_out == 0 ? Status::kOutputFull : Status::kNeedInput;
}
