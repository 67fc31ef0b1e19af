// mapzip pack run as a program; archives read back with Python's zipfile and unzip -t.

#include "CliSupport.h"
#include "support/MapWriter.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

class PackTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(out.isValid()); }
    QString outPath(const QString &name) const { return out.filePath(name); }
    QTemporaryDir out;
};

QString sha1Line(const QString &path, const QString &shown) {
    return QStringLiteral("sha1 %1  %2\n")
        .arg(QString::fromLatin1(
                 QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex()),
             shown);
}

QStringList leftOutLines(const QString &err) {
    QStringList lines = err.split(QLatin1Char('\n'));
    lines.removeIf([](const QString &line) {
        return !line.startsWith(QStringLiteral("mapzip pack: left out: "));
    });
    return lines;
}

} // namespace

TEST_F(PackTest, PacksEveryFixtureMapAndNamesWhatIsLeftOut) {
    const struct {
        const char *map;
        int status;
        const char *texture; // empty: the map's texture is not in the fixture
        int sceneries;       // found on disk, so packed
        const char *leftOut; // the one file the game loads that is missing, or none
        int notUsed;         // missing too, but never loaded by the game
    } cases[] = {{"ctf_Viet", 0, "textures/xt_forrestdirtrock.png", 4, nullptr, 0},
                 {"htf_Dorothy", 0, "textures/dorothy.png", 27, nullptr, 0},
                 {"ctf_Aftermath", 3, "", 33, "textures/grunge9.png", 22}};
    for (const auto &c : cases) {
        const QString map = QString::fromLatin1(c.map);
        SCOPED_TRACE(c.map);
        const QString target = outPath(map + QStringLiteral(".zip"));
        const MapzipRun run = mapzip(
            QStringList{QStringLiteral("pack"), fixtureMap(map), QStringLiteral("-o"), target} +
            defaultsArgs());
        ASSERT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE(run.out.endsWith(sha1Line(target, target))) << run.out.toStdString();
        // Each left-out file once, on standard error, and not again as a message box.
        EXPECT_EQ(leftOutLines(run.err).join(u'\n'),
                  c.leftOut ? QStringLiteral("mapzip pack: left out: %1: not in the game folder")
                                  .arg(QLatin1String(c.leftOut))
                            : QString());
        EXPECT_EQ(run.err.count(QStringLiteral("mapzip pack: skipped, not used by the map: ")),
                  c.notUsed);
        EXPECT_EQ(run.err.count(u'\n'), (c.leftOut ? 1 : 0) + c.notUsed) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("Left out")));

        // The game folder's folders are lower case, and so are the archive's.
        const QStringList names = fileNames(readArchive(target));
        EXPECT_TRUE(names.contains(QStringLiteral("maps/") + map + QStringLiteral(".PMS")));
        EXPECT_TRUE(names.contains(QStringLiteral("maps/") + map + QStringLiteral("_ReadMe.txt")));
        EXPECT_EQ(names.filter(QStringLiteral("scenery-gfx/")).size(), c.sceneries);
        EXPECT_EQ(names.filter(QStringLiteral("textures/")),
                  *c.texture ? QStringList{QString::fromLatin1(c.texture)} : QStringList());
        EXPECT_TRUE(unzipTest(target));
    }
}

