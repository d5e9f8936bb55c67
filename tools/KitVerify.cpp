#include "tools/KitVerify.h"

#include <errno.h>
#include <string.h>

#include <fstream>
#include <iterator>

#include "text/Encoding.h"

namespace pkdtool {

namespace {

// Key files are one short line; anything longer is not a key file.
constexpr std::size_t kKeyFileLimit = 4096;

bool ReadSmallFile(const std::string& path, std::string* text, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": " + strerror(errno);
        return false;
    }
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (text->size() > kKeyFileLimit) {
        *error = path + ": not a key file (too long)";
        return false;
    }
    return true;
}

// Why a kit could not be read at all.
std::string ReadFailure(ErrorCode code) {
    switch (code) {
        case kErrorNotFound:
            return "no such file";
        case kErrorTempFile:
            return "cannot create the temporary stream file in the temporary directory (TMPDIR)";
        default:
            return "cannot be read (code " + std::to_string(code) + ")";
    }
}

std::string Signers(const kit::IntegrityReport& report) {
    std::string ids;
    for (const kit::PublicKey& key : report.signers) {
        ids += (ids.empty() ? "" : ", ") + kit::KeyId(key);
    }
    return ids;
}

}  // namespace

kit::KitTrust TrustOf(const std::vector<kit::PublicKey>& keys) {
    kit::KitTrust trust;
    trust.keys = keys;
    return trust;
}

Verdict JudgeLoad(ErrorCode code, const kit::IntegrityReport& report,
                  const std::vector<kit::PublicKey>& keys) {
    Verdict verdict;
    switch (report.state) {
        case kit::IntegrityState::kDamaged:
            verdict.line = "damaged: " + report.reason;
            return verdict;
        case kit::IntegrityState::kNoRecord:
            verdict.line = "no integrity record";
            break;
        case kit::IntegrityState::kUnsigned:
            verdict.line = "intact, not signed";
            break;
        case kit::IntegrityState::kSigned:
            verdict.line = "intact, signed by " + Signers(report);
            break;
    }
    if (kit::IsAccepted(report, TrustOf(keys))) {
        // The record is fine; the kit itself may still not be.
        if (code == kErrorInflate) {
            verdict.line =
                "damaged: not a complete raw DEFLATE stream, or its tables are cut "
                "short, malformed or name an unsafe path";
        } else if (code != kErrorSuccess) {
            verdict.line.clear();
            verdict.failure = ReadFailure(code);
        } else if (report.state != kit::IntegrityState::kNoRecord) {
            verdict.status = 0;
        }
    } else if (code != kErrorSuccess && code != kErrorInflate) {
        verdict.line.clear();
        verdict.failure = ReadFailure(code);
    }
    return verdict;
}

Verdict VerifyKit(const std::string& path, const std::vector<kit::PublicKey>& keys, ToolKit* kit) {
    kit->SetTrust(TrustOf(keys));
    const ErrorCode code = kit->Load(Utf8ToUtf16(stdx::string(path.data(), path.size())));
    return JudgeLoad(code, kit->Integrity(), keys);
}

bool ReadPublicKeyFile(const std::string& path, kit::PublicKey* key, std::string* error) {
    std::string text;
    if (!ReadSmallFile(path, &text, error)) {
        return false;
    }
    if (!kit::ParsePublicKeyText(text, key)) {
        *error = path + ": not a public key (ed25519: and 64 hex digits, as keygen prints)";
        return false;
    }
    return true;
}

bool ReadSecretKeyFile(const std::string& path, kit::SecretKey* key, std::string* error) {
    std::string text;
    if (!ReadSmallFile(path, &text, error)) {
        return false;
    }
    if (!kit::ParseSecretKeyText(text, key)) {
        *error = path + ": not a secret key file written by pkdtool keygen";
        return false;
    }
    return true;
}

}  // namespace pkdtool
