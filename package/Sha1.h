#pragma once
// The SHA-1 of the bytes fed in, computed by OpenSSL: where the processor has SHA instructions
// that is several times faster than QCryptographicHash, which counts on an archive of tens of
// megabytes hashed on every build.

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct evp_md_ctx_st;

class Sha1 {
public:
    Sha1();
    ~Sha1();
    Sha1(const Sha1 &) = delete;
    Sha1 &operator=(const Sha1 &) = delete;

    void addData(QByteArrayView data);
    // The 20 bytes of the hash of everything added; empty if OpenSSL failed. Ends the hashing.
    QByteArray result();

private:
    struct ContextFree {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> m_context;
    bool m_failed = false;
};
