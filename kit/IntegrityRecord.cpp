#include "kit/IntegrityRecord.h"

#include <cstring>

#include "kit/KitRecords.h"

namespace kit {

namespace {

const unsigned char kMagic[8] = {0x89, 'Q', 'K', 'R', 0x0D, 0x0A, 0x1A, 0x0A};

void AppendBytes(std::string* out, const unsigned char* bytes, std::size_t count) {
    out->append(reinterpret_cast<const char*>(bytes), count);
}

TailStatus Malformed(std::string* reason, const char* why) {
    *reason = why;
    return TailStatus::kMalformed;
}

}  // namespace

std::string EncodeIntegrityRecord(const IntegrityRecord& record) {
    const std::size_t count =
        record.signatures.size() < kMaxSignatures ? record.signatures.size() : kMaxSignatures;
    std::string out;
    AppendU32(&out, kDigestSha256);
    AppendBytes(&out, record.digest.data(), record.digest.size());
    AppendU32(&out, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        AppendU32(&out, kSignatureEd25519);
        AppendBytes(&out, record.signatures[i].publicKey.data(), kPublicKeyBytes);
        AppendBytes(&out, record.signatures[i].signature.data(), kSignatureBytes);
    }
    AppendU32(&out, static_cast<std::uint32_t>(out.size() + kFooterBytes));
    AppendU32(&out, kRecordVersion);
    AppendBytes(&out, kMagic, sizeof(kMagic));
    return out;
}

TailStatus ParseIntegrityTail(const unsigned char* tail, std::size_t tailSize,
                              std::uint64_t fileSize, IntegrityRecord* record,
                              std::uint32_t* recordBytes, std::string* reason) {
    if (tailSize > fileSize || tailSize < kFooterBytes ||
        std::memcmp(tail + tailSize - sizeof(kMagic), kMagic, sizeof(kMagic)) != 0) {
        return TailStatus::kNoRecord;
    }
    const unsigned char* footer = tail + tailSize - kFooterBytes;
    const std::uint32_t length = LoadU32(footer);
    if (LoadU32(footer + 4) != kRecordVersion) {
        return Malformed(reason, "unknown integrity record version");
    }
    // Checked against the bytes at hand before anything is read through it.
    if (length < kRecordFixedBytes || length > kMaxRecordBytes || length > tailSize) {
        return Malformed(reason, "integrity record length outside the file");
    }
    const unsigned char* body = tail + tailSize - length;
    if (LoadU32(body) != kDigestSha256) {
        return Malformed(reason, "unknown digest algorithm");
    }
    const std::uint32_t count = LoadU32(body + 4 + kDigestBytes);
    if (count > kMaxSignatures || length != kRecordFixedBytes + count * kSignatureEntryBytes) {
        return Malformed(reason, "integrity record length does not match its signatures");
    }
    IntegrityRecord parsed;
    std::memcpy(parsed.digest.data(), body + 4, kDigestBytes);
    const unsigned char* entry = body + 40;
    for (std::uint32_t i = 0; i < count; ++i, entry += kSignatureEntryBytes) {
        if (LoadU32(entry) != kSignatureEd25519) {
            return Malformed(reason, "unknown signature algorithm");
        }
        RecordSignature signature;
        std::memcpy(signature.publicKey.data(), entry + 4, kPublicKeyBytes);
        std::memcpy(signature.signature.data(), entry + 4 + kPublicKeyBytes, kSignatureBytes);
        parsed.signatures.push_back(signature);
    }
    *record = parsed;
    *recordBytes = length;
    return TailStatus::kRecord;
}

}  // namespace kit
