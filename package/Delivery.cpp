#include "package/Delivery.h"

#include "archive/ArchiveReader.h"
#include "archive/Sha1.h"
#include "package/FileCopy.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <system_error>

namespace fs = std::filesystem;

namespace {

using platform::nativePath;
using platform::systemText;

constexpr qsizetype CompareSlice = 256 * 1024;

// Compares an entry's data with the staged file, piece by piece, reading the file into
// `buffer` (kept from entry to entry: a fresh one for each costs more than the reading).
// `stop` ends it between slices, with `error` left empty: the one who stopped it says why.
bool entryMatchesFile(const ArchiveReader &reader, const ArchiveItem &item, const StagedFile &file,
                      QByteArray &buffer, const std::atomic<bool> &stop, QString &error) {
    QFile staged(file.path);
    if (!staged.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: the staged file cannot be read (%2)")
                    .arg(file.entry, staged.errorString());
        return false;
    }
    if (item.size != staged.size()) {
        error = QStringLiteral("%1: the archive holds %2 bytes, the staged file %3")
                    .arg(item.name)
                    .arg(item.size)
                    .arg(staged.size());
        return false;
    }
    bool same = true;
    QString readError;
    const bool read = reader.read(
        item,
        [&](QByteArrayView piece) {
            // A piece may be a whole entry: compared a slice at a time, the buffer stays small.
            for (qsizetype at = 0; same && at < piece.size(); at += CompareSlice) {
                if (stop)
                    return false;
                const QByteArrayView slice =
                    piece.sliced(at, qMin(CompareSlice, piece.size() - at));
                buffer.resize(slice.size());
                same = staged.read(buffer.data(), slice.size()) == slice.size() &&
                       QByteArrayView(buffer) == slice;
            }
            return same;
        },
        readError);
    if (stop)
        return false;
    if (!same || (read && !staged.atEnd())) {
        error =
            QStringLiteral("%1: the archive's data differs from the staged file").arg(item.name);
        return false;
    }
    if (!read) {
        error = QStringLiteral("%1: %2").arg(item.name, readError);
        return false;
    }
    return true;
}

// A name beside `target` that nothing uses yet, of a form that later runs recognise:
// "." + its name + ".mapzip-part-" + eight hexadecimal digits.
QString temporaryNameBeside(const QString &target) {
    const QFileInfo info(target);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() +
           QStringLiteral(".mapzip-part-%1")
               .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// Removes from `folder` what deliveries of runs that are gone left there: files of our
// temporary names that nobody holds locked. A run holds its own locked while it lives.
void removeAbandonedTemporaries(const QString &folder) {
    static const QRegularExpression ours(QStringLiteral("^\\..+\\.mapzip-part-[0-9a-f]{8}$"));
    const QStringList names = platform::namesIn(folder, [](std::string_view name) {
        return name.starts_with('.') && name.find(".mapzip-part-") != std::string_view::npos;
    });
    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        QFile held;
        if (ours.match(name).hasMatch() && platform::lockLeftover(path, held))
            QFile::remove(path);
    }
}

} // namespace

namespace {

struct EntryCheck {
    ArchiveItem item;
    const StagedFile *file; // null: only read, to test its data against its CRC
};

// One check for each entry of the archive, its staged file beside it where the content is
// compared. A staged file the archive lacks is an error, or with freshen goes to
// `notInArchive`.
bool planChecks(const VerifyRequest &request, const ArchiveReader &reader,
                QList<EntryCheck> &checks, QStringList &notInArchive, QString &error) {
    QHash<QString, const StagedFile *> byEntry;
    for (const StagedFile &file : request.files) {
        const QString entry = request.junkPaths
                                  ? file.entry.mid(file.entry.lastIndexOf(QLatin1Char('/')) + 1)
                                  : file.entry;
        byEntry.insert(entry, &file);
    }
    QSet<QString> seen;
    for (const ArchiveItem &item : reader.items()) {
        const StagedFile *file = byEntry.value(item.name);
        checks.append({item, request.compareContent ? file : nullptr});
        if (file)
            seen.insert(item.name);
    }
    for (auto it = byEntry.cbegin(); it != byEntry.cend(); ++it) {
        if (seen.contains(it.key()))
            continue;
        if (request.expectEveryFile) {
            error = QStringLiteral("%1: missing from the archive just written").arg(it.key());
            return false;
        }
        notInArchive.append(it.value()->entry);
    }
    notInArchive.sort();
    return true;
}

// A big archive is read on two threads, each with a reader of its own, the largest entries
// first, each to the less loaded thread. A small one is read on one: a second thread, with its
// reader and buffers, costs more than it saves there.
QList<QList<EntryCheck>> shareOut(QList<EntryCheck> checks) {
    std::sort(checks.begin(), checks.end(), [](const EntryCheck &a, const EntryCheck &b) {
        return a.item.size > b.item.size;
    });
    qint64 total = 0;
    for (const EntryCheck &check : std::as_const(checks))
        total += check.item.size;
    QList<QList<EntryCheck>> shares(total < (16 << 20) ? 1 : 2);
    qint64 load[2] = {};
    for (const EntryCheck &check : std::as_const(checks)) {
        const int least = shares.size() == 1 || load[0] <= load[1] ? 0 : 1;
        shares[least].append(check);
        load[least] += check.item.size;
    }
    return shares;
}

// Reads one share of the checks with a reader of its own; the first fault sets `stop` for all.
bool readShare(const VerifyRequest &request, const QList<EntryCheck> &share,
               std::atomic<bool> &stop, QString &why) {
    const std::unique_ptr<ArchiveReader> own = ArchiveReader::create(why);
    if (!own || !own->open(request.archive, why))
        return false;
    QByteArray buffer;
    own->setPassword(request.password);
    for (const EntryCheck &check : share) {
        if (stop)
            return false;
        QString readError;
        if (check.file ? !entryMatchesFile(*own, check.item, *check.file, buffer, stop, why)
                       : !own->read(
                             check.item, [&](QByteArrayView) { return !stop; }, readError)) {
            if (!check.file && !stop)
                why = QStringLiteral("%1: %2").arg(check.item.name, readError);
            stop = true;
            return false;
        }
    }
    return true;
}

} // namespace

