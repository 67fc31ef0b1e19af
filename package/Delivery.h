#pragma once
// The last steps of a build: check the staged archive, then put it where the user wants it.

#include "package/Staging.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

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
// the password when set); each staged file must be there with its size and content. Files
// that are simply not in the archive (freshen adds none) go to `notInArchive`. False, with
// `error` naming the entry and the cause, on any other difference.
bool verifyStagedArchive(const VerifyRequest &request, QStringList &notInArchive, QString &error);

// SHA-1 of a file's content, or an empty array with `error` set.
QByteArray sha1OfFile(const QString &path, QString &error);

// Puts `stagedArchive` at `target`: linked (same file system) or copied to a temporary file
// beside `target`, written through to the disk, checked to hold exactly the staged archive's
// bytes (SHA-1, returned in `sha1`), then renamed into place. On failure `target` is as it was
// and `error` names the cause ("No space left on device").
bool deliverArchive(const QString &stagedArchive, const QString &target, QByteArray &sha1,
                    QString &error);
