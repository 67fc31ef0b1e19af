// The SHA-1 of the read-back library, by OpenSSL.

#include "archive/Sha1.h"
#include "archive/ReadBack.h"

// OpenSSL's own SHA-1 functions, not its EVP interface: the first EVP digest of a run reads
// the system's OpenSSL configuration and starts its providers, several milliseconds on every
// build, while these functions run the same code for the processor's SHA instructions without
// any of that. OpenSSL 3 calls them deprecated, not removed.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

namespace {

class OpenSslSha1 final : public Sha1 {
public:
    OpenSslSha1() { m_failed = SHA1_Init(&m_context) != 1; }

    void addData(QByteArrayView data) override {
        if (!m_failed && !data.isEmpty())
            m_failed = SHA1_Update(&m_context, data.data(), size_t(data.size())) != 1;
    }

    QByteArray result() override {
        QByteArray digest(SHA_DIGEST_LENGTH, Qt::Uninitialized);
        const bool done =
            !m_failed &&
            SHA1_Final(reinterpret_cast<unsigned char *>(digest.data()), &m_context) == 1;
        m_failed = true; // the context is spent
        return done ? digest : QByteArray();
    }

private:
    SHA_CTX m_context;
    bool m_failed = false;
};

} // namespace

extern "C" Q_DECL_EXPORT Sha1 *mapzipCreateSha1() {
    return new OpenSslSha1;
}
