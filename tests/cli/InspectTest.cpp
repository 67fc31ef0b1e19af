// mapzip inspect, run as users run it.

#include "support/MapWriter.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

ProgramRun mapzip(const QStringList &args) {
    QProcess process;
    process.start(QStringLiteral(MAPZIP_EXE), args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
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

QStringList keys(const QJsonObject &object) {
    QStringList names = object.keys();
    names.sort();
    return names;
}
} // namespace

TEST(MapzipInspect, JsonLinesForTheFixtureMaps) {
    const QString viet = testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms"));
    const QString dorothy = testDataPath(QStringLiteral("soldat/maps/htf_Dorothy.pms"));
    const ProgramRun run =
        mapzip({QStringLiteral("inspect"), QStringLiteral("--json"), QStringLiteral("--defaults"),
                testDataPath(QStringLiteral("defaults.txt")), viet, dorothy});
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    const auto objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 2);

    const QJsonObject first = objects[0];
    EXPECT_EQ(keys(first), (QStringList{QStringLiteral("description"), QStringLiteral("gameFolder"),
                                        QStringLiteral("map"), QStringLiteral("sceneries"),
                                        QStringLiteral("texture")}));
    EXPECT_EQ(first[QStringLiteral("map")].toString(), viet);
    EXPECT_EQ(first[QStringLiteral("description")].toString(), QStringLiteral("Viet"));
    EXPECT_EQ(first[QStringLiteral("texture")].toString(),
              QStringLiteral("xt_forrestdirtrock.png"));
    EXPECT_EQ(first[QStringLiteral("gameFolder")].toString(),
              testDataPath(QStringLiteral("soldat/")));
    EXPECT_EQ(first[QStringLiteral("sceneries")].toArray().toVariantList(),
              (QVariantList{QStringLiteral("inka_2.bmp"), QStringLiteral("mnp-jungle5.bmp"),
                            QStringLiteral("(!) mnp-underground2.bmp"),
                            QStringLiteral("(!) mnp-underground1.bmp")}));
    EXPECT_EQ(objects[1][QStringLiteral("sceneries")].toArray().size(), 27);
}

TEST(MapzipInspect, UnreadableMapGivesAnErrorObjectAndStatusOne) {
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("maps/broken.pms"));
    writeBytes(broken, QByteArray(300, '\0'));
    const QString good = testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms"));
    const ProgramRun run =
        mapzip({QStringLiteral("inspect"), QStringLiteral("--json"), broken, good});
    EXPECT_EQ(run.status, 1);
    const auto objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 2);
    EXPECT_EQ(keys(objects[0]), (QStringList{QStringLiteral("error"), QStringLiteral("map")}));
    EXPECT_EQ(objects[0][QStringLiteral("error")].toString(),
              broken + QStringLiteral(": file ends at byte 300, inside the sector lists"));
    EXPECT_TRUE(objects[1].contains(QStringLiteral("sceneries")));

    const ProgramRun plain = mapzip({QStringLiteral("inspect"), broken});
    EXPECT_EQ(plain.status, 1);
    EXPECT_TRUE(plain.err.contains(QStringLiteral("inside the sector lists")))
        << qPrintable(plain.err);
}

TEST(MapzipInspect, PlainOutputListsTheAddList) {
    const ProgramRun run = mapzip({QStringLiteral("inspect"), QStringLiteral("--defaults"),
                                   testDataPath(QStringLiteral("defaults.txt")),
                                   testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms"))});
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QStringLiteral("Description: Viet")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("    (!) mnp-underground1.bmp\n")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("Game folder: ") +
                                 testDataPath(QStringLiteral("soldat/"))));
}

TEST(MapzipInspect, MissingDefaultsWarnsButStillReads) {
    const ProgramRun run =
        mapzip({QStringLiteral("inspect"), QStringLiteral("--json"), QStringLiteral("--defaults"),
                QStringLiteral("/nonexistent/defaults.txt"),
                testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms"))});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.contains(QStringLiteral("warning"))) << qPrintable(run.err);
    const auto objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 1);
    // Without the stock list nothing is left out.
    EXPECT_GT(objects[0][QStringLiteral("sceneries")].toArray().size(), 4);
}

TEST(MapzipUsage, HelpVersionAndBadUsage) {
    ProgramRun run = mapzip({QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QStringLiteral("inspect")));
    run = mapzip({QStringLiteral("--version")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("mapzip 1.0")));
    run = mapzip({QStringLiteral("inspect"), QStringLiteral("--help")});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains(QStringLiteral("--json")));

    EXPECT_EQ(mapzip({}).status, 2);
    EXPECT_EQ(mapzip({QStringLiteral("frobnicate")}).status, 2);
    EXPECT_EQ(mapzip({QStringLiteral("inspect")}).status, 2);
    EXPECT_EQ(
        mapzip({QStringLiteral("inspect"), QStringLiteral("--bogus"), QStringLiteral("x.pms")})
            .status,
        2);
}
