#include <zlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fs/FaultInjectingFileSystem.h"
#include "kit/IntegrityRecord.h"
#include "kit/KitTestSupport.h"

using fs_test::ReadFile;
using fs_test::TempDir;
using fs_test::U16;
using fs_test::WriteFile;
using kit_test::KeyPair;
using kit_test::Kit;
using kit_test::NewKey;
using kit_test::ScopedTempRoot;
using test_support::BuildKit;

namespace {

// A small kit with a record signed by `keys` (none: the digest alone), or
// the bare format when `record` is false.
kit::KitStats WriteSmallKit(const std::string& path, const std::vector<KeyPair>& keys,
                            bool record = true, const std::string& content = "alpha") {
    kit::KitStats stats;
    EXPECT_EQ(BuildKit(path,
                       {{"a.cfg", content, 1600000000},
                        {"sub\\b.cfg", kit_test::Pattern(3000, 4), 1500000000}},
                       kit_test::Sealed(keys, record), &stats),
              "");
    return stats;
}

kit::KitTrust TrustOf(const std::vector<KeyPair>& keys) {
    kit::KitTrust trust;
    for (const KeyPair& key : keys) {
        trust.keys.push_back(key.publicKey);
    }
    return trust;
}

ErrorCode LoadWith(const std::string& path, const kit::KitTrust& trust,
                   kit::IntegrityState* state = nullptr) {
    Kit kit;
    kit.SetTrust(trust);
    const ErrorCode code = kit.Load(U16(path));
    if (state != nullptr) {
        *state = kit.Integrity().state;
    }
    return code;
}

TEST(IntegrityRecordLayout, EncodedRecordParsesBackFromTheFileTail) {
    kit::IntegrityRecord record;
    for (std::size_t i = 0; i < record.digest.size(); ++i) {
        record.digest[i] = static_cast<unsigned char>(i * 7);
    }
    record.signatures.resize(2);
    record.signatures[0].publicKey.fill(1);
    record.signatures[0].signature.fill(2);
    record.signatures[1].publicKey.fill(3);
    record.signatures[1].signature.fill(4);
    const std::string bytes = "deflate-data" + kit::EncodeIntegrityRecord(record);
    ASSERT_EQ(bytes.size(), 12 + kit::kRecordFixedBytes + 2 * kit::kSignatureEntryBytes);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    // Given the whole file, or only the record, the result is the same.
    for (std::size_t skip : {std::size_t(0), std::size_t(12)}) {
        kit::IntegrityRecord parsed;
        std::uint32_t length = 0;
        std::string reason;
        ASSERT_EQ(kit::ParseIntegrityTail(data + skip, bytes.size() - skip, bytes.size(), &parsed,
                                          &length, &reason),
                  kit::TailStatus::kRecord)
            << reason;
        EXPECT_EQ(length, bytes.size() - 12);
        EXPECT_EQ(parsed.digest, record.digest);
        ASSERT_EQ(parsed.signatures.size(), 2u);
        EXPECT_EQ(parsed.signatures[1].publicKey, record.signatures[1].publicKey);
        EXPECT_EQ(parsed.signatures[1].signature, record.signatures[1].signature);
    }
}

// Each change of a valid record's footer or body, and what the parser says.
TEST(IntegrityRecordLayout, DamagedRecordsAreMalformedNotAbsent) {
    kit::IntegrityRecord record;
    record.signatures.resize(1);
    const std::string good = kit::EncodeIntegrityRecord(record);
    const std::size_t n = good.size();
    struct Case {
        const char* what;
        std::size_t offset;  // of the u32 to replace
        std::uint32_t value;
        kit::TailStatus expected;
    };
    const Case cases[] = {
        {"version 2", n - 12, 2, kit::TailStatus::kMalformed},
        {"length past the file", n - 16, static_cast<std::uint32_t>(n + 1),
         kit::TailStatus::kMalformed},
        {"length huge", n - 16, 0xFFFFFFF0u, kit::TailStatus::kMalformed},
        {"length below the fixed part", n - 16, 8, kit::TailStatus::kMalformed},
        {"length one signature short", n - 16, static_cast<std::uint32_t>(kit::kRecordFixedBytes),
         kit::TailStatus::kMalformed},
        {"digest algorithm 2", 0, 2, kit::TailStatus::kMalformed},
        {"signature count 2", 36, 2, kit::TailStatus::kMalformed},
        {"signature count huge", 36, 0x40000000u, kit::TailStatus::kMalformed},
        {"signature algorithm 0", 40, 0, kit::TailStatus::kMalformed},
        {"magic changed", n - 8, 0x12345678u, kit::TailStatus::kNoRecord},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        for (int i = 0; i < 4; ++i) {
            bytes[c.offset + i] = static_cast<char>(c.value >> (8 * i));
        }
        kit::IntegrityRecord parsed;
        std::uint32_t length = 0;
        std::string reason;
        EXPECT_EQ(kit::ParseIntegrityTail(reinterpret_cast<const unsigned char*>(bytes.data()),
                                          bytes.size(), bytes.size(), &parsed, &length, &reason),
                  c.expected)
            << c.what;
        if (c.expected == kit::TailStatus::kMalformed) {
            EXPECT_FALSE(reason.empty()) << c.what;
        }
    }
    // Shorter than a footer: no record, and nothing read before the bytes.
    kit::IntegrityRecord parsed;
    std::uint32_t length = 0;
    std::string reason;
    EXPECT_EQ(kit::ParseIntegrityTail(reinterpret_cast<const unsigned char*>(good.data()) + n - 8,
                                      8, 8, &parsed, &length, &reason),
              kit::TailStatus::kNoRecord);
}

TEST(KitSigningText, KeysRoundTripAndMalformedTextIsRefused) {
    const KeyPair key = NewKey();
    kit::PublicKey publicKey;
    ASSERT_TRUE(kit::ParsePublicKeyText(kit::PublicKeyText(key.publicKey) + "\n", &publicKey));
    EXPECT_EQ(publicKey, key.publicKey);
    kit::SecretKey secret;
    ASSERT_TRUE(kit::ParseSecretKeyText(kit::SecretKeyText(key.secret), &secret));
    EXPECT_EQ(secret, key.secret);
    EXPECT_EQ(kit::KeyId(key.publicKey).size(), 16u);
    const std::string text = kit::PublicKeyText(key.publicKey);
    for (const std::string& bad :
         {text.substr(0, text.size() - 1), text + "0", "ed25519-secret:" + text.substr(8),
          text.substr(0, 10) + "g" + text.substr(11), std::string("ed25519:"), std::string()}) {
        EXPECT_FALSE(kit::ParsePublicKeyText(bad, &publicKey)) << bad;
    }
    EXPECT_FALSE(kit::ParseSecretKeyText(text, &secret));
}

// What the reader accepts under each trust, kit by kit.
TEST(KitIntegrityLoad, TrustDecidesWhichKitsLoad) {
    ScopedTempRoot temp;
    TempDir dir;
    const KeyPair first = NewKey();
    const KeyPair second = NewKey();
    const KeyPair other = NewKey();
    WriteSmallKit(dir / "bare", {}, false);
    WriteSmallKit(dir / "digest", {});
    WriteSmallKit(dir / "first", {first});
    WriteSmallKit(dir / "second", {second});
    WriteSmallKit(dir / "other", {other});
    WriteSmallKit(dir / "both", {other, second});
    const kit::KitTrust none;
    const kit::KitTrust configured = TrustOf({first, second});
    struct Case {
        const char* kit;
        ErrorCode withoutKeys;
        kit::IntegrityState state;
        ErrorCode withKeys;
    };
    const Case cases[] = {
        {"bare", 0, kit::IntegrityState::kNoRecord, kErrorInflate},
        {"digest", 0, kit::IntegrityState::kUnsigned, kErrorInflate},
        {"first", 0, kit::IntegrityState::kSigned, 0},
        {"second", 0, kit::IntegrityState::kSigned, 0},
        {"other", 0, kit::IntegrityState::kSigned, kErrorInflate},
        {"both", 0, kit::IntegrityState::kSigned, 0},
    };
    for (const Case& c : cases) {
        kit::IntegrityState state;
        EXPECT_EQ(LoadWith(dir / c.kit, none, &state), c.withoutKeys) << c.kit;
        EXPECT_EQ(state, c.state) << c.kit;
        EXPECT_EQ(LoadWith(dir / c.kit, configured), c.withKeys) << c.kit;
    }
    EXPECT_EQ(temp.StreamFiles(), 0u);
}

// Records moved, copied or doubled between kits: refused, whatever the trust.
TEST(KitIntegrityLoad, TamperedRecordsAreRefused) {
    ScopedTempRoot temp;
    TempDir dir;
    const KeyPair key = NewKey();
    WriteSmallKit(dir / "genuine", {key}, true, "genuine");
    WriteSmallKit(dir / "forged", {key}, true, "forged!");
    WriteSmallKit(dir / "digest", {});
    const std::string genuine = ReadFile(dir / "genuine");
    const std::string forged = ReadFile(dir / "forged");
    const std::size_t record = kit::kRecordFixedBytes + kit::kSignatureEntryBytes;
    ASSERT_EQ(genuine.size(), forged.size());
    const std::string genuineRecord = genuine.substr(genuine.size() - record);
    const std::string forgedStream = forged.substr(0, forged.size() - record);

    // The forged kit's signature entry replaced by the genuine one: a valid
    // signature, but of another digest.
    std::string copiedSignature = forged;
    copiedSignature.replace(forged.size() - record + 40, kit::kSignatureEntryBytes,
                            genuineRecord.substr(40, kit::kSignatureEntryBytes));
    // An unsigned record appended after a signed kit.
    const std::string digestOnly = ReadFile(dir / "digest");
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"the whole genuine record after the forged stream", forgedStream + genuineRecord},
        {"a signature copied from another kit", copiedSignature},
        {"the record doubled", genuine + genuineRecord},
        {"a digest-only record after a signed one",
         genuine + digestOnly.substr(digestOnly.size() - kit::kRecordFixedBytes)},
    };
    for (const auto& [what, bytes] : cases) {
        WriteFile(dir / "case", bytes);
        kit::IntegrityState state;
        EXPECT_EQ(LoadWith(dir / "case", kit::KitTrust(), &state), kErrorInflate) << what;
        EXPECT_EQ(state, kit::IntegrityState::kDamaged) << what;
        EXPECT_EQ(LoadWith(dir / "case", TrustOf({key})), kErrorInflate) << what;
    }
    EXPECT_EQ(LoadWith(dir / "genuine", TrustOf({key})), 0u);
    EXPECT_EQ(temp.StreamFiles(), 0u);
}

