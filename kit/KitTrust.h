#pragma once

#include <string>
#include <vector>

#include "kit/IntegrityRecord.h"
#include "kit/KitSigning.h"

// Which kits a reader accepts, and the verdict on one kit's integrity record.
namespace kit {

struct KitTrust {
    // Empty: a kit without a record is accepted, and a record's signatures
    // are checked against the keys they carry. Otherwise only a kit with a
    // valid signature by one of these keys is accepted.
    std::vector<PublicKey> keys;
};

// The keys built in with the CMake cache variable QA_KIT_PUBLIC_KEYS (none
// by default).
const KitTrust& BuiltInTrust();

enum class IntegrityState {
    kNoRecord,  // the kit ends without an integrity record
    kUnsigned,  // the digest matches; no signature
    kSigned,    // the digest and every signature match
    kDamaged,   // a malformed record, a wrong digest or a wrong signature
};

struct IntegrityReport {
    IntegrityState state = IntegrityState::kNoRecord;
    std::string reason;              // kDamaged: a short phrase
    std::vector<PublicKey> signers;  // kSigned: in record order
    bool trusted = false;            // one of the signers is a trusted key
};

// The verdict on a record read from a kit's tail (`status`, `record`,
// `malformedReason` as ParseIntegrityTail left them) given the digest of
// the bytes before it. Every signature must match the digest under its own
// key, whatever the trust.
IntegrityReport JudgeRecord(TailStatus status, const IntegrityRecord& record,
                            const std::string& malformedReason, const Digest& computed,
                            const KitTrust& trust);

// Whether a kit with this verdict may be used under `trust`.
bool IsAccepted(const IntegrityReport& report, const KitTrust& trust);

}  // namespace kit
