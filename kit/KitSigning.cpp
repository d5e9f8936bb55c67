#include "kit/KitSigning.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

namespace kit {

namespace {

const char kPublicPrefix[] = "ed25519:";
const char kSecretPrefix[] = "ed25519-secret:";
// Domain separation: a signature of a kit digest cannot be taken for a
// signature of anything else made with the same key.
const char kSignedLabel[] = "qa-kit-integrity-record-1";

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

Pkey PrivateKey(const SecretKey& secret) {
    UseCryptoLibrary();
    return Pkey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret.data(), secret.size()));
}

Pkey PublicKeyObject(const unsigned char* bytes, std::size_t count) {
    UseCryptoLibrary();
    return Pkey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, bytes, count));
}

std::string SignedMessage(const Digest& digest) {
    std::string message(kSignedLabel, sizeof(kSignedLabel));  // with its zero
    message.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    return message;
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 15]);
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Trimmed(const std::string& text) {
    const char* const kSpace = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

bool ParseHexKey(const std::string& text, const char* prefix, unsigned char* out,
                 std::size_t count) {
    const std::string line = Trimmed(text);
    const std::size_t prefixLength = std::strlen(prefix);
    if (line.size() != prefixLength + 2 * count || line.compare(0, prefixLength, prefix) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const int high = HexValue(line[prefixLength + 2 * i]);
        const int low = HexValue(line[prefixLength + 2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

}  // namespace

bool GenerateKey(SecretKey* secret, PublicKey* publicKey) {
    UseCryptoLibrary();
    return RAND_bytes(secret->data(), static_cast<int>(secret->size())) == 1 &&
           PublicKeyOf(*secret, publicKey);
}

bool PublicKeyOf(const SecretKey& secret, PublicKey* publicKey) {
    const Pkey key = PrivateKey(secret);
    std::size_t length = publicKey->size();
    return key != nullptr &&
           EVP_PKEY_get_raw_public_key(key.get(), publicKey->data(), &length) == 1 &&
           length == publicKey->size();
}

bool SignDigest(const SecretKey& secret, const Digest& digest, Signature* signature) {
    const Pkey key = PrivateKey(secret);
    const MdCtx context(EVP_MD_CTX_new());
    if (key == nullptr || context == nullptr ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    const std::string message = SignedMessage(digest);
    std::size_t length = signature->size();
    return EVP_DigestSign(context.get(), signature->data(), &length,
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1 &&
           length == signature->size();
}

bool VerifyDigest(const PublicKey& publicKey, const Digest& digest, const Signature& signature) {
    const Pkey key = PublicKeyObject(publicKey.data(), publicKey.size());
    const MdCtx context(EVP_MD_CTX_new());
    if (key == nullptr || context == nullptr ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) {
        return false;
    }
    const std::string message = SignedMessage(digest);
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

std::string PublicKeyText(const PublicKey& publicKey) {
    return kPublicPrefix + Hex(publicKey.data(), publicKey.size());
}

std::string SecretKeyText(const SecretKey& secret) {
    return kSecretPrefix + Hex(secret.data(), secret.size());
}

std::string KeyId(const PublicKey& publicKey) {
    KitDigest digest;
    digest.Update(publicKey.data(), publicKey.size());
    unsigned char bytes[kDigestBytes] = {};
    digest.Finish(bytes);
    return Hex(bytes, 8);
}

bool ParsePublicKeyText(const std::string& text, PublicKey* publicKey) {
    PublicKey parsed;
    // Every 32-byte string decodes as an Ed25519 point or not; a key that the
    // library refuses is refused here, not at the first verification.
    if (!ParseHexKey(text, kPublicPrefix, parsed.data(), parsed.size())) {
        return false;
    }
    const Pkey key = PublicKeyObject(parsed.data(), parsed.size());
    if (key == nullptr) {
        return false;
    }
    *publicKey = parsed;
    return true;
}

bool ParseSecretKeyText(const std::string& text, SecretKey* secret) {
    return ParseHexKey(text, kSecretPrefix, secret->data(), secret->size());
}

}  // namespace kit
