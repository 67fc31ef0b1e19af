// mapzip pack -d: many maps, several at a time, each in a build of its own.

#include "CliSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {
QStringList lines(const QString &text) {
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The workers of `parent` once `count` of them are running, waited for up to 10 s.
QStringList runningWorkers(qint64 parent, int count) {
    const QString children = QStringLiteral("/proc/%1/task/%1/children").arg(parent);
    for (int i = 0; i < 1000; ++i) {
        QStringList workers;
        for (const QByteArray &pid : readFile(children).trimmed().split(' ')) {
            const QString cmdline = QStringLiteral("/proc/%1/cmdline").arg(QLatin1String(pid));
            if (!pid.isEmpty() && readFile(cmdline).contains("--worker"))
                workers << QString::fromLatin1(pid);
        }
        if (workers.size() >= count)
            return workers;
        QThread::msleep(10);
    }
    return {};
}
} // namespace

TEST(MapzipBatch, OneLinePerMapInOrderAndTheWorstStatus) {
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("maps/broken.pms"));
    writeBytes(broken, QByteArray(300, '\0'));
    const QString viet = fixtureMap(QStringLiteral("ctf_Viet"));
    const QString dorothy = fixtureMap(QStringLiteral("htf_Dorothy"));
    const QString aftermath = fixtureMap(QStringLiteral("ctf_Aftermath"));
    const struct {
        QStringList maps;
        int status;
        QStringList words; // each map's summary, in the order given
        QStringList extra = {};
    } cases[] = {
        {{viet, dorothy}, 0, {QStringLiteral("ok"), QStringLiteral("ok")}},
        {{aftermath, viet}, 3, {QStringLiteral("incomplete"), QStringLiteral("ok")}},
        {{viet, broken, aftermath},
         1,
         {QStringLiteral("ok"), QStringLiteral("failed"), QStringLiteral("incomplete")}},
        // Every build leaves out what is excluded: a scenery the game loads, so a gap.
        {{dorothy, viet},
         3,
         {QStringLiteral("ok"), QStringLiteral("incomplete")},
         {QStringLiteral("--exclude"), QStringLiteral("inka_2.bmp")}},
    };
    int round = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.maps.join(u' ').toStdString());
        const QString out = dir.filePath(QStringLiteral("out%1").arg(++round));
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack")} + c.maps +
                   QStringList{QStringLiteral("-d"), out, QStringLiteral("--format"),
                               QStringLiteral("smap"), QStringLiteral("-j"), QStringLiteral("2")} +
                   c.extra + defaultsArgs());
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        const QStringList summary = lines(run.out);
        ASSERT_EQ(summary.size(), c.maps.size()) << run.out.toStdString();
        for (qsizetype i = 0; i < c.maps.size(); ++i) {
            const QString &word = c.words.at(i);
            const QString name = QFileInfo(c.maps.at(i)).completeBaseName();
            const QString archive = out + QLatin1Char('/') + name + QStringLiteral(".smap");
            if (word == QLatin1String("failed")) {
                EXPECT_EQ(summary.at(i), QStringLiteral("failed ") + c.maps.at(i));
                EXPECT_FALSE(QFileInfo::exists(archive));
                // Its build's message, naming the map.
                EXPECT_TRUE(run.err.contains(QStringLiteral("mapzip pack: ") + c.maps.at(i) +
                                             QStringLiteral(": This is not a Soldat map: ") +
                                             c.maps.at(i)))
                    << run.err.toStdString();
                continue;
            }
            EXPECT_TRUE(summary.at(i).startsWith(word + QLatin1Char(' ') + c.maps.at(i) +
                                                 QStringLiteral(" -> ") + archive +
                                                 QStringLiteral(" sha1 ")))
                << summary.at(i).toStdString();
            EXPECT_TRUE(fileNames(readArchive(archive))
                            .contains(QStringLiteral("maps/") + name + QStringLiteral(".pms")));
        }
        EXPECT_EQ(run.err.contains(QStringLiteral(": left out: textures/grunge9.png")),
                  c.maps.contains(aftermath));
    }
}

