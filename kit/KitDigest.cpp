#include "kit/KitDigest.h"

#include <openssl/evp.h>

namespace kit {

KitDigest::KitDigest() : m_context(EVP_MD_CTX_new()), m_ok(false) {
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
