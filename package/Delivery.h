#pragma once
// The last steps of a build: check the staged archive, then put it where the user wants it.

#include "package/Staging.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QFile;
class Sha1;

struct VerifyRequest {
    QString archive;         // the staged archive
    QByteArray password;     // the bytes it was encrypted with; empty when it is not
    QList<StagedFile> files; // what was staged for it
    bool junkPaths = false;  // entries are named without their folders
    // With update or freshen the archive may keep older copies on purpose: then only the
    // presence of each file is checked, not its content, and with freshen not even that.
    bool compareContent = true;
    bool expectEveryFile = true;
};

// Opens the staged archive again and reads every entry whole (the CRC checked, decrypted with
// the password when set), on threads of its own; each staged file must be there with its size
// and content. Files that are simply not in the archive (freshen adds none) go to
// `notInArchive`. False, with `error` naming the entry and the cause, on any other difference.
// `keepGoing`, when given, is called on the calling thread at least every 50 ms; false ends the
// check, which then fails: the threads stop within 256 KiB of data compared, or a block of
// data read (an entry of at most 4 MiB unpacked whole, else 128 KiB).
bool verifyStagedArchive(const VerifyRequest &request, QStringList &notInArchive, QString &error,
                         const std::function<bool()> &keepGoing = {});

// Whether the archive may be put at `target`: nothing is there yet, or a regular file that is
// none of `inputs` (the same file under any name or link counts). A folder, device, FIFO or
// socket is refused, and so is a symbolic link wherever it leads: in a folder that others can
// write, a link could send the archive over any file the user may write. False, with `error`
// saying what the target is ("is a FIFO, not a file"), otherwise; `made` names what is saved
// ("is maps/a.pms, which the archive is made from").
bool checkDeliveryTarget(const QString &target, const QStringList &inputs, QString &error,
                         const QString &made = QStringLiteral("the archive"));

// Whether the folder `folder` exists and takes a new file now: one is made there and removed at
// once (without a name, where the file system allows). False, with `error` as the system says
// it ("No such file or directory", "Permission denied"), otherwise.
bool checkTargetFolder(const QString &folder, QString &error);

// SHA-1 of a file's content, or an empty array with `error` set.
QByteArray sha1OfFile(const QString &path, QString &error);

// Puts the staged archive where the user wants it, in two steps, so that the slow part can run
// while the archive is still being checked. prepare() first removes what runs that are gone
// left beside targets in the target's folder; then, on the same file system, it takes the
// staged archive itself, else it copies it into a new file there and makes sure the copy holds
// exactly the staged archive's bytes (SHA-1); either is written through to the disk. commit()
// checks the target again (checkDeliveryTarget) and renames the file into place. Until then the
// target is as it was, and the file has no name beside it where the file system allows files
// without one (O_TMPFILE); elsewhere it has a name that later runs recognise, and a lock that
// tells them whether its run still lives. A delivery never committed leaves nothing behind.
class PendingDelivery {
public:
    PendingDelivery();
    ~PendingDelivery();
    PendingDelivery(const PendingDelivery &) = delete;
    PendingDelivery &operator=(const PendingDelivery &) = delete;

    // `keepGoing`, when given, is asked (on the calling thread) before each MiB is copied or
    // hashed; false stops the preparation, which then fails.
    bool prepare(const QString &stagedArchive, const QString &target, QString &error,
                 const std::function<bool()> &keepGoing = {});
    bool commit(QString &error);
    const QByteArray &sha1() const { return m_sha1; }

private:
    // The staged archive itself becomes the target, where it lies on the target's file system.
    bool adopt(std::unique_ptr<QFile> &staged, const QString &folder);
    bool hashAdopted(const QString &stagedArchive, Sha1 &hash,
                     const std::function<bool()> &keepGoing, QString &error);
    // Elsewhere a copy beside the target, read back and compared by its SHA-1.
    bool copyBeside(QFile &staged, const QString &folder, Sha1 &hash,
                    const std::function<bool()> &keepGoing, QString &error);
    bool createNamedTemporary(QString &error);
    void keepTargetPermissions();

    std::unique_ptr<QFile> m_file; // what becomes the target: the staged archive, or its copy
    QString m_named;               // its temporary name beside the target, while it has one
    QString m_target;
    QByteArray m_sha1;
};

// prepare() and commit() in one: on failure `target` is as it was and `error` names the cause
// ("No space left on device").
bool deliverArchive(const QString &stagedArchive, const QString &target, QByteArray &sha1,
                    QString &error);
