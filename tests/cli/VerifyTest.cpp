// mapzip verify over archives of every kind: ours, other tools', incomplete, damaged.

#include "CliSupport.h"

#include <QJsonArray>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray fixture(const QString &relative) {
    return readFile(testDataPath(QStringLiteral("soldat/") + relative));
}

// The Viet map with everything it needs, named the way `case` says.
QList<std::pair<QString, QByteArray>> vietEntries(const QString &maps, const QString &scenery,
                                                  const QString &textures) {
    return {{maps + QStringLiteral("/ctf_Viet.Pms"), fixture(QStringLiteral("maps/ctf_Viet.pms"))},
            {maps + QStringLiteral("/ctf_viet_README.txt"), "readme"},
            {scenery + QStringLiteral("/INKA_2.BMP"),
             fixture(QStringLiteral("scenery-gfx/inka_2.bmp"))},
            {scenery + QStringLiteral("/mnp-jungle5.bmp"), "x"},
            // The map writes .bmp; the game takes the .png first.
            {scenery + QStringLiteral("/MNP-underground1.png"), "x"},
            {scenery + QStringLiteral("/mnp-underground2.png"), "x"},
            {textures + QStringLiteral("/xt_forrestdirtrock.PNG"), "x"}};
}

// Writes `entries` to `folder` and zips them there with Info-ZIP's zip, stored, encrypted with
// "pw" as `encrypted` says (traditional encryption: a header before the data, a data descriptor
// after it); the encrypted ones are added last.
void infoZip(const QString &folder, const QString &archive,
             const QList<std::pair<QString, QByteArray>> &entries,
             const std::function<bool(const QString &)> &encrypted) {
    QStringList plain, secret;
    for (const auto &[name, data] : entries) {
        writeBytes(folder + QLatin1Char('/') + name, data);
        (encrypted(name) ? secret : plain) << name;
    }
    for (const auto &[names, password] :
         {std::pair{plain, QStringList()}, std::pair{secret, QStringList{"-e", "-P", "pw"}}}) {
        if (names.isEmpty())
            continue;
        QProcess zip;
        zip.setWorkingDirectory(folder);
        zip.start(QStringLiteral("zip"),
                  QStringList{"-q", "-X", "-0"} + password + QStringList{archive} + names);
        ASSERT_TRUE(zip.waitForFinished(60000) && zip.exitCode() == 0)
            << zip.readAllStandardError().toStdString();
    }
}

QStringList strings(const QJsonValue &array, const QString &key = {}) {
    QStringList list;
    for (const QJsonValue &value : array.toArray())
        list << (key.isEmpty() ? value.toString() : value[key].toString());
    return list;
}

class VerifyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString pack(const QString &map, const QString &name, const QStringList &extra = {},
                 const QByteArray &input = {}) {
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("pack"), fixtureMap(map), QStringLiteral("-o"),
                               path(name), QStringLiteral("-q")} +
                       defaultsArgs() + extra,
                   input);
        EXPECT_TRUE(run.status == 0 || run.status == 3) << run.err.toStdString();
        return path(name);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(VerifyTest, ReportsWhatTheGameWouldMissInAnyArchive) {
    const QString upper = QStringLiteral("Scenery-GFX");
    struct Case {
        QString name;
        QString archive;
        QStringList args;
        int status;
        std::function<void(const QJsonObject &)> check;
        QByteArray input = {}; // standard input: a password
    };
    auto noFindings = [](const QJsonObject &o) {
        EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("name")), QStringList());
        EXPECT_EQ(strings(o[QStringLiteral("unused")]), QStringList());
        EXPECT_EQ(o[QStringLiteral("badEntries")].toArray().size(), 0);
    };
    const QString foreign = path(QStringLiteral("foreign.zip"));
    writeForeignZip(foreign,
                    vietEntries(QStringLiteral("MAPS"), upper, QStringLiteral("textures")) +
                        QList<std::pair<QString, QByteArray>>{{QStringLiteral("notes.txt"), "hi"}});
    // The same archive as a server map archive: the game matches its folder names exactly.
    const QString foreignSmap = path(QStringLiteral("ctf_Viet.smap"));
    QFile::copy(foreign, foreignSmap);
    const QString exact = path(QStringLiteral("exact.v2.smap"));
    writeForeignZip(exact, vietEntries(QStringLiteral("maps"), QStringLiteral("scenery-gfx"),
                                       QStringLiteral("textures")));
    const QString encrypted = pack(QStringLiteral("ctf_Viet"), QStringLiteral("e.zip"),
                                   {QStringLiteral("--password-stdin")}, "pw\n");
    // Another tool's encrypted archives: every entry, or only the map (damaged then).
    const QString infoZipped = path(QStringLiteral("info-zip.zip"));
    const QList<std::pair<QString, QByteArray>> viet = vietEntries(
        QStringLiteral("maps"), QStringLiteral("scenery-gfx"), QStringLiteral("textures"));
    infoZip(path(QStringLiteral("all")), infoZipped, viet, [](const QString &) { return true; });
    const QString damagedMap = path(QStringLiteral("damaged-map.zip"));
    infoZip(path(QStringLiteral("map")), damagedMap, viet,
            [](const QString &name) { return name.endsWith(QLatin1String(".Pms")); });
    QByteArray damaged = readFile(damagedMap);
    const qsizetype inMap = damaged.indexOf("maps/ctf_Viet.Pms") + 1000;
    damaged[inMap] = char(damaged[inMap] ^ 0x55);
    writeBytes(damagedMap, damaged);
    const QString bare = path(QStringLiteral("bare.zip"));
    writeForeignZip(bare, {{QStringLiteral("Maps/ctf_Viet.pms"),
                            fixture(QStringLiteral("maps/ctf_Viet.pms"))}});

    const QList<Case> cases = {
        {QStringLiteral("ours"),
         pack(QStringLiteral("ctf_Viet"), QStringLiteral("v.zip")),
         {},
         0,
         [&](const QJsonObject &o) {
             noFindings(o);
             EXPECT_EQ(strings(o[QStringLiteral("maps")]),
                       QStringList{QStringLiteral("maps/ctf_Viet.PMS")});
         }},
        {QStringLiteral("ours, renamed server archive"),
         pack(QStringLiteral("ctf_Viet"), QStringLiteral("ctf_Viet_v2.smap")),
         {},
         0,
         noFindings},
        {QStringLiteral("ours, incomplete"),
         pack(QStringLiteral("ctf_Aftermath"), QStringLiteral("a.zip")),
         {},
         3,
         // Only the texture: every scenery missing from the game folder is one no prop shows.
         [](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("kind")),
                       QStringList{QStringLiteral("texture")});
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("name")),
                       QStringList{QStringLiteral("grunge9.png")});
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("map")),
                       QStringList{QStringLiteral("maps/ctf_Aftermath.PMS")});
         }},
        {QStringLiteral("foreign, any letter case"),
         foreign,
         {},
         0,
         [](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("name")),
                       QStringList());
             EXPECT_EQ(strings(o[QStringLiteral("unused")]),
                       QStringList{QStringLiteral("notes.txt")});
         }},
        {QStringLiteral("foreign server archive, folders not lower case"),
         foreignSmap,
         {},
         3,
         [&](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("name")),
                       (QStringList{QStringLiteral("inka_2.bmp"), QStringLiteral("mnp-jungle5.bmp"),
                                    QStringLiteral("mnp-underground2.bmp"),
                                    QStringLiteral("mnp-underground1.bmp"),
                                    QStringLiteral("maps/ctf_Viet.pms")}));
             EXPECT_EQ(strings(o[QStringLiteral("unused")]).filter(upper).size(), 4);
         }},
        // The archive is named exact.v2.smap: the server looks for maps/exact.v2.pms in it.
        {QStringLiteral("foreign server archive, lower case"),
         exact,
         {},
         3,
         [](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("name")),
                       QStringList{QStringLiteral("maps/exact.v2.pms")});
         }},
        {QStringLiteral("only the map"),
         bare,
         {},
         3,
         [](const QJsonObject &o) {
             const QStringList kinds =
                 strings(o[QStringLiteral("missing")], QStringLiteral("kind"));
             EXPECT_EQ(kinds, (QStringList{QStringLiteral("readme"), QStringLiteral("scenery"),
                                           QStringLiteral("scenery"), QStringLiteral("scenery"),
                                           QStringLiteral("scenery"), QStringLiteral("texture")}));
         }},
        // The game folder's own images count.
        {QStringLiteral("only the map, for a game folder that has the images"),
         bare,
         {QStringLiteral("--game"), testDataPath(QStringLiteral("soldat"))},
         3,
         [](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("missing")], QStringLiteral("kind")),
                       QStringList{QStringLiteral("readme")});
         }},
        // Without the password: map and readme are there by name, nothing else is known.
        {QStringLiteral("encrypted"),
         encrypted,
         {},
         0,
         [](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("unchecked")]).size(), 7);
             EXPECT_EQ(strings(o[QStringLiteral("maps")]),
                       QStringList{QStringLiteral("maps/ctf_Viet.PMS")});
         }},
        {QStringLiteral("encrypted, with its password"),
         encrypted,
         {QStringLiteral("--password-stdin")},
         0,
         [&](const QJsonObject &o) {
             noFindings(o);
             EXPECT_EQ(strings(o[QStringLiteral("unchecked")]), QStringList());
         },
         "pw\n"},
        {QStringLiteral("another tool's, encrypted and stored, with its password"),
         infoZipped,
         {QStringLiteral("--password-stdin")},
         0,
         noFindings,
         "pw\n"},
        // The password opens the map's header: the damage is the map's, not the password's.
        {QStringLiteral("another tool's, the map alone encrypted and damaged"),
         damagedMap,
         {QStringLiteral("--password-stdin")},
         3,
         [](const QJsonObject &o) {
             EXPECT_EQ(strings(o[QStringLiteral("badEntries")], QStringLiteral("entry")),
                       QStringList{QStringLiteral("maps/ctf_Viet.Pms")});
         },
         "pw\n"},
        {QStringLiteral("encrypted, wrong password"),
         encrypted,
         {QStringLiteral("--password-stdin")},
         1,
         [](const QJsonObject &o) {
             EXPECT_TRUE(o[QStringLiteral("error")].toString().startsWith(
                 QStringLiteral("the password is wrong")));
         },
         "guess\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("verify"), QStringLiteral("--json"), c.archive} +
                       defaultsArgs() + c.args,
                   c.input);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        const auto objects = jsonLines(run.out);
        ASSERT_EQ(objects.size(), 1) << run.out.toStdString();
        EXPECT_EQ(objects[0][QStringLiteral("status")].toInt(), c.status);
        EXPECT_EQ(objects[0][QStringLiteral("archive")].toString(), c.archive);
        c.check(objects[0]);
    }
    const MapzipRun plain =
        mapzip(QStringList{QStringLiteral("verify"), encrypted} + defaultsArgs());
    EXPECT_EQ(plain.out, encrypted + QStringLiteral(": ok, 1 map(s); content NOT checked: 7 "
                                                    "encrypted entries judged by name only (give "
                                                    "the password with --password-stdin)\n"));
}

