// mapzip pack under pressure: interrupts, shared and tampered staging folders, any names.

#include "CliSupport.h"
#include "support/MapWriter.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A game folder with one map whose only scenery is large and deflates to about half, so that
// packing it takes a few seconds.
QString slowMap(const QString &game, qsizetype megabytes) {
    const QString map = game + QStringLiteral("/maps/slow.pms");
    MapSpec spec;
    spec.sceneries = {{"big.png", std::nullopt}};
    writeMap(map, spec);
    QByteArray noise(megabytes * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()),
                                  noise.size() / qsizetype(sizeof(quint32)));
    for (char &byte : noise)
        byte &= 0x0f;
    writeBytes(game + QStringLiteral("/scenery-gfx/big.png"), noise);
    return map;
}

// Waits until a file matching `pattern` lies somewhere under `folder`.
bool waitForFile(const QString &folder, const QString &pattern) {
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        QDirIterator it(folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
        if (it.hasNext())
            return true;
        QThread::msleep(5);
    }
    return false;
}

QStringList everythingIn(const QString &folder) {
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

void sendSignal(const QProcess &process, const char *signal) {
    runTool(QStringLiteral("kill"), {QStringLiteral("-%1").arg(QLatin1String(signal)),
                                     QString::number(process.processId())});
}

} // namespace

TEST(MapzipSafety, AnInterruptStopsThePackAndLeavesNothingBehind) {
    QTemporaryDir dir;
    const QString map = slowMap(dir.filePath(QStringLiteral("game")), 120);
    const QString temp = dir.filePath(QStringLiteral("tmp"));
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString second = dir.filePath(QStringLiteral("game/maps/slow2.pms"));
    ASSERT_TRUE(QFile::copy(map, second));
    QDir().mkpath(temp);
    QDir().mkpath(out);
    // A batch passes the signal on to the builds under way.
    const struct {
        const char *signal;
        int status;
        bool batch;
    } cases[] = {
        {"INT", 130, false}, {"TERM", 143, false}, {"HUP", 129, false}, {"TERM", 143, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.signal + std::string(c.batch ? " batch" : ""));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), temp);
        process.setProcessEnvironment(environment);
        const QStringList target =
            c.batch ? QStringList{QStringLiteral("-d"), out, second}
                    : QStringList{QStringLiteral("-o"), out + QStringLiteral("/slow.zip")};
        startMapzip(process, QStringList{QStringLiteral("pack"), map,
                                         QStringLiteral("--engine-threads"), QStringLiteral("1")} +
                                 target);
        // Once the staged archive is there, the engine is at work on the large image.
        ASSERT_TRUE(waitForFile(temp, QStringLiteral("slow.zip*")));
        sendSignal(process, c.signal);
        const MapzipRun run = finishMapzip(process);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("stopped; nothing was written")))
            << run.err.toStdString();
        EXPECT_FALSE(run.err.contains(QStringLiteral("left out")));
        EXPECT_FALSE(run.out.contains(QStringLiteral("sha1")));
        if (c.batch) {
            EXPECT_EQ(run.out, QStringLiteral("stopped %1\nstopped %2\n").arg(map, second));
        }
        EXPECT_EQ(everythingIn(temp), QStringList());
        EXPECT_EQ(everythingIn(out), QStringList());
    }
}