// Folder names follow the game folder's own, and the texture brings its edge texture.
TEST_F(PackTest, FoldersAreNamedAsTheGamesAndTheEdgeTextureComesAlong) {
    for (const bool windows : {false, true}) {
        SCOPED_TRACE(windows ? "Maps, Scenery-gfx, Textures" : "maps, scenery-gfx, textures");
        const QString game = outPath(windows ? QStringLiteral("windows") : QStringLiteral("lower"));
        copyFixtureGame(game);
        const QStringList folders = windows ? QStringList{"Maps", "Scenery-gfx", "Textures"}
                                            : QStringList{"maps", "scenery-gfx", "textures"};
        for (const QString &folder : windows ? folders : QStringList())
            ASSERT_TRUE(QDir(game).rename(folder.toLower(), folder));
        writeBytes(game + "/" + folders[2] + "/edges/Xt_ForrestDirtRock.PNG", "edge texture");
        const QString target = outPath(QStringLiteral("viet.zip"));
        const MapzipRun run = mapzip(
            QStringList{QStringLiteral("pack"),
                        game + QLatin1Char('/') + folders[0] + QStringLiteral("/ctf_Viet.pms"),
                        QStringLiteral("-o"), target, QStringLiteral("-q")} +
            defaultsArgs());
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        QStringList names = fileNames(readArchive(target));
        names.sort();
        EXPECT_EQ(
            names,
            (QStringList{folders[0] + "/ctf_Viet.PMS", folders[0] + "/ctf_Viet_ReadMe.txt",
                         folders[1] + "/inka_2.bmp", folders[1] + "/mnp-jungle5.bmp",
                         folders[1] + "/mnp-underground1.png", folders[1] + "/mnp-underground2.png",
                         folders[2] + "/edges/Xt_ForrestDirtRock.PNG",
                         folders[2] + "/xt_forrestdirtrock.png"}));
        EXPECT_EQ(readEntry(target, folders[2] + "/edges/Xt_ForrestDirtRock.PNG"),
                  QByteArray("edge texture"));
        // verify finds the edge texture used, and everything else the map needs.
        const MapzipRun verify = mapzip(QStringList{"verify", target} + defaultsArgs());
        EXPECT_EQ(verify.out, target + QStringLiteral(": ok, 1 map(s)\n"));
    }
}

// Every switch must reach the engine: each case fails when its switch is dropped on the way.
TEST_F(PackTest, EverySwitchReachesTheEngine) {
    // Game files dated in the past: a reproducible build dates every entry like them.
    const QString game = outPath(QStringLiteral("game"));
    copyFixtureGame(game);
    const QDateTime past(QDate(2020, 1, 2), QTime(3, 4, 6), Qt::UTC);
    for (const QString &file :
         {QStringLiteral("/maps/ctf_Viet.pms"), QStringLiteral("/scenery-gfx/inka_2.bmp"),
          QStringLiteral("/scenery-gfx/mnp-jungle5.bmp"),
          QStringLiteral("/scenery-gfx/mnp-underground1.png"),
          QStringLiteral("/scenery-gfx/mnp-underground2.png"),
          QStringLiteral("/textures/xt_forrestdirtrock.png")}) {
        QFile f(game + file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(past, QFileDevice::FileModificationTime));
    }
    const QString map = game + QStringLiteral("/maps/ctf_Viet.pms");
    const QString staging = outPath(QStringLiteral("staging"));
    auto years = [](const ArchiveListing &zip) {
        QList<int> list;
        for (const ArchiveEntry &entry : zip.entries)
            list << entry.dateTime.value(0);
        return list;
    };
    struct Case {
        QString name;
        QStringList args;
        int status;
        std::function<void(const ArchiveListing &zip, const MapzipRun &run)> check;
    };
    QList<Case> cases = {
        {QStringLiteral("defaults"),
         {},
         0,
         [&](const ArchiveListing &zip, const MapzipRun &) {
             EXPECT_EQ(years(zip), QList<int>(zip.entries.size(), 2020));
         }},
        {QStringLiteral("junk paths"),
         {QStringLiteral("--junk-paths")},
         0,
         [](const ArchiveListing &zip, const MapzipRun &) {
             EXPECT_EQ(zip.names().filter(QStringLiteral("/")), QStringList());
             EXPECT_TRUE(zip.names().contains(QStringLiteral("ctf_Viet.PMS")));
         }},
        // Only the staging folder itself, where the map's folders are not: nothing to pack.
        {QStringLiteral("no recurse"),
         {QStringLiteral("--no-recurse")},
         1,
         [](const ArchiveListing &zip, const MapzipRun &run) {
             EXPECT_FALSE(zip.ok);
             EXPECT_TRUE(run.err.contains(QStringLiteral("code (12)"))) << run.err.toStdString();
         }},
        // The map needs what is excluded: the archive lacks it.
        {QStringLiteral("exclude, staged for update and freshen"),
         {QStringLiteral("--staging"), staging, QStringLiteral("--exclude"),
          QStringLiteral("inka_2.bmp")},
         3,
         [](const ArchiveListing &zip, const MapzipRun &run) {
             EXPECT_FALSE(zip.names().contains(QStringLiteral("scenery-gfx/inka_2.bmp")));
             EXPECT_TRUE(run.err.contains(QStringLiteral("scenery-gfx/inka_2.bmp: excluded")));
         }},
        // Freshen adds nothing the earlier archive lacks.
        {QStringLiteral("freshen"),
         {QStringLiteral("--staging"), staging, QStringLiteral("--freshen")},
         3,
         [](const ArchiveListing &zip, const MapzipRun &run) {
             EXPECT_FALSE(zip.names().contains(QStringLiteral("scenery-gfx/inka_2.bmp")));
             EXPECT_TRUE(run.err.contains(QStringLiteral("left out: scenery-gfx/inka_2.bmp")));
         }},
        // Update adds it, and keeps each file's own time: the readme's is today's.
        {QStringLiteral("update"),
         {QStringLiteral("--staging"), staging, QStringLiteral("--update")},
         0,
         [&](const ArchiveListing &zip, const MapzipRun &) {
             EXPECT_TRUE(zip.names().contains(QStringLiteral("scenery-gfx/inka_2.bmp")));
             EXPECT_TRUE(years(zip).contains(QDate::currentDate().year())) << years(zip).size();
         }},
        {QStringLiteral("comment"),
         {QStringLiteral("--comment"), QStringLiteral("first\nsecond")},
         0,
         [](const ArchiveListing &zip, const MapzipRun &) {
             EXPECT_TRUE(zip.comment.contains("first\r\nsecond\r\n")) << zip.comment.data();
         }},
    };
    for (int level = 0; level <= 9; ++level) {
        cases.append({QStringLiteral("level %1").arg(level),
                      {QStringLiteral("--level"), QString::number(level)},
                      0,
                      [level](const ArchiveListing &zip, const MapzipRun &) {
                          for (const ArchiveEntry &entry : zip.entries)
                              EXPECT_EQ(entry.compressType, level == 0 ? 0 : 8)
                                  << entry.name.toStdString();
                      }});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString target = outPath(c.name + QStringLiteral(".zip"));
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"), target} +
                   defaultsArgs() + c.args);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        const ArchiveListing zip = readArchive(target);
        if (c.status != 1) {
            EXPECT_TRUE(zip.ok && zip.dataChecked) << zip.error.toStdString();
            EXPECT_TRUE(unzipTest(target));
        }
        c.check(zip, run);
    }
}

