// The reader that checks every archive after writing: it must give back each entry's data
// exactly, whichever way it reads it (stored, deflated and held whole, deflated and streamed),
// and catch a damaged byte in any of them. The archives are written by Python's zipfile.

#include "archive/ArchiveReader.h"
#include "archive/ReadBack.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace {

// Text-like data deflates well but not to nothing; noise does not deflate at all.
QByteArray sample(qsizetype size, bool noise) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(size);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = noise ? char(random.generate()) : char('a' + random.bounded(6));
    return data;
}

// Zips the files named in `entries` (name, stored?) from `folder` into `archive`; returns
// where each entry's data starts.
QList<qint64> zipWithPython(const QString &folder, const QString &archive,
                            const QList<QPair<QString, bool>> &entries) {
    QString script = QStringLiteral("import sys, zipfile\n"
                                    "z = zipfile.ZipFile(sys.argv[1], 'w')\n");
    for (const auto &[name, stored] : entries)
        script +=
            QStringLiteral("z.write(sys.argv[2] + '/%1', '%1', zipfile.%2)\n")
                .arg(name, stored ? QStringLiteral("ZIP_STORED") : QStringLiteral("ZIP_DEFLATED"));
    script += QStringLiteral(
        "z.close()\n"
        "f = open(sys.argv[1], 'rb')\n"
        "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
        "    f.seek(i.header_offset + 26)\n"
        "    n, e = int.from_bytes(f.read(2), 'little'), int.from_bytes(f.read(2), 'little')\n"
        "    print(i.header_offset + 30 + n + e)\n");
    QProcess python;
    python.start(QStringLiteral(MAPZIP_PYTHON), {QStringLiteral("-c"), script, archive, folder});
    EXPECT_TRUE(python.waitForFinished(60000) && python.exitCode() == 0)
        << python.readAllStandardError().toStdString();
    QList<qint64> offsets;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            offsets.append(line.toLongLong());
    return offsets;
}

// Makes a reader with the read-back library missing, cut short (never handed to the system's
// loader), then whole (`whole`), in a folder of its own: what went wrong, a line each.
QString readersFromALibraryMendedMeanwhile(const QByteArray &whole) {
    QTemporaryDir folder;
    setReadBackFolder(folder.path());
    const QString library = folder.filePath(QStringLiteral("libmapzip_readback.so"));
    QString wrong;
    for (const QByteArray &content : {QByteArray(), whole.left(20000), whole}) {
        if (!content.isNull())
            writeBytes(library, content);
        QString error;
        const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(error);
        if ((reader != nullptr) != (content == whole) || (!reader && !error.contains(library)))
            wrong += QStringLiteral("%1 bytes: %2\n").arg(content.size()).arg(error);
    }
    return wrong;
}

} // namespace

TEST(ArchiveReaderTest, GivesBackEveryEntryAndCatchesADamagedByteInEach) {
    struct Case {
        QString name;
        qsizetype size;
        bool stored;
        bool noise;
    };
    const QList<Case> cases = {
        {QStringLiteral("stored.png"), 300 * 1024, true, true},
        {QStringLiteral("one-byte.txt"), 1, true, false},
        {QStringLiteral("small.bmp"), 20 * 1024, false, false},
        {QStringLiteral("held-whole.bmp"), 3 * 1024 * 1024, false, false},
        {QStringLiteral("streamed.bmp"), 6 * 1024 * 1024, false, false},
    };
    QTemporaryDir folder;
    QList<QPair<QString, bool>> entries;
    for (const Case &c : cases) {
        writeBytes(folder.filePath(c.name), sample(c.size, c.noise));
        entries.append({c.name, c.stored});
    }
    const QString archive = folder.filePath(QStringLiteral("test.zip"));
    const QList<qint64> dataStarts = zipWithPython(folder.path(), archive, entries);
    ASSERT_EQ(dataStarts.size(), cases.size());
    const QByteArray pristine = [&] {
        QFile file(archive);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    // Damage: none, one byte of the entry's data, or its CRC in the central directory (the
    // data then unpacks fine and only the CRC comparison can tell).
    enum class Damage { None, Data, DirectoryCrc };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name.toStdString());
        for (const Damage damage : {Damage::None, Damage::Data, Damage::DirectoryCrc}) {
            SCOPED_TRACE(int(damage));
            QByteArray bytes = pristine;
            qsizetype at = dataStarts[i] + qMin<qsizetype>(100, c.size - 1);
            if (damage == Damage::DirectoryCrc) {
                at = -1;
                for (qsizetype n = 0; n <= i; ++n)
                    at = bytes.indexOf(QByteArrayLiteral("PK\x01\x02"), at + 1);
                at += 16;
            }
            if (damage != Damage::None)
                bytes[at] = char(bytes[at] ^ 0x10);
            writeBytes(archive, bytes);
            QString error;
            const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(error);
            ASSERT_TRUE(reader && reader->open(archive, error)) << error.toStdString();
            ASSERT_EQ(reader->items().size(), cases.size());
            const ArchiveItem &item = reader->items()[i];
            ASSERT_EQ(item.name, c.name);
            EXPECT_EQ(item.stored, c.stored);
            QByteArray data;
            const bool read = reader->readAll(item, data, c.size, error);
            if (damage != Damage::None) {
                EXPECT_FALSE(read);
                EXPECT_FALSE(error.isEmpty());
            } else {
                EXPECT_TRUE(read) << error.toStdString();
                EXPECT_EQ(data, sample(c.size, c.noise));
            }
        }
    }
}

// A library once loaded stays loaded for the rest of the process: the case runs in a fresh
// process of its own, whatever ran before it.
TEST(ArchiveReaderTest, WorksOnlyWithAWholeReadBackLibraryAndFindsOneMendedMeanwhile) {
    const QByteArray whole = [] {
        QFile file(QStringLiteral(MAPZIP_PROGRAM_FOLDER "/libmapzip_readback.so"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_GT(whole.size(), 20000);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const QString wrong = readersFromALibraryMendedMeanwhile(whole);
            std::fputs(qPrintable(wrong), stderr);
            std::exit(wrong.isEmpty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