TEST(MapzipSafety, ASharedStagingFolderHoldsOneRunAtATime) {
    QTemporaryDir dir;
    const QString map = slowMap(dir.filePath(QStringLiteral("game")), 40);
    const QString staging = dir.filePath(QStringLiteral("staging"));
    const QString first = dir.filePath(QStringLiteral("first.zip"));
    const QString second = dir.filePath(QStringLiteral("second.zip"));

    QProcess holder;
    startMapzip(holder, {QStringLiteral("pack"), map, QStringLiteral("-o"), first,
                         QStringLiteral("--staging"), staging, QStringLiteral("-q")});
    ASSERT_TRUE(waitForFile(staging + QStringLiteral("/TEMP"), QStringLiteral("slow.*")));
    // Held still while it owns the folder, however fast this machine is.
    sendSignal(holder, "STOP");
    const qint64 holderId = holder.processId();
    QElapsedTimer waited;
    waited.start();
    const MapzipRun refused =
        mapzip(QStringList{QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                           QStringLiteral("-o"), second, QStringLiteral("--staging"), staging} +
               defaultsArgs());
    sendSignal(holder, "CONT");
    const MapzipRun held = finishMapzip(holder);

    EXPECT_EQ(refused.status, 1);
    EXPECT_GE(waited.elapsed(), 5000) << "it waits 5 seconds for the folder";
    EXPECT_TRUE(
        refused.err.contains(QStringLiteral("staging folder in use by process %1").arg(holderId)))
        << refused.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(second));
    ASSERT_EQ(held.status, 0) << held.err.toStdString();
    QStringList names = fileNames(readArchive(first));
    names.sort();
    EXPECT_EQ(names,
              (QStringList{QStringLiteral("maps/slow.PMS"), QStringLiteral("maps/slow_ReadMe.txt"),
                           QStringLiteral("scenery-gfx/big.png")}));
}

TEST(MapzipSafety, AStagingTreeThatIsNotTheUsersOwnIsRefused) {
    const struct {
        const char *name;
        const char *problem;
    } cases[] = {{"TEMP a link", "is a link"},
                 {"Maps a link", "is a link"},
                 {"TEMP for everybody", "may be written by everybody"},
                 {"TEMP of another user", "belongs to another user"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString staging = dir.filePath(QStringLiteral("staging"));
        const QString temp = staging + QStringLiteral("/TEMP");
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QDir().mkpath(elsewhere);
        const QString name = QLatin1String(c.name);
        if (name == QLatin1String("TEMP a link")) {
            QDir().mkpath(staging);
            ASSERT_TRUE(QFile::link(elsewhere, temp));
        } else if (name == QLatin1String("Maps a link")) {
            QDir().mkpath(temp);
            ASSERT_TRUE(QFile::link(elsewhere, temp + QStringLiteral("/Maps")));
        } else {
            QDir().mkpath(temp);
            QFile::setPermissions(temp, QFile::permissions(temp) | QFile::WriteOther);
            if (name == QLatin1String("TEMP of another user")) {
                // Only the superuser can give a folder away (CI runs as one). The row comes
                // last, so that a skip leaves none of the others unrun.
                QProcess::execute(QStringLiteral("chown"), {QStringLiteral("nobody"), temp});
                if (QFileInfo(temp).ownerId() == QFileInfo(dir.path()).ownerId())
                    GTEST_SKIP() << c.name << ": only the superuser can give it to another user";
                QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            }
        }
        const QString target = dir.filePath(QStringLiteral("x.zip"));
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                               QStringLiteral("-o"), target, QStringLiteral("--staging"), staging} +
                   defaultsArgs());
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.problem))) << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(target));
        EXPECT_EQ(everythingIn(elsewhere), QStringList());
    }
}

// --update packs on from the map's staged archive; a link in its place, to an archive
// elsewhere, is no staged archive: none of that archive's entries reaches the delivery, and it
// stays as it was.
TEST(MapzipSafety, UpdateNeverTakesInAnArchiveLinkedIntoTheStagingTree) {
    QTemporaryDir dir;
    const QString staging = dir.filePath(QStringLiteral("staging"));
    const QString outside = dir.filePath(QStringLiteral("outside.zip"));
    writeForeignZip(outside, {{QStringLiteral("scenery-gfx/planted.png"), "planted"}});
    const QByteArray before = readFile(outside);
    ASSERT_TRUE(QDir().mkpath(staging + QStringLiteral("/TEMP")));
    ASSERT_TRUE(QFile::link(outside, staging + QStringLiteral("/TEMP/ctf_Viet.zip")));
    const QString target = dir.filePath(QStringLiteral("x.zip"));
    const MapzipRun run =
        mapzip(QStringList{QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                           QStringLiteral("-o"), target, QStringLiteral("--staging"), staging,
                           QStringLiteral("--update")} +
               defaultsArgs());
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList names = fileNames(readArchive(target));
    EXPECT_TRUE(names.contains(QStringLiteral("maps/ctf_Viet.PMS")));
    EXPECT_FALSE(names.contains(QStringLiteral("scenery-gfx/planted.png")));
    EXPECT_EQ(readFile(outside), before);
}