TEST_F(PackTest, ExcludeMatchesAnItemWithOrWithoutItsMarker) {
    const QString map = fixtureMap(QStringLiteral("ctf_Aftermath"));
    const struct {
        const char *exclude;
        const char *absent; // from the archive
        int named;          // times on standard error: as excluded when the game loads it
    } cases[] = {
        {"veg_grass_1.png", "scenery-gfx/veg_grass_1.png", 1},
        {"(!) veg_grass_5.png", "scenery-gfx/veg_grass_5.png", 0},
        {"veg_grass_5.png", "scenery-gfx/veg_grass_5.png", 0},
        {"(!) veg_grass_1.png", "scenery-gfx/veg_grass_1.png", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.exclude);
        const QString target = outPath(QStringLiteral("a.zip"));
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"), target,
                               QStringLiteral("--exclude"), QString::fromUtf8(c.exclude)} +
                   defaultsArgs());
        EXPECT_EQ(run.status, 3);
        EXPECT_FALSE(run.err.contains(QStringLiteral("warning"))) << run.err.toStdString();
        const QString absent = QString::fromUtf8(c.absent);
        EXPECT_EQ(run.err.count(absent), c.named) << run.err.toStdString();
        EXPECT_EQ(run.err.count(absent + QStringLiteral(": excluded")), c.named);
        EXPECT_FALSE(fileNames(readArchive(target)).contains(absent));
    }
    const MapzipRun unknown =
        mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"),
                           outPath(QStringLiteral("b.zip")), QStringLiteral("--exclude"),
                           QStringLiteral("nope.png")} +
               defaultsArgs());
    EXPECT_EQ(unknown.status, 3);
    EXPECT_TRUE(unknown.err.contains(
        QStringLiteral("mapzip pack: warning: no scenery nope.png on the add list")));
}