bool verifyStagedArchive(const VerifyRequest &request, QStringList &notInArchive, QString &error,
                         const std::function<bool()> &keepGoing) {
    const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(error);
    if (!reader)
        return false;
    if (!reader->open(request.archive, error)) {
        error = QStringLiteral("the archive just written cannot be read back: %1").arg(error);
        return false;
    }
    QList<EntryCheck> checks;
    if (!planChecks(request, *reader, checks, notInArchive, error))
        return false;
    const QList<QList<EntryCheck>> shares = shareOut(checks);
    std::atomic<bool> stop = false;
    QString why[2];
    std::future<bool> done[2];
    for (int i = 0; i < shares.size(); ++i)
        done[i] = std::async(std::launch::async, readShare, std::cref(request),
                             std::cref(shares[i]), std::ref(stop), std::ref(why[i]));
    bool passed = true;
    for (int i = 0; i < shares.size(); ++i) {
        while (done[i].wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
            if (keepGoing && !keepGoing())
                stop = true;
        }
        passed = done[i].get() && passed;
    }
    if (!passed) {
        // The worker that found a fault says what; the other one only stopped.
        error = !why[0].isEmpty() ? why[0] : why[1];
        if (error.isEmpty())
            error = QStringLiteral("the check was stopped");
    }
    return passed;
}

bool checkDeliveryTarget(const QString &target, const QStringList &inputs, QString &error,
                         const QString &made) {
    std::error_code code;
    const fs::path path = nativePath(target);
    const fs::file_type type = fs::symlink_status(path, code).type();
    switch (type) {
    case fs::file_type::not_found:
        return true;
    case fs::file_type::regular:
        break;
    case fs::file_type::directory:
        error = QStringLiteral("is a folder");
        return false;
    case fs::file_type::symlink:
        error = QStringLiteral("is a symbolic link; give the path of the file itself");
        return false;
    case fs::file_type::block:
    case fs::file_type::character:
        error = QStringLiteral("is a device, not a file");
        return false;
    case fs::file_type::fifo:
        error = QStringLiteral("is a FIFO, not a file");
        return false;
    case fs::file_type::socket:
        error = QStringLiteral("is a socket, not a file");
        return false;
    default:
        error = code ? systemText(code) : QStringLiteral("is not a regular file");
        return false;
    }
    for (const QString &input : inputs) {
        if (fs::equivalent(path, nativePath(input), code)) {
            error = QStringLiteral("is %1, which %2 is made from")
                        .arg(QDir::toNativeSeparators(input), made);
            return false;
        }
    }
    return true;
}

bool checkTargetFolder(const QString &folder, QString &error) {
    QFile probe;
    if (platform::openUnnamedFile(folder, probe))
        return true;
    // A name that later runs recognise, should this one be killed before it is removed.
    probe.setFileName(temporaryNameBeside(folder + QStringLiteral("/archive")));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error = probe.errorString();
        return false;
    }
    probe.close();
    probe.remove();
    return true;
}

QByteArray sha1OfFile(const QString &path, QString &error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return {};
    }
    const std::unique_ptr<Sha1> hash = Sha1::create(error);
    if (!hash)
        return {};
    if (!hashAll(file, *hash)) {
        error = file.errorString();
        return {};
    }
    return hash->result();
}

PendingDelivery::PendingDelivery() = default;

PendingDelivery::~PendingDelivery() {
    if (!m_named.isEmpty())
        QFile::remove(m_named);
}

bool PendingDelivery::prepare(const QString &stagedArchive, const QString &target, QString &error,
                              const std::function<bool()> &keepGoing) {
    m_target = target;
    const QString folder = QFileInfo(target).absolutePath();
    removeAbandonedTemporaries(folder);
    auto staged = std::make_unique<QFile>(stagedArchive);
    if (!staged->open(QIODevice::ReadOnly)) {
        error = QStringLiteral("the staged archive cannot be read (%1)").arg(staged->errorString());
        return false;
    }
    const std::unique_ptr<Sha1> hash = Sha1::create(error);
    if (!hash)
        return false;
    const bool prepared = adopt(staged, folder)
                              ? hashAdopted(stagedArchive, *hash, keepGoing, error)
                              : copyBeside(*staged, folder, *hash, keepGoing, error);
    if (prepared && m_sha1.isEmpty()) {
        error = QStringLiteral("the archive's SHA-1 could not be computed");
        return false;
    }
    return prepared;
}

