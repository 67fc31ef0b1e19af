#include "package/FileCopy.h"

#include "archive/Sha1.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <memory>
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

// How often a watched file is looked at: a rewrite in pieces shows between two looks.
constexpr std::chrono::milliseconds WatchEvery(10);

// The same content as far as its stamps tell: which file, its size and modification time. Its
// change time is left out: links made and removed by other runs that pack the same file
// change it all the time.
bool sameContent(const platform::FileStamp &a, const platform::FileStamp &b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modifiedNs == b.modifiedNs;
}

// The stamp of `in` once its content has been left alone for QuietNs: by its modification
// time, which every write sets to the file system's clock, or, where that time is of another
// clock or `watch` is asked for, by watching the file that long as well. Any write from now on
// then shows in a later stamp. A file not left alone for MostWait is refused.
bool quietStamp(const QFile &in, platform::FileStamp &stamp, QString &error, bool watch) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + MostWait;
    platform::FileStamp watched;
    auto watchedSince = Clock::now();
    for (;;) {
        const qint64 now = platform::fileClockNow(); // before the stamp: see FileStamp
        if (!platform::stampOf(in, stamp, error))
            return false;
        if (!sameContent(stamp, watched)) {
            watched = stamp;
            watchedSince = Clock::now();
        }
        const qint64 age = now - stamp.modifiedNs;
        const bool seenAlone = Clock::now() - watchedSince >= std::chrono::nanoseconds(QuietNs);
        if ((age >= QuietNs || age < -AheadNs) && (seenAlone || (!watch && age >= 0)))
            return true;
        if (Clock::now() >= deadline) {
            error = ChangedWhilePacked;
            return false;
        }
        const qint64 waitNs = std::clamp(QuietNs - age, qint64(1'000'000), QuietNs);
        std::this_thread::sleep_for(watch || age < 0 ? std::chrono::nanoseconds(WatchEvery)
                                                     : std::chrono::nanoseconds(waitNs));
    }
}

// Copies `in`, from its start, into the new file `target`; `digest` is the SHA-1 of the copy.
bool copyHashed(QFile &in, const QString &target, QByteArray &digest, QString &error,
                const std::function<bool()> &keepGoing) {
    const std::unique_ptr<Sha1> hash = Sha1::create(error);
    if (!hash)
        return false;
    if (!in.seek(0)) {
        error = in.errorString();
        return false;
    }
    if (!copyToNewFile(in, target, error, keepGoing, hash.get()))
        return false;
    digest = hash->result();
    return true;
}

// Whether `in` still holds what has the SHA-1 `digest`: read once more, since a file system may
// stamp a rewrite within one tick of its clock with the time it had, and then only the content
// tells.
bool stillHolds(QFile &in, const QByteArray &digest, bool &same, QString &error,
                const std::function<bool()> &keepGoing) {
    const std::unique_ptr<Sha1> hash = Sha1::create(error);
    if (!hash)
        return false;
    if (!in.seek(0) || !hashAll(in, *hash, keepGoing)) {
        error = keepGoing && !keepGoing() ? QStringLiteral("stopped") : in.errorString();
        return false;
    }
    same = hash->result() == digest;
    return true;
}

// Whether `in` holds the same bytes as the file at `copy`. False also where either cannot be
// read: the caller then takes it for a change.
bool sameBytes(QFile &in, const QString &copy) {
    QFile other(copy);
    QString error;
    const std::unique_ptr<Sha1> mine = Sha1::create(error);
    const std::unique_ptr<Sha1> theirs = Sha1::create(error);
    return mine && theirs && other.open(QIODevice::ReadOnly) && in.seek(0) &&
           hashAll(in, *mine, {}) && hashAll(other, *theirs, {}) &&
           mine->result() == theirs->result();
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
                   const std::function<bool()> &keepGoing, Sha1 *hash) {
    // Unbuffered, so that a failing write reports the system's own reason at once.
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("%1 (writing %2)")
                    .arg(out.errorString(), QDir::toNativeSeparators(target));
        return false;
    }
    if (copyAll(in, out, error, hash, keepGoing))
        return true;
    if (out.error() != QFileDevice::NoError)
        error = QStringLiteral("%1 (writing %2)").arg(error, QDir::toNativeSeparators(target));
    out.close();
    QFile::remove(target);
    return false;
}

bool waitUntilQuiet(const QFile &in, platform::FileStamp &stamp, QString &error) {
    return quietStamp(in, stamp, error, false);
}

bool copySnapshot(QFile &in, const QString &target, QString &error,
                  const std::function<bool()> &keepGoing, platform::FileStamp *copiedFrom) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        platform::FileStamp before;
        platform::FileStamp after;
        QByteArray digest;
        bool same = false;
        // After a change was seen, the next one may come within the clock's tick: watch.
        if (!quietStamp(in, before, error, attempt > 0) ||
            !copyHashed(in, target, digest, error, keepGoing))
            return false;
        if (!platform::stampOf(in, after, error) ||
            (sameContent(after, before) && QFileInfo(target).size() == after.size &&
             !stillHolds(in, digest, same, error, keepGoing))) {
            QFile::remove(target);
            return false;
        }
        if (same) {
            if (copiedFrom)
                *copiedFrom = before;
            return true;
        }
        QFile::remove(target);
    }
    error = ChangedWhilePacked;
    return false;
}

bool stillAsCopied(const QString &source, const platform::FileStamp &copiedFrom,
                   const QString &copy, QString &error) {
    QFile in;
    platform::FileStamp now;
    if (!platform::openRegularFile(source, in, error)) {
        // Gone, or no longer a file: what was staged is not touched by that.
        return !QFileInfo(source).isFile();
    }
    if (!platform::stampOf(in, now, error))
        return false;
    if (now.device != copiedFrom.device || now.inode != copiedFrom.inode || now == copiedFrom)
        return true;
    // Links other runs make change the change time alone; a writer that set the modification
    // time back shows only in the content.
    if (sameContent(now, copiedFrom) && sameBytes(in, copy))
        return true;
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