TEST_F(PackTest, PasswordFromStandardInputEncryptsEveryEntry) {
    const QString target = outPath(QStringLiteral("viet.zip"));
    const MapzipRun run =
        mapzip(QStringList{QStringLiteral("pack"), fixtureMap(QStringLiteral("ctf_Viet")),
                           QStringLiteral("-o"), target, QStringLiteral("--password-stdin"),
                           QStringLiteral("--no-texture")} +
                   defaultsArgs(),
               "pa55 word\r\nnot this\r\n"); // a line ended as on Windows
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const ArchiveListing zip = readArchive(target, "pa55 word");
    ASSERT_TRUE(zip.ok && zip.dataChecked) << zip.error.toStdString();
    EXPECT_EQ(fileNames(zip).filter(QStringLiteral("textures/")), QStringList());
    for (const ArchiveEntry &entry : zip.entries)
        EXPECT_TRUE(entry.encrypted || entry.name.endsWith(u'/')) << entry.name.toStdString();
    EXPECT_TRUE(unzipTest(target, "pa55 word"));
    EXPECT_FALSE(unzipTest(target, "guess"));
}

TEST_F(PackTest, ServerMapArchiveLayoutAndRefusals) {
    const QString map = fixtureMap(QStringLiteral("ctf_Viet"));
    // Saved under another name, the map is stored under the archive's name: the game's rule.
    const QString renamed = outPath(QStringLiteral("ctf_Viet_v2.smap"));
    MapzipRun run = mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"), renamed,
                                       QStringLiteral("-q")} +
                           defaultsArgs());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, sha1Line(renamed, renamed));
    EXPECT_TRUE(run.err.startsWith(
        QStringLiteral("mapzip pack: note: The map is stored as maps/ctf_Viet_v2.pms")))
        << run.err.toStdString();
    QStringList names = fileNames(readArchive(renamed));
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("maps/ctf_Viet_v2.pms"),
                                  QStringLiteral("maps/ctf_Viet_v2_ReadMe.txt"),
                                  QStringLiteral("scenery-gfx/inka_2.bmp"),
                                  QStringLiteral("scenery-gfx/mnp-jungle5.bmp"),
                                  QStringLiteral("scenery-gfx/mnp-underground1.png"),
                                  QStringLiteral("scenery-gfx/mnp-underground2.png"),
                                  QStringLiteral("textures/xt_forrestdirtrock.png")}));

    // --format picks the same; the names must agree with it.
    const QString named = outPath(QStringLiteral("ctf_Viet.smap"));
    run = mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"), named,
                             QStringLiteral("--format"), QStringLiteral("smap")} +
                 defaultsArgs());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(fileNames(readArchive(named)).contains(QStringLiteral("maps/ctf_Viet.pms")));
    EXPECT_FALSE(run.out.contains(QStringLiteral("note")));

    const QString refused = outPath(QStringLiteral("refused.smap"));
    run = mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"), refused,
                             QStringLiteral("--password-stdin")} +
                     defaultsArgs(),
                 "secret\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("cannot have a password")))
        << run.err.toStdString();
    // Worded for the command line, not for the window's check box.
    EXPECT_TRUE(run.err.contains(QStringLiteral("Leave out --password-stdin")));
    EXPECT_FALSE(QFileInfo::exists(refused));
}

TEST_F(PackTest, SameInputsGiveTheSameBytes) {
    QStringList shown;
    for (const QString &name : {QStringLiteral("a.zip"), QStringLiteral("b.zip")}) {
        const QString target = outPath(name);
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack"), fixtureMap(QStringLiteral("htf_Dorothy")),
                               QStringLiteral("-o"), target, QStringLiteral("-q")} +
                   defaultsArgs());
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_EQ(run.out, sha1Line(target, target));
        shown << run.out.section(u' ', 1, 1);
    }
    EXPECT_EQ(readFile(outPath(QStringLiteral("a.zip"))),
              readFile(outPath(QStringLiteral("b.zip"))));
    EXPECT_EQ(shown.at(0), shown.at(1));
}