// A kit over several of the compressor's windows, so that the digest runs
// beside the inflater: intact it loads, one flipped byte in a later window
// is found.
TEST(KitIntegrityLoad, LargeKitIsCheckedAcrossWindows) {
    ScopedTempRoot temp;
    TempDir dir;
    const KeyPair key = NewKey();
    WriteSmallKit(dir / "kit", {key}, true, kit_test::Pattern(3 * 1024 * 1024, 8));
    std::string bytes = ReadFile(dir / "kit");
    ASSERT_GT(bytes.size(), 2 * LZCompressor::kWindowBytes);
    EXPECT_EQ(LoadWith(dir / "kit", TrustOf({key})), 0u);
    bytes[LZCompressor::kWindowBytes * 2 + 12345] ^= 0x10;
    WriteFile(dir / "kit", bytes);
    kit::IntegrityState state;
    EXPECT_EQ(LoadWith(dir / "kit", TrustOf({key}), &state), kErrorInflate);
    EXPECT_EQ(state, kit::IntegrityState::kDamaged);
}

// A footer whose length reaches before the start of the file.
TEST(KitIntegrityLoad, FooterLengthOutsideTheFileIsRefused) {
    ScopedTempRoot temp;
    TempDir dir;
    kit::IntegrityRecord record;
    std::string bytes = kit::EncodeIntegrityRecord(record);
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size() + 100);
    for (int i = 0; i < 4; ++i) {
        bytes[bytes.size() - 16 + i] = static_cast<char>(length >> (8 * i));
    }
    WriteFile(dir / "kit", "short" + bytes);
    kit::IntegrityState state;
    EXPECT_EQ(LoadWith(dir / "kit", kit::KitTrust(), &state), kErrorInflate);
    EXPECT_EQ(state, kit::IntegrityState::kDamaged);
}

