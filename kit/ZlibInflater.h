#pragma once

#include <zlib.h>

#include <cstdint>

#include "kit/InflateStatus.h"

// zlib's raw inflate (no zlib or gzip wrapper, windows up to 32 KiB), fed
// and drained in caller-sized pieces. The portable inflate policy, used when
// ISA-L is not available or the build asks for zlib.
class ZlibInflater {
public:
    ZlibInflater();
    ~ZlibInflater();
    ZlibInflater(const ZlibInflater&) = delete;
    ZlibInflater& operator=(const ZlibInflater&) = delete;

    // The next piece of input; it must stay readable until the inflater
    // asks for more (kNeedInput) or is destroyed.
    void SetInput(const void* bytes, std::uint32_t count);
    // Inflates into `output` (up to `capacity` bytes) and sets *produced to
    // the bytes written there. kEnd and kError are final: later calls
    // produce nothing and return the same.
    InflateStatus Inflate(unsigned char* output, std::uint32_t capacity, std::uint32_t* produced);

private:
    z_stream m_stream;
    bool m_ready;
    bool m_ended;
    bool m_failed;
};
