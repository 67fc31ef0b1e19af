#pragma once
// mapzip run as a program, as scripts run it: arguments, standard input, exit status and the
// two output streams apart.

#include "support/TestSupport.h"
#include "support/ZipVerify.h"

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

struct MapzipRun {
    int status = -1; // exit code; -1 when mapzip crashed or did not finish
    QString out;
    QString err;
};

// Starts `program` (mapzip by default) with `args`, feeds `input` and closes standard input.
void startMapzip(QProcess &process, const QStringList &args, const QByteArray &input = {},
                 const QString &program = {});
// Waits for a started mapzip and collects what it printed.
MapzipRun finishMapzip(QProcess &process);
MapzipRun mapzip(const QStringList &args, const QByteArray &input = {},
                 const QString &program = {});

QString fixtureMap(const QString &name);          // tests/data/soldat/maps/<name>.pms
QStringList defaultsArgs();                       // --defaults tests/data/defaults.txt
QList<QJsonObject> jsonLines(const QString &out); // one object per non-empty line
QStringList fileNames(const ArchiveListing &zip); // entries that are not folders
QByteArray readFile(const QString &path);
// Writes a ZIP archive with Python's zipfile: the archives other people's tools make.
void writeForeignZip(const QString &path, const QList<std::pair<QString, QByteArray>> &entries);
// Runs a system tool (mkfifo, kill, ...); fails the test when it does not exit 0.
void runTool(const QString &program, const QStringList &args);
// The fixture game folder copied to `to` (so tests may change it).
void copyFixtureGame(const QString &to);