TEST(MapzipSafety, RunsFromAProgramFolderAndOnAMapOfAnyName) {
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("программа-ąłż"));
    QDir().mkpath(program);
    const QString built = QFileInfo(QStringLiteral(MAPZIP_EXE)).absolutePath();
    for (const QString &file :
         {QFileInfo(QStringLiteral(MAPZIP_EXE)).fileName(), QStringLiteral("libzip32.so"),
          QStringLiteral("libmapzip_readback.so"), QStringLiteral("libmapzip_picture.so")})
        ASSERT_TRUE(
            QFile::copy(built + QLatin1Char('/') + file, program + QLatin1Char('/') + file));
    ASSERT_TRUE(QFile::copy(testDataPath(QStringLiteral("defaults.txt")),
                            program + QStringLiteral("/defaults.txt")));
    const QString mapzipHere = program + QStringLiteral("/mapzip");
    const QString game = dir.filePath(QStringLiteral("gra-żółw"));
    copyFixtureGame(game);
    const QString map = game + QStringLiteral("/maps/mapa_żółć-ё.pms");
    ASSERT_TRUE(QFile::rename(game + QStringLiteral("/maps/ctf_Viet.pms"), map));
    const QString target = dir.filePath(QStringLiteral("wyjście-ё.zip"));

    // No --defaults: the list beside the program is found.
    const MapzipRun inspect = mapzip({QStringLiteral("inspect"), map}, {}, mapzipHere);
    EXPECT_EQ(inspect.status, 0) << inspect.err.toStdString();
    EXPECT_TRUE(inspect.out.startsWith(map + QLatin1Char('\n'))) << inspect.out.toStdString();
    EXPECT_TRUE(inspect.err.isEmpty()) << inspect.err.toStdString();

    const MapzipRun pack =
        mapzip({QStringLiteral("pack"), map, QStringLiteral("-o"), target, QStringLiteral("-q")},
               {}, mapzipHere);
    ASSERT_EQ(pack.status, 0) << pack.err.toStdString();
    EXPECT_TRUE(pack.out.endsWith(QStringLiteral("  ") + target + QLatin1Char('\n')));
    const QStringList names = fileNames(readArchive(target));
    EXPECT_TRUE(names.contains(QStringLiteral("maps/mapa_żółć-ё.PMS")))
        << names.join(u' ').toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("maps/mapa_żółć-ё_ReadMe.txt")));
    EXPECT_TRUE(unzipTest(target));

    const MapzipRun verify = mapzip({QStringLiteral("verify"), target}, {}, mapzipHere);
    EXPECT_EQ(verify.status, 0) << verify.out.toStdString() << verify.err.toStdString();
    const QStringList preview = {QStringLiteral("preview"), map, QStringLiteral("-o"),
                                 dir.filePath(QStringLiteral("map.png"))};
    EXPECT_EQ(mapzip(preview, {}, mapzipHere).status, 0);
    // Without the picture library only the picture is missing.
    ASSERT_TRUE(QFile::remove(program + QStringLiteral("/libmapzip_picture.so")));
    const MapzipRun noPicture = mapzip(preview, {}, mapzipHere);
    EXPECT_EQ(noPicture.status, 1);
    EXPECT_TRUE(noPicture.err.contains(
        QStringLiteral("libmapzip_picture.so cannot be used: it is missing")))
        << noPicture.err.toStdString();

    // Without the library that reads archives back, nothing is built that could not be checked.
    ASSERT_TRUE(QFile::remove(program + QStringLiteral("/libmapzip_readback.so")));
    const QString unchecked = dir.filePath(QStringLiteral("unchecked.zip"));
    const MapzipRun blind =
        mapzip({QStringLiteral("pack"), map, QStringLiteral("-o"), unchecked, QStringLiteral("-q")},
               {}, mapzipHere);
    EXPECT_EQ(blind.status, 1);
    EXPECT_TRUE(blind.err.contains(QStringLiteral("libmapzip_readback.so")))
        << blind.err.toStdString();
    EXPECT_FALSE(blind.err.contains(QStringLiteral("Added"))) << blind.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(unchecked));
}

