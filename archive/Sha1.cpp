// The SHA-1 of the read-back library, by OpenSSL.

#include "archive/Sha1.h"
#include "archive/ReadBack.h"

#include <openssl/evp.h>

namespace {

class OpenSslSha1 final : public Sha1 {
public:
    OpenSslSha1() : m_context(EVP_MD_CTX_new()) {
        m_failed = !m_context || EVP_DigestInit_ex(m_context.get(), EVP_sha1(), nullptr) != 1;
    }

    void addData(QByteArrayView data) override {
        if (!m_failed && !data.isEmpty())
            m_failed = EVP_DigestUpdate(m_context.get(), data.data(), size_t(data.size())) != 1;
    }

    QByteArray result() override {
        QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
        unsigned int length = 0;
        const bool done =
            !m_failed &&
            EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()),
                               &length) == 1;
        m_failed = true; // the context is spent
        if (!done)
            return {};
        digest.truncate(qsizetype(length));
        return digest;
    }

private:
    struct ContextFree {
        void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
    };
    std::unique_ptr<EVP_MD_CTX, ContextFree> m_context;
    bool m_failed = false;
};

} // namespace

extern "C" Q_DECL_EXPORT Sha1 *mapzipCreateSha1() {
    return new OpenSslSha1;
}