bool PendingDelivery::adopt(std::unique_ptr<QFile> &staged, const QString &folder) {
    // Same file system: the staged archive itself is delivered, no data written twice. It is
    // named beside the target only in commit(); a name given and taken back now tells that it
    // can be.
    if (!platform::sameFileSystem(staged->fileName(), folder) || !platform::lockFile(*staged, 0))
        return false;
    const QString probe = temporaryNameBeside(m_target);
    if (QString unused; !platform::nameFile(*staged, probe, unused))
        return false;
    if (!QFile::remove(probe))
        m_named = probe; // then the name it has already
    m_file = std::move(staged);
    return true;
}

bool PendingDelivery::hashAdopted(const QString &stagedArchive, Sha1 &hash,
                                  const std::function<bool()> &keepGoing, QString &error) {
    keepTargetPermissions();
    // Its data goes to the disk while it is hashed.
    QString syncError;
    std::future<bool> synced = std::async(std::launch::async, [&] {
        QFile written(stagedArchive);
        if (!written.open(QIODevice::ReadOnly)) {
            syncError = written.errorString();
            return false;
        }
        return platform::syncToDisk(written, syncError);
    });
    const bool hashed = hashAll(*m_file, hash, keepGoing);
    if (!synced.get()) {
        error = syncError;
        return false;
    }
    if (!hashed) {
        error = m_file->error() != QFileDevice::NoError ? m_file->errorString()
                                                        : QStringLiteral("stopped");
        return false;
    }
    m_sha1 = hash.result();
    return true;
}

bool PendingDelivery::copyBeside(QFile &staged, const QString &folder, Sha1 &hash,
                                 const std::function<bool()> &keepGoing, QString &error) {
    // A copy beside the target, with no name until commit() where the file system allows,
    // else under a temporary name that later runs recognise, locked while this one lives.
    m_file = std::make_unique<QFile>();
    if (platform::openUnnamedFile(folder, *m_file))
        platform::lockFile(*m_file, 0); // named in commit(), where no clean-up may take it
    else if (!createNamedTemporary(error))
        return false;
    keepTargetPermissions();
    if (!copyAll(staged, *m_file, error, &hash, keepGoing) ||
        !platform::syncToDisk(*m_file, error))
        return false;
    m_sha1 = hash.result();
    // What the disk gives back must be what was written.
    const std::unique_ptr<Sha1> again = Sha1::create(error);
    if (!again)
        return false;
    if (!m_file->seek(0) || !hashAll(*m_file, *again, keepGoing)) {
        error = m_file->error() != QFileDevice::NoError ? m_file->errorString()
                                                        : QStringLiteral("stopped");
        return false;
    }
    if (again->result() != m_sha1) {
        error = QStringLiteral("the copy differs from the staged archive");
        return false;
    }
    return true;
}

bool PendingDelivery::createNamedTemporary(QString &error) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_named = temporaryNameBeside(m_target);
        m_file->setFileName(m_named);
        if (!m_file->open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            error = m_file->errorString();
            m_named.clear();
            return false;
        }
        // Until it is locked, another run's clean-up may take the new file for a dead run's.
        if (platform::lockFile(*m_file, 2000) && platform::isFileAt(*m_file, m_named))
            return true;
        if (platform::isFileAt(*m_file, m_named))
            QFile::remove(m_named);
        m_file->close();
        m_named.clear();
    }
    error = QStringLiteral("no temporary file beside the target could be locked");
    return false;
}

void PendingDelivery::keepTargetPermissions() {
    // A replaced file keeps its permissions.
    if (QFileInfo::exists(m_target))
        m_file->setPermissions(QFile::permissions(m_target));
}

bool PendingDelivery::commit(QString &error) {
    if (!m_file || m_sha1.isEmpty()) {
        error = QStringLiteral("the archive was not prepared");
        return false;
    }
    // Whatever was put at the target meanwhile is never replaced unless it is a plain file.
    if (!checkDeliveryTarget(m_target, {}, error)) {
        error = QStringLiteral("%1 %2").arg(QDir::toNativeSeparators(m_target), error);
        return false;
    }
    if (m_named.isEmpty()) {
        const QString name = temporaryNameBeside(m_target);
        if (!platform::nameFile(*m_file, name, error))
            return false;
        m_named = name;
    }
    if (!platform::renameOpenFile(*m_file, m_named, m_target, error))
        return false;
    m_named.clear();
    return true;
}

bool deliverArchive(const QString &stagedArchive, const QString &target, QByteArray &sha1,
                    QString &error) {
    PendingDelivery delivery;
    if (!delivery.prepare(stagedArchive, target, error) || !delivery.commit(error))
        return false;
    sha1 = delivery.sha1();
    return true;
}