// A reader that knows nothing of the record: zlib's raw inflate of the whole
// file gives the stream the writer made, with the files in it.
TEST(KitIntegrityCompatibility, PlainRawInflateReadsASignedKit) {
    TempDir dir;
    const kit::KitStats stats = WriteSmallKit(dir / "kit", {NewKey()});
    const std::string packed = ReadFile(dir / "kit");
    EXPECT_EQ(stats.kitBytes, packed.size());
    z_stream stream = {};
    ASSERT_EQ(inflateInit2(&stream, -15), Z_OK);
    std::string out(stats.streamBytes + 100, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    // The record is what follows the stream, untouched by the inflater.
    EXPECT_EQ(stream.avail_in, kit::kRecordFixedBytes + kit::kSignatureEntryBytes);
    out.resize(out.size() - stream.avail_out);
    inflateEnd(&stream);
    ASSERT_EQ(out.size(), stats.streamBytes);
    EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(out.data()), out.size()), stats.streamCrc);

    // The tables as the format describes them; the version word is one that
    // such a reader takes as the multi-language layout.
    const auto* bytes = reinterpret_cast<const unsigned char*>(out.data());
    EXPECT_EQ(kit::LoadU32(bytes), kit::kSealedStreamVersion);
    std::size_t position = 8 + kit::LoadU32(bytes + 8);  // one product record
    ASSERT_EQ(kit::LoadU32(bytes + position), 2u);
    position += 4;
    std::vector<std::pair<stdx::u16string, std::string>> files;
    std::size_t dataStart = position;
    for (int i = 0; i < 2; ++i) {
        dataStart += kit::LoadU32(bytes + dataStart);
    }
    for (int i = 0; i < 2; ++i) {
        const std::uint32_t length = kit::LoadU32(bytes + position);
        stdx::u16string name;
        FileTime time = 0;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        ASSERT_TRUE(
            kit::DecodeFileRecord(bytes + position + 4, length - 4, &name, &time, &offset, &size));
        files.emplace_back(name, out.substr(dataStart + offset, size));
        position += length;
    }
    EXPECT_EQ(files[0].first, u"a.cfg");
    EXPECT_EQ(files[0].second, "alpha");
    EXPECT_EQ(files[1].first, u"sub\\b.cfg");
    EXPECT_EQ(files[1].second, kit_test::Pattern(3000, 4));
}

