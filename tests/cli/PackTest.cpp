// mapzip pack run as a program; archives read back with Python's zipfile and unzip -t.

#include "support/MapWriter.h"
#include "support/TestSupport.h"
#include "support/ZipVerify.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct PackRun {
    int exitCode = -1;
    QString out;
    QString err;
};

PackRun startAndWait(QProcess &process) {
    PackRun run;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "mapzip did not finish: " << process.errorString().toStdString();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

void start(QProcess &process, const QStringList &args) {
    process.start(QStringLiteral(MAPZIP_EXE), QStringList{QStringLiteral("pack")} + args);
}

PackRun pack(const QStringList &args, const QByteArray &input = {}) {
    QProcess process;
    start(process, args);
    if (!process.waitForStarted(30000)) {
        ADD_FAILURE() << "mapzip did not start";
        return {};
    }
    process.write(input);
    process.closeWriteChannel();
    return startAndWait(process);
}

QString fixtureMap(const QString &name) {
    return testDataPath(QStringLiteral("soldat/maps/") + name + QStringLiteral(".pms"));
}
QStringList defaultsArgs() {
    return {QStringLiteral("--defaults"), testDataPath(QStringLiteral("defaults.txt"))};
}

QStringList fileNames(const ArchiveListing &listing) {
    QStringList names = listing.names();
    names.removeIf([](const QString &name) { return name.endsWith(QLatin1Char('/')); });
    return names;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class PackTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(out.isValid()); }
    QString outPath(const QString &name) const { return out.path() + QLatin1Char('/') + name; }
    QTemporaryDir out;
};

} // namespace

TEST_F(PackTest, PacksEveryFixtureMap) {
    const struct {
        const char *map;
        const char *texture; // empty: the map's texture is not in the fixture
        int sceneries;       // found on disk, so packed
    } cases[] = {{"ctf_Viet", "Textures/xt_forrestdirtrock.png", 2},
                 {"htf_Dorothy", "Textures/dorothy.png", 5},
                 {"ctf_Aftermath", "", 26}};
    for (const auto &c : cases) {
        const QString map = QString::fromLatin1(c.map);
        SCOPED_TRACE(c.map);
        const QString target = outPath(map + QStringLiteral(".zip"));
        const PackRun run =
            pack(QStringList{fixtureMap(map), QStringLiteral("-o"), target} + defaultsArgs());
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("Path: ") + target)) << run.out.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();

        const ArchiveListing zip = readArchive(target);
        ASSERT_TRUE(zip.ok) << zip.error.toStdString();
        const QStringList names = fileNames(zip);
        EXPECT_TRUE(names.contains(QStringLiteral("Maps/") + map + QStringLiteral(".PMS")));
        EXPECT_TRUE(names.contains(QStringLiteral("Maps/") + map + QStringLiteral("_ReadMe.txt")));
        EXPECT_EQ(names.filter(QStringLiteral("Scenery-gfx/")).size(), c.sceneries);
        const QStringList textures = names.filter(QStringLiteral("Textures/"));
        if (*c.texture)
            EXPECT_EQ(textures, QStringList{QString::fromLatin1(c.texture)});
        else
            EXPECT_TRUE(textures.isEmpty());
        EXPECT_TRUE(unzipTest(target));
    }
}

TEST_F(PackTest, AppliesExcludesSettingsAndAPasswordFromStandardInput) {
    const QString target = outPath(QStringLiteral("viet.zip"));
    // The excluded items name one scenery bare and one as listed, marker included.
    const PackRun run =
        pack(QStringList{fixtureMap(QStringLiteral("ctf_Viet")), QStringLiteral("-o"), target,
                         QStringLiteral("--exclude"), QStringLiteral("mnp-jungle5.bmp"),
                         QStringLiteral("--exclude"), QStringLiteral("(!) mnp-underground1.bmp"),
                         QStringLiteral("--no-texture"), QStringLiteral("--level"),
                         QStringLiteral("0"), QStringLiteral("--comment"), QStringLiteral("hello"),
                         QStringLiteral("--password-stdin")} +
                 defaultsArgs(),
             "pa55 word\n");
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();

    const ArchiveListing zip = readArchive(target, "pa55 word");
    ASSERT_TRUE(zip.ok) << zip.error.toStdString();
    EXPECT_TRUE(zip.dataChecked);
    EXPECT_EQ(fileNames(zip), (QStringList{QStringLiteral("Maps/ctf_Viet.PMS"),
                                           QStringLiteral("Maps/ctf_Viet_ReadMe.txt"),
                                           QStringLiteral("Scenery-gfx/inka_2.bmp")}));
    for (const ArchiveEntry &entry : zip.entries) {
        if (!entry.name.endsWith(QLatin1Char('/'))) {
            EXPECT_TRUE(entry.encrypted) << entry.name.toStdString();
            EXPECT_EQ(entry.compressType, 0) << entry.name.toStdString();
        }
    }
    EXPECT_TRUE(zip.comment.startsWith("Authors Comments: hello\r\n"));
    EXPECT_TRUE(zip.comment.contains("Sceneries Added: 2/2\r\n"));
    EXPECT_TRUE(unzipTest(target, "pa55 word"));
    EXPECT_FALSE(unzipTest(target, "guess"));
}

