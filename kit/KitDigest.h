#pragma once

#include <cstddef>
#include <cstdint>

// SHA-256 of a byte sequence fed in pieces: the digest an integrity record
// carries. OpenSSL's libcrypto computes it with the processor's SHA
// instructions where there are any.
namespace kit {

constexpr std::size_t kDigestBytes = 32;

// Starts the crypto library the way this program uses it, once; every use
// of the library goes through here first. Thread-safe.
void UseCryptoLibrary();

class KitDigest {
public:
    KitDigest();
    ~KitDigest();
    KitDigest(const KitDigest&) = delete;
    KitDigest& operator=(const KitDigest&) = delete;

    void Update(const void* bytes, std::size_t count);
    // Writes the digest of everything given so far; false when the library
    // failed (the digest is then unusable). The object takes no more input.
    bool Finish(unsigned char digest[kDigestBytes]);

private:
    void* m_context;  // EVP_MD_CTX, kept out of this header
    bool m_ok;
};

}  // namespace kit
