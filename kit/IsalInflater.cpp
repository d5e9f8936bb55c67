#include "kit/IsalInflater.h"

#include <isa-l/igzip_lib.h>

#include <new>

IsalInflater::IsalInflater()
    : m_state(new (std::nothrow) inflate_state), m_ended(false), m_failed(m_state == nullptr) {
    if (m_state != nullptr) {
        // Raw DEFLATE (crc_flag ISAL_DEFLATE) with the full 32 KiB history.
        isal_inflate_init(m_state.get());
    }
}

IsalInflater::~IsalInflater() = default;

void IsalInflater::SetInput(const void* bytes, std::uint32_t count) {
    if (m_state != nullptr) {
        m_state->next_in = static_cast<std::uint8_t*>(const_cast<void*>(bytes));
        m_state->avail_in = count;
    }
}

InflateStatus IsalInflater::Inflate(unsigned char* output, std::uint32_t capacity,
                                    std::uint32_t* produced) {
    *produced = 0;
    if (m_failed) {
        return InflateStatus::kError;
    }
    if (m_ended) {
        return InflateStatus::kEnd;
    }
    inflate_state& state = *m_state;
    const std::uint32_t inputBefore = state.avail_in;
    state.next_out = output;
    state.avail_out = capacity;
    const int result = isal_inflate(&state);
    *produced = capacity - state.avail_out;
    if (result < 0) {
        m_failed = true;
        return InflateStatus::kError;
    }
    if (state.block_state == ISAL_BLOCK_FINISH) {
        m_ended = true;
        return InflateStatus::kEnd;
    }
    if (state.avail_out == 0) {
        return InflateStatus::kOutputFull;
    }
    if (state.avail_in == 0) {
        return InflateStatus::kNeedInput;
    }
    // Room left on both sides and no end: the library stopped for a reason
    // a raw stream never has (a dictionary request). Without progress that
    // would repeat for ever, so it counts as a damaged stream.
    if (*produced == 0 && state.avail_in == inputBefore) {
        m_failed = true;
        return InflateStatus::kError;
    }
    return InflateStatus::kOutputFull;
}
