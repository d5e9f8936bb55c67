#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "kit/KitDigest.h"

// Ed25519 keys and signatures over a kit's digest, and their text forms.
//
// A public key is written "ed25519:" and 64 lowercase hex digits, one line;
// that is what `pkdtool keygen` prints and what QA_KIT_PUBLIC_KEYS holds. A
// secret key file holds "ed25519-secret:" and the 64 hex digits of the
// 32-byte seed. A key id, shown to people, is the first 8 bytes of the
// SHA-256 of the public key, in 16 hex digits.
namespace kit {

constexpr std::size_t kPublicKeyBytes = 32;
constexpr std::size_t kSecretKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

using PublicKey = std::array<unsigned char, kPublicKeyBytes>;
using SecretKey = std::array<unsigned char, kSecretKeyBytes>;
using Signature = std::array<unsigned char, kSignatureBytes>;
using Digest = std::array<unsigned char, kDigestBytes>;

// A new key pair from the system's random source; false when none is at hand.
bool GenerateKey(SecretKey* secret, PublicKey* publicKey);
// The public half of a secret key; false when the library refuses it.
bool PublicKeyOf(const SecretKey& secret, PublicKey* publicKey);

// Signs `digest` as a kit digest. The signed message is a fixed label
// followed by the digest, so that such a signature means nothing elsewhere.
bool SignDigest(const SecretKey& secret, const Digest& digest, Signature* signature);
// Whether `signature` is `publicKey`'s signature of `digest` as a kit digest.
bool VerifyDigest(const PublicKey& publicKey, const Digest& digest, const Signature& signature);

std::string PublicKeyText(const PublicKey& publicKey);
std::string SecretKeyText(const SecretKey& secret);
std::string KeyId(const PublicKey& publicKey);
// Parse the text forms; surrounding white space (a final newline) is
// allowed, nothing else. False for anything malformed.
bool ParsePublicKeyText(const std::string& text, PublicKey* publicKey);
bool ParseSecretKeyText(const std::string& text, SecretKey* secret);

}  // namespace kit
