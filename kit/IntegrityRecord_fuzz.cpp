// Fuzzes the integrity record's parser over arbitrary file tails, and the
// verdict on what it accepts. The layout is strict, so a record it accepts
// must encode back to exactly the bytes it was read from.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/IntegrityRecord.h"
#include "kit/KitTrust.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The parser is given the last kMaxRecordBytes of the "file" at most,
    // as the reader does; the file itself may be longer.
    const std::size_t tailSize = size < kit::kMaxRecordBytes ? size : kit::kMaxRecordBytes;
    const unsigned char* tail = data + size - tailSize;
    kit::IntegrityRecord record;
    std::uint32_t length = 0;
    std::string reason;
    const kit::TailStatus status =
        kit::ParseIntegrityTail(tail, tailSize, size, &record, &length, &reason);
    if (status == kit::TailStatus::kMalformed && reason.empty()) {
        std::abort();
    }
    if (status != kit::TailStatus::kRecord) {
        return 0;
    }
    if (length > tailSize || length < kit::kRecordFixedBytes) {
        std::abort();
    }
    const std::string encoded = kit::EncodeIntegrityRecord(record);
    if (encoded.size() != length || std::memcmp(encoded.data(), tail + tailSize - length, length)) {
        std::abort();
    }
    // The verdict never accepts a record whose digest differs, and never
    // calls a kit signed without a signature.
    kit::Digest other = record.digest;
    other[0] ^= 1;
    const kit::IntegrityReport wrong =
        kit::JudgeRecord(status, record, reason, other, kit::KitTrust());
    if (wrong.state != kit::IntegrityState::kDamaged) {
        std::abort();
    }
    const kit::IntegrityReport right =
        kit::JudgeRecord(status, record, reason, record.digest, kit::KitTrust());
    if (right.state == kit::IntegrityState::kSigned && right.signers.empty()) {
        std::abort();
    }
    return 0;
}