TEST_F(PackTest, FailuresExitWithOneAndLeaveTheTargetAlone) {
    const QString map = fixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("x.zip"));
    writeBytes(target, "earlier");
    const QString fifo = outPath(QStringLiteral("fifo.pms"));
    runTool(QStringLiteral("mkfifo"), {fifo});
    const struct {
        QStringList args;
        QByteArray input;
        QString error;
    } cases[] = {
        {{map, QStringLiteral("-o"), outPath(QStringLiteral("none/x.zip"))}, {}, "none/x.zip"},
        {{outPath(QStringLiteral("no-such.pms")), QStringLiteral("-o"), target}, {}, "no-such.pms"},
        {{fifo, QStringLiteral("-o"), target}, {}, "not a regular file"},
        {{map, QStringLiteral("-o"), target, QStringLiteral("--password-stdin")}, "\n", "empty"},
        {{map, QStringLiteral("-o"), target, QStringLiteral("--password-file"),
          outPath(QStringLiteral("no-such"))},
         {},
         "no-such"},
        // Option files are read only when they are regular files of sane size.
        {{map, QStringLiteral("-o"), target, QStringLiteral("--password-file"),
          QStringLiteral("/dev/zero")},
         {},
         "not a regular file"},
        {{map, QStringLiteral("-o"), target, QStringLiteral("--password-stdin")},
         QByteArray(5000, 'a'),
         "longer than 4096 bytes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack")} + c.args + defaultsArgs(), c.input);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(c.error)) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("sha1")));
    }
    EXPECT_EQ(readFile(target), QByteArray("earlier"));
    EXPECT_FALSE(QFileInfo::exists(outPath(QStringLiteral("none"))));

    // The sha1 line lost on a full disk: no success.
    QProcess full;
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    startMapzip(full, QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"), target} +
                          defaultsArgs());
    const MapzipRun lost = finishMapzip(full);
    EXPECT_EQ(lost.status, 1);
    EXPECT_TRUE(lost.err.contains(QStringLiteral("standard output could not be written")));
}

// Only a missing path or a regular file that is none of the inputs is replaced; whatever else
// is at the target stays as it was. Every input is tried as the target: the map, each image,
// the option files, and with --staging the staging tree and its lock.
TEST_F(PackTest, OddTargetsAreRefusedAndLeftAsTheyWere) {
    namespace fs = std::filesystem;
    const QString game = outPath(QStringLiteral("game"));
    copyFixtureGame(game);
    writeBytes(game + QStringLiteral("/textures/edges/xt_forrestdirtrock.png"), "edge");
    const QString map = outPath(QStringLiteral("game/maps/ctf_Viet.pms"));
    const QString password = outPath(QStringLiteral("password"));
    writeBytes(password, "secret\n");
    const QString staging = outPath(QStringLiteral("staging"));
    const QStringList withStaging{QStringLiteral("--staging"), staging};
    ASSERT_EQ(mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"),
                                 outPath(QStringLiteral("staged.zip"))} +
                     withStaging + defaultsArgs())
                  .status,
              0);
    const QString regular = outPath(QStringLiteral("regular.zip"));
    writeBytes(regular, "kept");
    const QString defaults = outPath(QStringLiteral("stock.zip")); // any name will do
    ASSERT_TRUE(QFile::copy(testDataPath(QStringLiteral("defaults.txt")), defaults));
    QString device = outPath(QStringLiteral("device.zip"));
    if (QProcess::execute(QStringLiteral("mknod"), {device, QStringLiteral("c"), "1", "3"}) != 0) {
        // Only the superuser makes devices; a plain user cannot replace /dev/null either.
        ASSERT_FALSE(QFileInfo(QStringLiteral("/dev")).isWritable());
        device = QStringLiteral("/dev/null");
    }
    const QString fifo = outPath(QStringLiteral("fifo.zip"));
    runTool(QStringLiteral("mkfifo"), {fifo});
    const QString socket = outPath(QStringLiteral("socket.zip"));
    runTool(QStringLiteral(MAPZIP_PYTHON),
            {"-c", "import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])", socket});
    const QString link = outPath(QStringLiteral("link.zip"));
    ASSERT_TRUE(QFile::link(regular, link));
    const QString sameAsMap = outPath(QStringLiteral("same-as-map.zip"));
    runTool(QStringLiteral("ln"), {map, sameAsMap});
    const QString sameAsTexture = outPath(QStringLiteral("same-as-texture.zip"));
    runTool(QStringLiteral("ln"),
            {game + QStringLiteral("/textures/xt_forrestdirtrock.png"), sameAsTexture});
    QDir().mkpath(outPath(QStringLiteral("folder.zip")));
    const char *const made = "which the archive is made from";
    const struct {
        QString target;
        const char *said;
        QStringList args = {};
    } cases[] = {
        {device, "is a device"},
        {fifo, "is a FIFO"},
        {socket, "is a socket"},
        {outPath(QStringLiteral("folder.zip")), "is a folder"},
        {link, "is a symbolic link"},
        // Bad usage, before anything is read: no map, image or lock is ever an archive's name.
        {map, "must end in .zip or .smap, not .pms"},
        {game + QStringLiteral("/scenery-gfx/mnp-underground1.png"), "not .png"},
        {game + QStringLiteral("/textures/edges/xt_forrestdirtrock.png"), "not .png"},
        {staging + QStringLiteral("/staging.lock"), "not .lock", withStaging},
        {sameAsMap, made},
        {sameAsTexture, made},
        {defaults, made},
        {password, made, {QStringLiteral("--password-file"), password}},
        {staging + QStringLiteral("/TEMP/ctf_Viet.zip"), "lies in the staging folder", withStaging},
        {staging + QStringLiteral("/TEMP/maps/x.zip"), "lies in the staging folder", withStaging},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target.toStdString());
        const fs::path target(QFile::encodeName(c.target).toStdString());
        const fs::file_type type = fs::symlink_status(target).type();
        const QByteArray content = type == fs::file_type::regular ? readFile(c.target) : "";
        const MapzipRun run = mapzip(QStringList{QStringLiteral("pack"), map, QStringLiteral("-o"),
                                                 c.target, QStringLiteral("--defaults"), defaults} +
                                     c.args);
        const QString suffix = QFileInfo(c.target).suffix();
        EXPECT_EQ(run.status, suffix.isEmpty() || suffix == QLatin1String("zip") ? 1 : 2);
        EXPECT_TRUE(run.err.contains(QLatin1String(c.said))) << run.err.toStdString();
        EXPECT_EQ(fs::symlink_status(target).type(), type);
        // The lock holds the number of the run that took it last.
        const QByteArray now = type == fs::file_type::regular ? readFile(c.target) : "";
        EXPECT_TRUE(now == content ||
                    (c.target.endsWith(QStringLiteral(".lock")) && !now.startsWith("PK")));
    }
    EXPECT_EQ(readFile(regular), QByteArray("kept"));
}