TEST_F(VerifyTest, DamagedArchivesAndEntries) {
    const QString good = pack(QStringLiteral("ctf_Viet"), QStringLiteral("good.zip"));
    const QByteArray bytes = readFile(good);
    const QString truncated = path(QStringLiteral("truncated.zip"));
    writeBytes(truncated, bytes.left(bytes.size() / 2));
    const QString garbage = path(QStringLiteral("garbage.smap"));
    writeBytes(garbage, QByteArray(4096, 'x'));
    // One byte changed inside the deflated data of the largest image.
    const QString damaged = path(QStringLiteral("damaged.zip"));
    QByteArray changed = bytes;
    const qsizetype at = changed.indexOf("scenery-gfx/mnp-underground1.png") + 200;
    changed[at] = char(changed[at] ^ 0x55);
    writeBytes(damaged, changed);

    const MapzipRun run = mapzip(
        QStringList{QStringLiteral("verify"), good, truncated, garbage, damaged, dir.path()} +
        defaultsArgs());
    EXPECT_EQ(run.status, 1);
    const QString shownGood = good + QStringLiteral(": ok, 1 map(s)\n");
    EXPECT_TRUE(run.out.startsWith(shownGood)) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(damaged +
                                 QStringLiteral(": scenery-gfx/mnp-underground1.png: unreadable")))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.endsWith(damaged + QStringLiteral(": incomplete, 2 problem(s)\n")))
        << run.out.toStdString();
    for (const QString &unreadable : {truncated, garbage, dir.path()}) {
        EXPECT_FALSE(run.out.contains(unreadable + QLatin1Char(':')));
        EXPECT_TRUE(
            run.err.contains(QStringLiteral("mapzip verify: ") + unreadable + QStringLiteral(": ")))
            << run.err.toStdString();
    }
    // Alone, a damaged entry is "something missing", not an unreadable archive.
    EXPECT_EQ(mapzip(QStringList{QStringLiteral("verify"), damaged} + defaultsArgs()).status, 3);
}

