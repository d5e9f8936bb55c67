#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kit/KitSigning.h"

// The integrity record at the very end of a kit file, after the raw DEFLATE
// stream (whose reader ignores everything after the stream's final block).
// It is found from the end of the file. All integers are little-endian.
//
// Body (first byte of the record at file offset N - R, R the record length):
//   0        4   digest algorithm, u32: 1 = SHA-256
//   4       32   digest of every byte of the file before the record
//   36       4   signature count S, u32, at most kMaxSignatures
//   40   100*S   S signatures, each:
//                  0   4  signature algorithm, u32: 1 = Ed25519
//                  4  32  public key of the signer
//                 36  64  signature of the digest (see kit::SignDigest)
// Footer (the last 16 bytes of the file):
//   R-16     4   record length R, u32: body and footer, 56 + 100*S
//   R-12     4   record format version, u32: 1
//   R-8      8   magic 89 51 4B 52 0D 0A 1A 0A
//
// A record is exactly that long: nothing may follow the signatures, and a
// length that disagrees with S makes the record malformed.
namespace kit {

constexpr std::size_t kFooterBytes = 16;
constexpr std::size_t kRecordFixedBytes = 40 + kFooterBytes;
constexpr std::size_t kSignatureEntryBytes = 4 + kPublicKeyBytes + kSignatureBytes;
constexpr std::size_t kMaxSignatures = 16;
constexpr std::size_t kMaxRecordBytes = kRecordFixedBytes + kMaxSignatures * kSignatureEntryBytes;
constexpr std::uint32_t kRecordVersion = 1;
constexpr std::uint32_t kDigestSha256 = 1;
constexpr std::uint32_t kSignatureEd25519 = 1;

// The first word of a multi-language kit stream that is followed by an
// integrity record. Readers that know nothing of records take it, like any
// non-zero value, as the multi-language layout; this reader refuses such a
// stream when its record is missing, so that cutting a kit before its
// record, or damaging the record's magic, is not taken for a kit that never
// had one.
constexpr std::uint32_t kSealedStreamVersion = 0x31534B51;  // "QKS1"

struct RecordSignature {
    PublicKey publicKey;
    Signature signature;
};

struct IntegrityRecord {
    Digest digest{};
    std::vector<RecordSignature> signatures;
};

enum class TailStatus {
    kNoRecord,   // the file does not end in a record's magic
    kRecord,     // a well-formed record
    kMalformed,  // the magic is there, the rest is not a valid record
};

// The whole record (body and footer), ready to append to a kit file.
// At most kMaxSignatures signatures are written.
std::string EncodeIntegrityRecord(const IntegrityRecord& record);

// Reads the record from `tail`, the last `tailSize` bytes of a file of
// `fileSize` bytes (tailSize <= fileSize; the last kMaxRecordBytes, or the
// whole file when it is shorter, are enough). On kRecord fills `record` and
// `recordBytes` (R); on kMalformed sets `reason` to a short phrase. Never
// reads outside [tail, tail + tailSize).
TailStatus ParseIntegrityTail(const unsigned char* tail, std::size_t tailSize,
                              std::uint64_t fileSize, IntegrityRecord* record,
                              std::uint32_t* recordBytes, std::string* reason);

}  // namespace kit