// The stream file was created by name, closed and opened again by name: in
// a temporary directory that others may write to, the name could be swapped
// for another file in between. No "pdk" name may exist at any moment of a
// load.
TEST(InstallDataStreamFile, StreamFileReopenedByNameInTheTemporaryDirectory) {
    ScopedTempRoot temp;
    TempDir dir;
    kit_test::WriteKit(dir / "kit", kit_test::MultiStream({}, {{u"f", 1, "bytes"}}));
    struct Watch {
        const ScopedTempRoot* temp;
        std::int64_t sawName = 0;
        static void Hook(std::int64_t number, const char*, void* context) {
            Watch* self = static_cast<Watch*>(context);
            if (self->sawName == 0 && self->temp->StreamFiles() != 0) {
                self->sawName = number;
            }
        }
    } watch{&temp};
    FaultSchedule::SetHook(&Watch::Hook, &watch);
    FaultSchedule::Arm(0);
    InstallData<LZCompressor, FaultInjectingFileSystem> kit;
    const ErrorCode code = kit.Load(U16(dir / "kit"));
    // One more look after the last operation.
    Watch::Hook(FaultSchedule::Operations() + 1, "end", &watch);
    FaultSchedule::Disarm();
    FaultSchedule::SetHook(nullptr, nullptr);
    ASSERT_EQ(code, 0u);
    EXPECT_GT(FaultSchedule::Operations(), 3);
    EXPECT_EQ(watch.sawName, 0) << "a stream file name existed at operation " << watch.sawName;
    FileHandle handle = kInvalidHandle;
    FileSystem fs;
    ASSERT_EQ(fs.CreateUnnamedTempFile(U16(temp.path()), u"pdk", &handle), 0u);
    EXPECT_EQ(fs_test::CountEntries(temp.path()), 0u);
    std::uint32_t written = 0;
    EXPECT_EQ(fs.Write(handle, "abc", 3, &written), 0u);
    EXPECT_EQ(fs.Seek(handle, 0, kSeekBegin), 0);
    char back[3] = {};
    std::uint32_t got = 0;
    EXPECT_EQ(fs.Read(handle, back, 3, &got), 0u);
    EXPECT_EQ(std::string(back, got), "abc");
    fs.Close(handle);
    EXPECT_EQ(fs.CreateUnnamedTempFile(U16(temp.path() + "/missing"), u"pdk", &handle),
              kErrorTempFile);
}

}  // namespace
