#include "kit/KitTrust.h"

#include <algorithm>

#include "kit/BuiltInKeys.h"

namespace kit {

const KitTrust& BuiltInTrust() {
    static const KitTrust trust = [] {
        KitTrust built;
        for (const char* text : kBuiltInPublicKeys) {
            PublicKey key;
            // CMake checked the form; a key that still does not parse is
            // left out, which refuses the kits it signed instead of all kits.
            if (text[0] != '\0' && ParsePublicKeyText(text, &key)) {
                built.keys.push_back(key);
            }
        }
        return built;
    }();
    return trust;
}

IntegrityReport JudgeRecord(TailStatus status, const IntegrityRecord& record,
                            const std::string& malformedReason, const Digest& computed,
                            const KitTrust& trust) {
    IntegrityReport report;
    if (status == TailStatus::kNoRecord) {
        return report;
    }
    report.state = IntegrityState::kDamaged;
    if (status == TailStatus::kMalformed) {
        report.reason = malformedReason;
        return report;
    }
    if (record.digest != computed) {
        report.reason = "the digest does not match the kit";
        return report;
    }
    for (const RecordSignature& entry : record.signatures) {
        if (!VerifyDigest(entry.publicKey, record.digest, entry.signature)) {
            report.reason = "a signature does not match the digest";
            report.signers.clear();
            return report;
        }
        report.signers.push_back(entry.publicKey);
        if (std::find(trust.keys.begin(), trust.keys.end(), entry.publicKey) != trust.keys.end()) {
            report.trusted = true;
        }
    }
    report.state = report.signers.empty() ? IntegrityState::kUnsigned : IntegrityState::kSigned;
    return report;
}

bool IsAccepted(const IntegrityReport& report, const KitTrust& trust) {
    if (report.state == IntegrityState::kDamaged) {
        return false;
    }
    return trust.keys.empty() || (report.state == IntegrityState::kSigned && report.trusted);
}

}  // namespace kit