// Map and archive paths may hold any character, line breaks too: none is dropped.
TEST_F(PackTest, PathsAreUsedAsGivenLineBreaksIncluded) {
    copyFixtureGame(outPath(QStringLiteral("game\nA")));
    const QString target = outPath(QStringLiteral("out\r\n.zip"));
    const MapzipRun run = mapzip(QStringList{QStringLiteral("pack"),
                                             outPath(QStringLiteral("game\nA/maps/ctf_Viet.pms")),
                                             QStringLiteral("-o"), target} +
                                 defaultsArgs());
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(fileNames(readArchive(target)).contains(QStringLiteral("maps/ctf_Viet.PMS")));
}

TEST_F(PackTest, BadUsageExitsWithTwoAndAUsageLine) {
    const QString map = fixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("x.zip"));
    const QString dir = outPath(QStringLiteral("dir"));
    const QList<QStringList> bad = {
        {},
        {map},
        {map, QStringLiteral("-o")},
        {QStringLiteral("-o"), target},
        {map, QStringLiteral("-o"), target, QStringLiteral("--level"), QStringLiteral("10")},
        {map, QStringLiteral("-o"), target, QStringLiteral("--frobnicate")},
        {map, map, QStringLiteral("-o"), target},
        {map, QStringLiteral("-o"), out.path() + QLatin1Char('/')},
        {map, QStringLiteral("-o"), target, QStringLiteral("--password-stdin"),
         QStringLiteral("--password-file"), target},
        {map, QStringLiteral("-o"), target, QStringLiteral("--format"), QStringLiteral("smap")},
        {map, QStringLiteral("-o"), outPath(QStringLiteral("x.smap")), QStringLiteral("--format"),
         QStringLiteral("zip")},
        {map, QStringLiteral("-o"), target, QStringLiteral("--format"), QStringLiteral("rar")},
        {map, QStringLiteral("-o"), outPath(QStringLiteral("p.tar"))},
        {map, QStringLiteral("-o"), target, QStringLiteral("-j"), QStringLiteral("2")},
        {map, QStringLiteral("-o"), target, QStringLiteral("-d"), dir},
        {map, QStringLiteral("-d"), dir, QStringLiteral("-j"), QStringLiteral("0")},
        {map, QStringLiteral("-d"), dir, QStringLiteral("--staging"), dir},
        {map, QStringLiteral("-o"), target, QStringLiteral("--engine-threads"),
         QStringLiteral("x")},
    };
    for (const QStringList &args : bad) {
        const MapzipRun run = mapzip(QStringList{QStringLiteral("pack")} + args);
        EXPECT_EQ(run.status, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("usage: mapzip pack MAP -o OUT")))
            << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(dir));
    EXPECT_FALSE(QFileInfo::exists(outPath(QStringLiteral("p.tar"))));
}