TEST_F(PackTest, TwoRunsAtOnceDoNotMeet) {
    QProcess first;
    QProcess second;
    start(first, QStringList{fixtureMap(QStringLiteral("ctf_Viet")), QStringLiteral("-o"),
                             outPath(QStringLiteral("a.zip"))} +
                     defaultsArgs());
    start(second, QStringList{fixtureMap(QStringLiteral("htf_Dorothy")), QStringLiteral("-o"),
                              outPath(QStringLiteral("b.zip"))} +
                      defaultsArgs());
    const PackRun a = startAndWait(first);
    const PackRun b = startAndWait(second);
    ASSERT_EQ(a.exitCode, 0) << a.err.toStdString();
    ASSERT_EQ(b.exitCode, 0) << b.err.toStdString();
    const QStringList namesA = fileNames(readArchive(outPath(QStringLiteral("a.zip"))));
    const QStringList namesB = fileNames(readArchive(outPath(QStringLiteral("b.zip"))));
    EXPECT_EQ(namesA.filter(QStringLiteral("Maps/")),
              (QStringList{QStringLiteral("Maps/ctf_Viet.PMS"),
                           QStringLiteral("Maps/ctf_Viet_ReadMe.txt")}));
    EXPECT_EQ(namesB.filter(QStringLiteral("Maps/")),
              (QStringList{QStringLiteral("Maps/htf_Dorothy.PMS"),
                           QStringLiteral("Maps/htf_Dorothy_ReadMe.txt")}));
}

TEST_F(PackTest, FailuresExitWithOneAndLeaveTheTargetAlone) {
    // The target's folder does not exist.
    const QString missing = outPath(QStringLiteral("none/x.zip"));
    PackRun run =
        pack(QStringList{fixtureMap(QStringLiteral("ctf_Viet")), QStringLiteral("-o"), missing} +
             defaultsArgs());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(missing)) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains(QStringLiteral("100% Complete")));
    EXPECT_FALSE(QFileInfo::exists(missing));

    // A map that cannot be read.
    const QString target = outPath(QStringLiteral("x.zip"));
    writeBytes(target, "earlier");
    run = pack(QStringList{outPath(QStringLiteral("no-such.pms")), QStringLiteral("-o"), target} +
               defaultsArgs());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(run.err.isEmpty());

    // An empty password from standard input.
    run = pack(QStringList{fixtureMap(QStringLiteral("ctf_Viet")), QStringLiteral("-o"), target,
                           QStringLiteral("--password-stdin")} +
                   defaultsArgs(),
               "\n");
    EXPECT_EQ(run.exitCode, 1);

    // A password file that cannot be read.
    run = pack(QStringList{fixtureMap(QStringLiteral("ctf_Viet")), QStringLiteral("-o"), target,
                           QStringLiteral("--password-file"), outPath(QStringLiteral("no-such"))} +
               defaultsArgs());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("no-such"))) << run.err.toStdString();
    EXPECT_EQ(readFile(target), QByteArray("earlier"));
}

TEST_F(PackTest, BadUsageExitsWithTwoAndAUsageLine) {
    const QString map = fixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("x.zip"));
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
    };
    for (const QStringList &args : bad) {
        const PackRun run = pack(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("usage: mapzip pack MAP -o OUT.zip")))
            << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(target));

    const PackRun help = pack({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--password-stdin")));
}
