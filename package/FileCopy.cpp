#include "package/FileCopy.h"

#include "archive/Sha1.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr qint64 PieceSize = 1024 * 1024;

const QString ChangedWhilePacked = QStringLiteral("changed while it was being packed");

// A file whose content was left alone this long is taken to be written whole: in the middle of
// a rewrite no one can tell its state from a finished one.
constexpr qint64 QuietNs = 100'000'000;
// A modification time further ahead of the clock than this is of another clock (a share's
// server).
constexpr qint64 AheadNs = 1'000'000'000;
constexpr std::chrono::milliseconds MostWait(2000);

// The same content as far as its stamps tell: which file, its size and modification time. Its
// change time is left out: links made and removed by other runs that pack the same file
// change it all the time.
bool sameContent(const platform::FileStamp &a, const platform::FileStamp &b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modifiedNs == b.modifiedNs;
}

// The stamp of `in` once its content has been left alone for QuietNs: by its modification
// time, which every write sets to the file system's clock (where the time is of another clock,
// by watching the file that long). Any write from now on then shows in a later stamp. A file
// not left alone for MostWait is refused.
bool quietStamp(const QFile &in, platform::FileStamp &stamp, QString &error) {
    const auto deadline = std::chrono::steady_clock::now() + MostWait;
    platform::FileStamp watched;
    for (;;) {
        const qint64 now = platform::fileClockNow(); // before the stamp: see FileStamp
        if (!platform::stampOf(in, stamp, error))
            return false;
        const qint64 age = now - stamp.modifiedNs;
        if (age >= QuietNs || (age < -AheadNs && sameContent(stamp, watched)))
            return true;
        if (std::chrono::steady_clock::now() >= deadline) {
            error = ChangedWhilePacked;
            return false;
        }
        watched = stamp;
        const qint64 waitNs = std::clamp(QuietNs - age, qint64(1'000'000), QuietNs);
        std::this_thread::sleep_for(std::chrono::nanoseconds(waitNs));
    }
}

} // namespace

bool copyAll(QIODevice &in, QIODevice &out, QString &error, Sha1 *hash,
             const std::function<bool()> &keepGoing) {
    QByteArray buffer(PieceSize, Qt::Uninitialized);
    for (;;) {
        if (keepGoing && !keepGoing()) {
            error = QStringLiteral("stopped");
            return false;
        }
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got < 0) {
            error = in.errorString();
            return false;
        }
        if (got == 0)
            return true;
        if (hash)
            hash->addData(QByteArrayView(buffer.constData(), got));
        // A full disk first takes part of a piece; the next write says why it takes no more.
        qint64 written = 0;
        while (written < got) {
            const qint64 now = out.write(buffer.constData() + written, got - written);
            if (now <= 0)
                break;
            written += now;
        }
        if (written < got) {
            error = out.errorString();
            return false;
        }
    }
}

bool copyToNewFile(QIODevice &in, const QString &target, QString &error,
                   const std::function<bool()> &keepGoing) {
    // Unbuffered, so that a failing write reports the system's own reason at once.
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("%1 (writing %2)")
                    .arg(out.errorString(), QDir::toNativeSeparators(target));
        return false;
    }
    if (copyAll(in, out, error, nullptr, keepGoing))
        return true;
    if (out.error() != QFileDevice::NoError)
        error = QStringLiteral("%1 (writing %2)").arg(error, QDir::toNativeSeparators(target));
    out.close();
    QFile::remove(target);
    return false;
}

bool waitUntilQuiet(const QFile &in, QString &error) {
    platform::FileStamp unused;
    return quietStamp(in, unused, error);
}

bool copySnapshot(QFile &in, const QString &target, QString &error,
                  const std::function<bool()> &keepGoing) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        platform::FileStamp before;
        platform::FileStamp after;
        if (!quietStamp(in, before, error))
            return false;
        if (!in.seek(0)) {
            error = in.errorString();
            return false;
        }
        if (!copyToNewFile(in, target, error, keepGoing))
            return false;
        if (!platform::stampOf(in, after, error)) {
            QFile::remove(target);
            return false;
        }
        if (after == before)
            return true;
        QFile::remove(target);
    }
    error = ChangedWhilePacked;
    return false;
}

bool hashAll(QIODevice &in, Sha1 &hash, const std::function<bool()> &keepGoing) {
    QByteArray buffer(PieceSize, Qt::Uninitialized);
    for (;;) {
        if (keepGoing && !keepGoing())
            return false;
        const qint64 got = in.read(buffer.data(), buffer.size());
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        hash.addData(QByteArrayView(buffer.constData(), got));
    }
}
