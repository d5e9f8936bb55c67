#include "kit/KitDigest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace kit {

void UseCryptoLibrary() {
    // The machine's OpenSSL configuration is not read: it could change
    // which implementations a kit is checked with, and reading it (with the
    // library's error texts, ciphers and exit handlers, none of which are
    // used here) is most of what starting the library costs.
    static const bool started =
        OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS |
                                OPENSSL_INIT_NO_ADD_ALL_CIPHERS | OPENSSL_INIT_NO_ADD_ALL_DIGESTS |
                                OPENSSL_INIT_NO_ATEXIT,
                            nullptr) == 1;
    (void)started;
}

KitDigest::KitDigest() : m_context(nullptr), m_ok(false) {
    UseCryptoLibrary();
    m_context = EVP_MD_CTX_new();
    m_ok = m_context != nullptr &&
           EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(m_context), EVP_sha256(), nullptr) == 1;
}

KitDigest::~KitDigest() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_context));
}

void KitDigest::Update(const void* bytes, std::size_t count) {
    if (m_ok && count != 0) {
        m_ok = EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_context), bytes, count) == 1;
    }
}

bool KitDigest::Finish(unsigned char digest[kDigestBytes]) {
    unsigned int length = 0;
    const bool ok = m_ok &&
                    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_context), digest, &length) == 1 &&
                    length == kDigestBytes;
    m_ok = false;
    return ok;
}

}  // namespace kit
