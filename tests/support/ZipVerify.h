#pragma once
// Independent readers for archives made by the program: Python's zipfile (zipcheck.py beside
// this file) and Info-ZIP's unzip. Tests verify archives with these, never with our own code.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct ArchiveEntry {
    QString name; // as stored, folders separated by '/'
    qint64 size = 0;
    qint64 compressedSize = 0; // encryption header included
    quint32 crc = 0;
    int compressType = 0; // 0 stored, 8 deflated
    bool encrypted = false;
    QList<int> dateTime; // year, month, day, hour, minute, second as stored
    int mode = 0;        // Unix file type and permissions, as stored (0100644: a plain file)
};

struct ArchiveListing {
    bool ok = false;          // readable, and every entry's data checked good where it was read
    QString error;            // why not ok
    bool dataChecked = false; // false: encrypted entries and no password, data left unread
    QString badEntry;         // the entry whose data failed (bad CRC, wrong password)
    QList<ArchiveEntry> entries;
    QByteArray comment; // the archive comment's raw bytes

    const ArchiveEntry *find(const QString &name) const; // nullptr when absent
    QStringList names() const;                           // in archive order
};

// Reads `path` with Python's zipfile. `password` is given as the bytes the engine received;
// with a password every entry's data is decrypted and its CRC checked.
ArchiveListing readArchive(const QString &path, const QByteArray &password = {});

// One entry's data as Python's zipfile reads it (decrypted with `password` when given).
// Fails the current test, and returns empty bytes, when the entry cannot be read.
QByteArray readEntry(const QString &path, const QString &name, const QByteArray &password = {});

// Runs `unzip -t [-P password] path`; true when unzip reports no errors. Without a password,
// encrypted entries are tested with one nobody uses, so unzip never waits for typing and fails.
// The password crosses a command line: keep it ASCII. `output` receives unzip's output.
bool unzipTest(const QString &path, const QByteArray &password = {}, QString *output = nullptr);
