#include "ZipVerify.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace {
constexpr int ProcessTimeoutMs = 60000;

// Runs a program to its end; false (with the reason in `output`) if it could not.
bool runProcess(const QString &program, const QStringList &arguments, QByteArray &output,
                int &exitCode) {
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(ProcessTimeoutMs) ||
        process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        output = "could not run " + program.toUtf8() + ": " + process.errorString().toUtf8();
        return false;
    }
    output = process.readAllStandardOutput();
    const QByteArray errors = process.readAllStandardError();
    if (!errors.isEmpty())
        output += "\n" + errors;
    exitCode = process.exitCode();
    return true;
}
} // namespace

const ArchiveEntry *ArchiveListing::find(const QString &name) const {
    for (const ArchiveEntry &entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

QStringList ArchiveListing::names() const {
    QStringList list;
    for (const ArchiveEntry &entry : entries)
        list << entry.name;
    return list;
}

ArchiveListing readArchive(const QString &path, const QByteArray &password) {
    ArchiveListing listing;
    QStringList arguments{QStringLiteral(MAPZIP_SOURCE_DIR "/tests/support/zipcheck.py"), path};
    if (!password.isEmpty())
        arguments << QStringLiteral("--password-hex") << QString::fromLatin1(password.toHex());
    QByteArray output;
    int exitCode = 0;
    if (!runProcess(QStringLiteral(MAPZIP_PYTHON), arguments, output, exitCode) || exitCode != 0) {
        listing.error = QString::fromUtf8(output);
        return listing;
    }
    QJsonParseError parseError;
    const QJsonObject result = QJsonDocument::fromJson(output, &parseError).object();
    if (parseError.error != QJsonParseError::NoError) {
        listing.error = QStringLiteral("zipcheck.py printed no JSON: ") + QString::fromUtf8(output);
        return listing;
    }
    listing.ok = result.value("ok").toBool();
    listing.error = result.value("error").toString();
    listing.dataChecked = result.value("data_checked").toBool();
    listing.badEntry = result.value("bad_entry").toString();
    listing.comment = QByteArray::fromHex(result.value("comment_hex").toString().toLatin1());
    for (const QJsonValue &value : result.value("entries").toArray()) {
        const QJsonObject object = value.toObject();
        ArchiveEntry entry;
        entry.name = object.value("name").toString();
        entry.size = object.value("size").toInteger();
        entry.compressedSize = object.value("compressed_size").toInteger();
        entry.crc = static_cast<quint32>(object.value("crc").toInteger());
        entry.compressType = object.value("compress_type").toInt();
        entry.mode = object.value("mode").toInt();
        entry.encrypted = object.value("encrypted").toBool();
        for (const QJsonValue &part : object.value("date_time").toArray())
            entry.dateTime << part.toInt();
        listing.entries << entry;
    }
    return listing;
}

bool unzipTest(const QString &path, const QByteArray &password, QString *output) {
    const QByteArray usedPassword = password.isEmpty() ? QByteArray("no password given") : password;
    const QStringList arguments{QStringLiteral("-t"), QStringLiteral("-P"),
                                QString::fromLatin1(usedPassword), path};
    QByteArray text;
    int exitCode = -1;
    const bool ran = runProcess(QStringLiteral("unzip"), arguments, text, exitCode);
    if (output)
        *output = QString::fromUtf8(text);
    return ran && exitCode == 0;
}

QByteArray readEntry(const QString &path, const QString &name, const QByteArray &password) {
    QProcess python;
    python.setStandardInputFile(QProcess::nullDevice());
    python.start(QStringLiteral(MAPZIP_PYTHON),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile\n"
                                 "pwd = bytes.fromhex(sys.argv[3]) or None\n"
                                 "data = zipfile.ZipFile(sys.argv[1]).read(sys.argv[2], pwd=pwd)\n"
                                 "sys.stdout.buffer.write(data)\n"),
                  path, name, QString::fromLatin1(password.toHex())});
    if (!python.waitForFinished(ProcessTimeoutMs) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0) {
        ADD_FAILURE() << "cannot read " << qPrintable(name) << " from " << qPrintable(path) << ": "
                      << python.readAllStandardError().toStdString();
        return {};
    }
    return python.readAllStandardOutput();
}