// Only a command that draws a picture loads QtGui (with its fonts and D-Bus): the others start
// as fast as QtCore lets them.
TEST(MapzipSafety, OnlyThePreviewLoadsQtGui) {
    QTemporaryDir dir;
    const QString map = fixtureMap(QStringLiteral("ctf_Viet"));
    const QString picture = dir.filePath(QStringLiteral("viet.png"));
    qputenv("LD_DEBUG", "files"); // the loader names each library it loads
    const MapzipRun version = mapzip({QStringLiteral("--version")});
    const MapzipRun inspect = mapzip(QStringList{QStringLiteral("inspect"), map} + defaultsArgs());
    const MapzipRun preview =
        mapzip({QStringLiteral("preview"), map, QStringLiteral("-o"), picture});
    qunsetenv("LD_DEBUG");
    for (const MapzipRun *run : {&version, &inspect, &preview})
        EXPECT_EQ(run->status, 0) << run->err.toStdString();
    EXPECT_FALSE(version.err.contains(QStringLiteral("libQt6Gui")));
    EXPECT_FALSE(inspect.err.contains(QStringLiteral("libQt6Gui")));
    EXPECT_TRUE(preview.err.contains(QStringLiteral("libQt6Gui")));
}

// A map saved again and again while it is packed: whichever version a run packs, it never calls
// an archive complete that verify finds incomplete.
TEST(MapzipSafety, RacingMapEditsNeverGiveAFalseSuccess) {
    QTemporaryDir dir;
    const QString game = dir.filePath(QStringLiteral("game"));
    copyFixtureGame(game);
    const QString map = game + QStringLiteral("/maps/race.pms");
    const QByteArray complete = readFile(fixtureMap(QStringLiteral("ctf_Viet")));
    MapSpec spec; // five sceneries the game folder lacks
    spec.texture = "xt_forrestdirtrock.png";
    for (const char *name : {"n1.png", "n2.png", "n3.png", "n4.png", "n5.png"})
        spec.sceneries.push_back({name, {}});
    const QByteArray lacking = buildMap(spec);
    writeBytes(map, complete);
    std::atomic<bool> done = false;
    // Saved the way editors save: a new file renamed over the old one.
    std::thread editor([&] {
        for (int i = 0; !done; ++i) {
            QSaveFile file(map);
            if (file.open(QIODevice::WriteOnly) && file.write(i % 2 ? lacking : complete) > 0)
                file.commit();
            QThread::usleep(300);
        }
    });
    for (int run = 0; run < 12; ++run) {
        const QString target = dir.filePath(QStringLiteral("race%1.zip").arg(run));
        const MapzipRun pack = mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"),
                                                  target, QStringLiteral("-q")} +
                                      defaultsArgs());
        ASSERT_NE(pack.status, -1) << pack.err.toStdString();
        if (pack.status == 0) {
            EXPECT_EQ(mapzip(QStringList{QStringLiteral("verify"), target} + defaultsArgs()).status,
                      0)
                << run;
        }
    }
    done = true;
    editor.join();
}
