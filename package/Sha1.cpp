#include "package/Sha1.h"

#include <openssl/evp.h>

void Sha1::ContextFree::operator()(evp_md_ctx_st *context) const {
    EVP_MD_CTX_free(context);
}

Sha1::Sha1() : m_context(EVP_MD_CTX_new()) {
    m_failed = !m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha1(), nullptr) != 1;
}

Sha1::~Sha1() = default;

void Sha1::addData(QByteArrayView data) {
    if (!m_failed && !data.isEmpty())
        m_failed = EVP_DigestUpdate(m_context.get(), data.data(), size_t(data.size())) != 1;
}

QByteArray Sha1::result() {
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    if (m_failed ||
        EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()),
                           &length) != 1) {
        m_failed = true;
        return {};
    }
    m_failed = true; // the context is spent
    digest.truncate(int(length));
    return digest;
}
