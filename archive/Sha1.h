#pragma once
// The SHA-1 of the bytes fed in, computed by OpenSSL: where the processor has SHA instructions
// that is several times faster than QCryptographicHash, which counts on an archive of tens of
// megabytes hashed on every build. Lives in the read-back library (ReadBack.h).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class Sha1 {
public:
    // A new hash, or null with `error` set when the read-back library cannot be loaded.
    static std::unique_ptr<Sha1> create(QString &error);
    virtual ~Sha1() = default;

    virtual void addData(QByteArrayView data) = 0;
    // The 20 bytes of the hash of everything added; empty if OpenSSL failed. Ends the hashing.
    virtual QByteArray result() = 0;
};
