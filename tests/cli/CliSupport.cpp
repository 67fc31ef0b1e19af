#include "CliSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>

void startMapzip(QProcess &process, const QStringList &args, const QByteArray &input,
                 const QString &program) {
    process.start(program.isEmpty() ? QStringLiteral(MAPZIP_EXE) : program, args);
    if (!process.waitForStarted(30000)) {
        ADD_FAILURE() << "mapzip did not start: " << process.errorString().toStdString();
        return;
    }
    process.write(input);
    process.closeWriteChannel();
}

MapzipRun finishMapzip(QProcess &process) {
    MapzipRun run;
    if (!process.waitForFinished(100000)) {
        ADD_FAILURE() << "mapzip did not finish";
        process.kill();
        process.waitForFinished();
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

MapzipRun mapzip(const QStringList &args, const QByteArray &input, const QString &program) {
    QProcess process;
    startMapzip(process, args, input, program);
    return finishMapzip(process);
}

QString fixtureMap(const QString &name) {
    return testDataPath(QStringLiteral("soldat/maps/") + name + QStringLiteral(".pms"));
}

QStringList defaultsArgs() {
    return {QStringLiteral("--defaults"), testDataPath(QStringLiteral("defaults.txt"))};
}

QList<QJsonObject> jsonLines(const QString &out) {
    QList<QJsonObject> objects;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << qPrintable(line);
        objects.append(doc.object());
    }
    return objects;
}

QStringList fileNames(const ArchiveListing &zip) {
    EXPECT_TRUE(zip.ok) << zip.error.toStdString();
    QStringList names = zip.names();
    names.removeIf([](const QString &name) { return name.endsWith(QLatin1Char('/')); });
    return names;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeForeignZip(const QString &path, const QList<std::pair<QString, QByteArray>> &entries) {
    // Names and data go in on standard input: a map is too large for a command line.
    QByteArray input;
    for (const auto &[name, data] : entries)
        input += name.toUtf8().toHex() + ' ' + data.toHex() + '\n';
    QProcess python;
    python.start(
        QStringLiteral(MAPZIP_PYTHON),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, zipfile\n"
                        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                        "    for line in sys.stdin:\n"
                        "        name, data = line.split()\n"
                        "        z.writestr(bytes.fromhex(name).decode(), bytes.fromhex(data))\n"),
         path});
    python.write(input);
    python.closeWriteChannel();
    ASSERT_TRUE(python.waitForFinished(60000)) << python.errorString().toStdString();
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
}

void runTool(const QString &program, const QStringList &args) {
    QProcess process;
    process.start(program, args);
    ASSERT_TRUE(process.waitForFinished(60000)) << program.toStdString();
    ASSERT_EQ(process.exitCode(), 0)
        << program.toStdString() << ": " << process.readAllStandardError().toStdString();
}

void copyFixtureGame(const QString &to) {
    copyTree(testDataPath(QStringLiteral("soldat")), to);
}
