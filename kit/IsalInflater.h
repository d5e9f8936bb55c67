#pragma once

#include <cstdint>
#include <memory>

#include "kit/InflateStatus.h"

struct inflate_state;

// ISA-L's raw inflate, with the same contract as ZlibInflater: raw DEFLATE
// (no wrapper, no check value), windows up to 32 KiB, fed and drained in
// caller-sized pieces. The fast inflate policy, the default when the build
// finds the library.
class IsalInflater {
public:
    IsalInflater();
    ~IsalInflater();
    IsalInflater(const IsalInflater&) = delete;
    IsalInflater& operator=(const IsalInflater&) = delete;

    // The next piece of input; it must stay readable until the inflater
    // asks for more (kNeedInput) or is destroyed.
    void SetInput(const void* bytes, std::uint32_t count);
    // Inflates into `output` (up to `capacity` bytes) and sets *produced to
    // the bytes written there. kEnd and kError are final: later calls
    // produce nothing and return the same.
    InflateStatus Inflate(unsigned char* output, std::uint32_t capacity, std::uint32_t* produced);

private:
    // About 60 KiB of tables and history: on the heap, not on the stack of
    // whichever thread inflates.
    std::unique_ptr<inflate_state> m_state;
    bool m_ended;
    bool m_failed;
};