// Archives made to hurt, each written field by field: a clear verdict, no crash. (Time and
// memory for each: bench/hostile_bench.py.)
TEST_F(VerifyTest, HostileArchivesGetAClearVerdict) {
    const struct {
        const char *kind;
        const char *scale;
        int status;
        const char *said;
    } cases[] = {
        {"negative-size", "", 1, "maps/hostile.pms: its size is impossible"},
        // Each lie told both ways, and about entries held whole and streamed.
        {"stored-lie", "", 1, "stored as 100 bytes but claims 1073741824"},
        {"stored-long", "", 1, "stored as 200 bytes but claims 100"},
        {"crypt-long", "", 1, "stored as 212 bytes but claims 100 and an encryption header of 12"},
        {"deflate-lie", "", 1, "cannot unpack to the 536870912 it claims"},
        {"short-lie", "", 1, "maps/hostile.pms: it unpacks to more than its size of 10 bytes"},
        {"short-lie-big", "", 1, "a.png: it unpacks to more than its size of 5242880 bytes"},
        {"long-lie", "", 1, "a.png: it unpacks to 100 bytes, fewer than its size of 150"},
        {"past-end", "", 1, "textures/t.png: its data lies outside the archive"},
        {"into-directory", "", 1, "textures/t.png: its data lies outside the archive"},
        {"overlap", "2000:16", 1, " share data"},
        {"nested", "", 1, "textures/t.png and scenery-gfx/a.png share data"},
        {"touching", "", 1, "textures/t.png and scenery-gfx/a.png share data"},
        // 1 GiB in all is allowed (and read: these hold nothing); one byte more is not.
        {"at-limit", "", 1, "x0.png: it unpacks to 0 bytes, fewer than its size of 536870912"},
        {"over-limit", "", 1, "it unpacks to more than 1073741824 bytes"},
        {"descriptor-lie", "", 1, "a.png: its data descriptor contradicts its directory record"},
        {"many", "200000", 1, "it holds 200000 entries"},
        {"many", "65535", 3, "incomplete, 65535 problem(s)"},
        {"duplicate", "", 3, "scenery-gfx/a.png: 3 entries have this name"},
        {"traversal", "", 1, "unsafe entry ../../home/user/.bashrc"},
        // Sound, as independent readers find too.
        {"valid", "", 0, "ok, 1 map(s)"},
        {"zip64", "", 0, "ok, 1 map(s)"},
        {"zip64-offset", "", 0, "ok, 1 map(s)"},
        {"descriptor", "", 0, "ok, 1 map(s)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.scale);
        const QString archive = path(QStringLiteral("%1%2.zip").arg(c.kind, c.scale));
        runTool(QStringLiteral(MAPZIP_PYTHON),
                {QStringLiteral(MAPZIP_SOURCE_DIR "/tests/support/hostile_zips.py"),
                 QLatin1String(c.kind), archive, QLatin1String(c.scale)});
        const MapzipRun run =
            mapzip(QStringList{QStringLiteral("verify"), archive} + defaultsArgs());
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_EQ((run.out + run.err).count(QLatin1String(c.said)), 1)
            << run.out.left(300).toStdString() << run.err.toStdString();
        EXPECT_TRUE(c.status != 0 || (readArchive(archive).ok && unzipTest(archive)));
    }
    // Every unsafe name is named.
    const MapzipRun unsafe = mapzip({QStringLiteral("verify"), QStringLiteral("--json"),
                                     path(QStringLiteral("traversal.zip"))});
    const auto objects = jsonLines(unsafe.out);
    ASSERT_EQ(objects.size(), 1);
    EXPECT_EQ(strings(objects[0][QStringLiteral("unsafe")]),
              (QStringList{"../../home/user/.bashrc", "/etc/cron.d/x", "maps\\..\\y", "C:/x",
                           "maps/../../z"}));
}

// An archive the system cannot read is a failure that names the reason, never a gap: an I/O
// error while an entry is read (injected into the last reads, those of the entries' data),
// a link loop.
TEST_F(VerifyTest, ReadErrorsAreFailuresNamingTheirCause) {
    const QString archive = pack(QStringLiteral("ctf_Viet"), QStringLiteral("v.zip"));
    const QString loop = path(QStringLiteral("loop.zip"));
    ASSERT_TRUE(QFile::link(loop, loop));
    auto verify = [&](const QString &target, const QString &faults) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(MAPZIP_FAULTSHIM));
        environment.insert(QStringLiteral("FAULTS"), faults);
        environment.insert(QStringLiteral("FAULT_COUNTS"), path(QStringLiteral("counts")));
        process.setProcessEnvironment(environment);
        startMapzip(process, QStringList{QStringLiteral("verify"), target} + defaultsArgs());
        return finishMapzip(process);
    };
    ASSERT_EQ(verify(archive, {}).status, 0);
    const QByteArray counts = readFile(path(QStringLiteral("counts")));
    const qsizetype at = counts.indexOf("\nread ") + 6;
    const int reads = counts.mid(at, counts.indexOf('\n', at) - at).toInt();
    ASSERT_GT(reads, 10) << counts.toStdString();
    for (int n = reads - 5; n <= reads; ++n) {
        const MapzipRun run = verify(archive, QStringLiteral("read:%1:EIO").arg(n));
        EXPECT_EQ(run.status, 1) << n << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(archive + QStringLiteral(": ")) &&
                    run.err.contains(QStringLiteral(" could not be read: ")))
            << n << run.err.toStdString();
    }
    const MapzipRun looped = verify(loop, {});
    EXPECT_EQ(looped.status, 1);
    EXPECT_EQ(looped.err,
              QStringLiteral("mapzip verify: %1: Too many levels of symbolic links\n").arg(loop));
}