// The game refuses a map with a count over its limit: inspect, pack (exit 3, archive written)
// and verify name it. A map at every limit, and the game's own maps, are not flagged.
TEST_F(PackTest, MapsOverTheGamesLimitsAreNamedButPacked) {
    const struct {
        const char *block;
        int count;
        void (*set)(MapSpec &, int);
    } cases[] = {
        {"polygons", 5001, [](MapSpec &s, int n) { s.polygonCount = n; }},
        {"sectors", 26, [](MapSpec &s, int n) { s.sectorGrid = n; }},
        {"polygons in one sector", 5001, [](MapSpec &s, int n) { s.sectorCounts[77] = qint16(n); }},
        {"props", 501, [](MapSpec &s, int n) { s.props->resize(n, MapSpec::Prop{0}); }},
        {"sceneries", 501, [](MapSpec &s, int n) { s.sceneries.resize(n); }},
        {"colliders", 129, [](MapSpec &s, int n) { (*s.laterCounts)[0] = n; }},
        {"spawn points", 256, [](MapSpec &s, int n) { (*s.laterCounts)[1] = n; }},
        {"waypoints", 5001, [](MapSpec &s, int n) { (*s.laterCounts)[2] = n; }},
    };
    MapSpec base; // no image to find: only a count can make a build incomplete
    base.props.emplace();
    base.laterCounts.emplace();
    MapSpec atLimits = base;
    QStringList maps{outPath("maps/m0.pms")};
    for (const auto &c : cases) {
        c.set(atLimits, c.count - 1);
        MapSpec over = base;
        c.set(over, c.count);
        maps << outPath(QStringLiteral("maps/m%1.pms").arg(maps.size()));
        writeMap(maps.last(), over);
    }
    writeMap(maps.first(), atLimits);
    const qsizetype written = maps.size();
    maps << fixtureMap("ctf_Viet") << fixtureMap("htf_Dorothy") << fixtureMap("ctf_Aftermath");
    const QList<QJsonObject> inspected =
        jsonLines(mapzip(QStringList{"inspect", "--json"} + maps).out);
    ASSERT_EQ(inspected.size(), maps.size());
    for (qsizetype i = 0; i < inspected.size(); ++i) {
        const auto *c = i >= 1 && i < written ? &cases[i - 1] : nullptr;
        SCOPED_TRACE(c ? c->block : "at every limit, or the game's own map");
        EXPECT_EQ(inspected[i]["refused"].toArray(),
                  (c ? QJsonArray{QJsonObject{
                           {"block", c->block}, {"count", c->count}, {"limit", c->count - 1}}}
                     : QJsonArray()));
        if (i >= written)
            continue;
        const QString line =
            c ? QString::asprintf("the game will not load this map: %d %s (at most %d)\n", c->count,
                                  c->block, c->count - 1)
              : "never";
        const QString archive = outPath(QStringLiteral("m%1.zip").arg(i));
        const MapzipRun pack = mapzip(QStringList{"pack", maps[i], "-o", archive, "-q"});
        EXPECT_EQ(pack.status, c ? 3 : 0) << pack.err.toStdString();
        EXPECT_EQ(pack.err.contains("mapzip pack: " + line), c != nullptr);
        EXPECT_EQ(fileNames(readArchive(archive)).filter(".PMS").size(), 1);
        const MapzipRun verify = mapzip(QStringList{"verify", archive});
        EXPECT_EQ(verify.status, c ? 3 : 0);
        EXPECT_EQ(verify.out.contains(".PMS: " + line), c != nullptr) << verify.out.toStdString();
    }
}