TEST(MapzipBatch, ThePasswordIsReadOnceAndGivenToEveryBuild) {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out"));
    const MapzipRun run =
        mapzip(QStringList{QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                           fixtureMap(QStringLiteral("htf_Dorothy")), QStringLiteral("-d"), out,
                           QStringLiteral("--password-stdin"), QStringLiteral("--level"),
                           QStringLiteral("0")} +
                   defaultsArgs(),
               "s3cret\n");
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const QString &name :
         {QStringLiteral("ctf_Viet.zip"), QStringLiteral("htf_Dorothy.zip")}) {
        SCOPED_TRACE(name.toStdString());
        const ArchiveListing zip = readArchive(out + QLatin1Char('/') + name, "s3cret");
        EXPECT_TRUE(zip.ok && zip.dataChecked) << zip.error.toStdString();
        for (const ArchiveEntry &entry : zip.entries) {
            EXPECT_TRUE(entry.encrypted || entry.name.endsWith(u'/')) << entry.name.toStdString();
            EXPECT_EQ(entry.compressType, 0);
        }
    }
}

TEST(MapzipBatch, TwoMapsOfOneNameAreRefusedBeforeAnythingIsWritten) {
    QTemporaryDir dir;
    const QString other = dir.filePath(QStringLiteral("game/maps/CTF_viet.pms"));
    copyTree(testDataPath(QStringLiteral("soldat/maps")),
             dir.filePath(QStringLiteral("game/maps")));
    ASSERT_TRUE(QFile::rename(dir.filePath(QStringLiteral("game/maps/ctf_Viet.pms")), other));
    const QString out = dir.filePath(QStringLiteral("out"));
    const MapzipRun run = mapzip({QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                                  other, QStringLiteral("-d"), out});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.contains(QStringLiteral("would both be packed to")))
        << run.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(out));
}

// A build that dies, here with its worker killed, fails its own map; a new worker builds the rest.
// When no new worker can start (its program is no longer executable), its map fails too: the
// workers still running build the rest, and with none running, the rest fail.
TEST(MapzipBatch, ABuildThatDiesFailsOnlyItsMap) {
    QTemporaryDir dir;
    copyFixtureGame(dir.filePath(QStringLiteral("game")));
    QStringList maps;
    for (int i = 0; i < 4; ++i) {
        maps << dir.filePath(QStringLiteral("game/maps/copy%1.pms").arg(i));
        ASSERT_TRUE(QFile::copy(fixtureMap(QStringLiteral("ctf_Viet")), maps.last()));
    }
    // A copy of the program beside its libraries, so that its permission to run can be taken away.
    const QFileInfo built(QStringLiteral(MAPZIP_EXE));
    const QString program = dir.filePath(built.fileName());
    for (const QFileInfo &file : built.dir().entryInfoList(QDir::Files))
        ASSERT_TRUE(file == built ? QFile::copy(file.filePath(), program)
                                  : QFile::link(file.filePath(), dir.filePath(file.fileName())));
    // A map finished before the kill on a slow machine is one failure fewer.
    const struct {
        int jobs;
        bool unstartable;
        int leastFailed, mostFailed;
    } cases[] = {{1, false, 1, 1}, {2, true, 1, 2}, {1, true, 3, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.mostFailed);
        ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        QProcess batch;
        startMapzip(batch,
                    QStringList{QStringLiteral("pack")} + maps +
                        QStringList{QStringLiteral("-d"), dir.filePath(QStringLiteral("out")),
                                    QStringLiteral("-j"), QString::number(c.jobs)} +
                        defaultsArgs(),
                    {}, program);
        const QStringList workers = runningWorkers(batch.processId(), c.jobs);
        ASSERT_FALSE(workers.isEmpty());
        if (c.unstartable)
            ASSERT_TRUE(QFile::setPermissions(program, QFile::ReadOwner));
        runTool(QStringLiteral("kill"), {QStringLiteral("-KILL"), workers.constFirst()});
        const MapzipRun run = finishMapzip(batch);
        EXPECT_EQ(run.status, 1);
        const QStringList summary = lines(run.out);
        ASSERT_EQ(summary.size(), 4) << run.out.toStdString();
        const qsizetype failed =
            summary.filter(QRegularExpression(QStringLiteral("^failed "))).size();
        EXPECT_TRUE(failed >= c.leastFailed && failed <= c.mostFailed) << run.out.toStdString();
        EXPECT_EQ(summary.filter(QRegularExpression(QStringLiteral("^ok "))).size(), 4 - failed);
        EXPECT_TRUE(run.err.contains(QStringLiteral(": the build ended abnormally")))
            << run.err.toStdString();
    }
}
