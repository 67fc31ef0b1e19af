// mapzip inspect, run as users run it.

#include "CliSupport.h"
#include "support/MapWriter.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
QStringList keys(const QJsonObject &object) {
    QStringList names = object.keys();
    names.sort();
    return names;
}
} // namespace

TEST(MapzipInspect, JsonLinesForTheFixtureMaps) {
    const QString viet = fixtureMap(QStringLiteral("ctf_Viet"));
    const MapzipRun run = mapzip(QStringList{QStringLiteral("inspect"), QStringLiteral("--json"),
                                             viet, fixtureMap(QStringLiteral("htf_Dorothy")),
                                             fixtureMap(QStringLiteral("ctf_Aftermath"))} +
                                 defaultsArgs());
    ASSERT_EQ(run.status, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
    const auto objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 3);

    const QJsonObject first = objects[0];
    EXPECT_EQ(keys(first), (QStringList{QStringLiteral("description"), QStringLiteral("files"),
                                        QStringLiteral("gameFolder"), QStringLiteral("map"),
                                        QStringLiteral("refused"), QStringLiteral("sceneries"),
                                        QStringLiteral("texture"), QStringLiteral("unused")}));
    EXPECT_EQ(first[QStringLiteral("map")].toString(), viet);
    EXPECT_EQ(first[QStringLiteral("description")].toString(), QStringLiteral("Viet"));
    EXPECT_EQ(first[QStringLiteral("texture")].toString(),
              QStringLiteral("xt_forrestdirtrock.png"));
    EXPECT_EQ(first[QStringLiteral("gameFolder")].toString(),
              testDataPath(QStringLiteral("soldat/")));
    EXPECT_EQ(first[QStringLiteral("sceneries")].toArray().toVariantList(),
              (QVariantList{QStringLiteral("inka_2.bmp"), QStringLiteral("mnp-jungle5.bmp"),
                            QStringLiteral("mnp-underground2.bmp"),
                            QStringLiteral("mnp-underground1.bmp")}));
    // The name as the map writes it, and the file the game loads: the .png comes first.
    QStringList files;
    for (const QJsonValue &file : first[QStringLiteral("files")].toArray())
        files << file[QStringLiteral("name")].toString() + QStringLiteral(" -> ") +
                     file[QStringLiteral("found")].toString();
    EXPECT_EQ(files, (QStringList{
                         QStringLiteral("inka_2.bmp -> scenery-gfx/inka_2.bmp"),
                         QStringLiteral("mnp-jungle5.bmp -> scenery-gfx/mnp-jungle5.bmp"),
                         QStringLiteral("mnp-underground2.bmp -> scenery-gfx/mnp-underground2.png"),
                         QStringLiteral("mnp-underground1.bmp -> scenery-gfx/mnp-underground1.png"),
                         QStringLiteral("xt_forrestdirtrock.png -> "
                                        "textures/xt_forrestdirtrock.png")}));
    EXPECT_EQ(objects[1][QStringLiteral("sceneries")].toArray().size(), 27);
    EXPECT_TRUE(first[QStringLiteral("unused")].toArray().isEmpty());

    // Missing images: "(!) " on the list, null in files, the texture last.
    const QJsonObject aftermath = objects[2];
    const QJsonArray aftermathFiles = aftermath[QStringLiteral("files")].toArray();
    int missing = 0;
    for (const QJsonValue &file : aftermathFiles)
        missing += file[QStringLiteral("found")].isNull() ? 1 : 0;
    int marked = 0;
    for (const QJsonValue &item : aftermath[QStringLiteral("sceneries")].toArray())
        marked += item.toString().startsWith(QStringLiteral("(!) ")) ? 1 : 0;
    EXPECT_EQ(missing, marked + 1);
    EXPECT_EQ(aftermathFiles.last()[QStringLiteral("name")].toString(),
              aftermath[QStringLiteral("texture")].toString());
    EXPECT_TRUE(aftermathFiles.last()[QStringLiteral("found")].isNull());
    // Sceneries no prop shows, named as on the list: the game never loads them.
    const QVariantList unused = aftermath[QStringLiteral("unused")].toArray().toVariantList();
    EXPECT_EQ(unused.size(), 22);
    for (const char *name : {"(!) veg_grass_5.png", "(!) tree_bg_3.png", "(!) fx_vtt_smoke_15.png"})
        EXPECT_TRUE(unused.contains(QLatin1String(name))) << name;
    for (const QVariant &item : unused)
        EXPECT_TRUE(aftermath[QStringLiteral("sceneries")].toArray().contains(item.toString()));
}

TEST(MapzipInspect, WhatIsNotAReadableMapIsAnErrorAtOnce) {
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("maps/broken.pms"));
    writeBytes(broken, QByteArray("\x0b\0\0\0", 4) + QByteArray(296, '\0'));
    const QString notes = dir.filePath(QStringLiteral("maps/notes.pms"));
    writeBytes(notes, "my map's notes\n");
    const QString fifo = dir.filePath(QStringLiteral("maps/fifo.pms"));
    runTool(QStringLiteral("mkfifo"), {fifo});
    const struct {
        QString map;
        QString error;
    } cases[] = {
        {broken, broken + QStringLiteral(": file ends at byte 300, inside the sector lists")},
        {notes, QStringLiteral("This is not a Soldat map: ") + notes + QStringLiteral(" is text")},
        {fifo, QStringLiteral("not a regular file")},
        {dir.filePath(QStringLiteral("maps")), QStringLiteral("folder")},
        {dir.filePath(QStringLiteral("none.pms")), QStringLiteral("none.pms")},
    };
    const QString good = fixtureMap(QStringLiteral("ctf_Viet"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.map.toStdString());
        const MapzipRun run =
            mapzip({QStringLiteral("inspect"), QStringLiteral("--json"), c.map, good});
        EXPECT_EQ(run.status, 1);
        const auto objects = jsonLines(run.out);
        ASSERT_EQ(objects.size(), 2);
        EXPECT_EQ(keys(objects[0]), (QStringList{QStringLiteral("error"), QStringLiteral("map")}));
        EXPECT_TRUE(objects[0][QStringLiteral("error")].toString().contains(c.error))
            << objects[0][QStringLiteral("error")].toString().toStdString();
        EXPECT_TRUE(objects[1].contains(QStringLiteral("sceneries")));

        const MapzipRun plain = mapzip({QStringLiteral("inspect"), c.map});
        EXPECT_EQ(plain.status, 1);
        EXPECT_TRUE(plain.out.isEmpty());
        EXPECT_TRUE(plain.err.contains(c.error)) << qPrintable(plain.err);
    }
}

TEST(MapzipInspect, MapTextsNeverDriveTheTerminal) {
    QTemporaryDir dir;
    const QString map = dir.filePath(QStringLiteral("maps/evil.pms"));
    MapSpec spec;
    spec.description = "Red\x1b[31m\r\nFake: line\x81";
    spec.texture = "tex\x07.png";
    spec.sceneries = {{"a\x1b]0;title\x07.png", std::nullopt}};
    writeMap(map, spec);

    const MapzipRun plain = mapzip({QStringLiteral("inspect"), map});
    ASSERT_EQ(plain.status, 0) << qPrintable(plain.err);
    for (const QChar c : plain.out)
        EXPECT_TRUE(c == u'\n' || (c >= u' ' && c != u'\x7f' && (c < u'\x80' || c > u'\x9f')))
            << "control character " << int(c.unicode()) << " in:\n"
            << plain.out.toStdString();
    EXPECT_TRUE(plain.out.contains(QStringLiteral("Description: Red\\x1b[31m\\r\\nFake: line")))
        << plain.out.toStdString();
    // A texture missing on disk is marked as a missing scenery is, a found one is not.
    EXPECT_TRUE(plain.out.contains(QStringLiteral("Texture:     (!) tex\\x07.png")));
    EXPECT_TRUE(
        mapzip(QStringList{QStringLiteral("inspect"), fixtureMap(QStringLiteral("ctf_Viet"))})
            .out.contains(QStringLiteral("Texture:     xt_forrestdirtrock.png\n")));
    EXPECT_TRUE(plain.out.contains(QStringLiteral("(!) a\\x1b]0;title\\x07.png")));
    // No game folder around the map: said on standard error, not only by the markers.
    EXPECT_TRUE(plain.err.contains(QStringLiteral("warning: ") + map +
                                   QStringLiteral(": no game folder around the map")))
        << plain.err.toStdString();

    // JSON keeps the texts exactly, escaped the JSON way.
    const MapzipRun json = mapzip({QStringLiteral("inspect"), QStringLiteral("--json"), map});
    ASSERT_EQ(json.status, 0);
    EXPECT_FALSE(json.out.contains(QChar(0x1b)) || json.out.contains(QChar(0x81)));
    const auto objects = jsonLines(json.out);
    ASSERT_EQ(objects.size(), 1);
    EXPECT_EQ(objects[0][QStringLiteral("description")].toString(),
              QStringLiteral("Red\x1b[31m\r\nFake: line") + QChar(0x81));
}

TEST(MapzipInspect, MissingDefaultsWarnsButStillReads) {
    const MapzipRun run =
        mapzip({QStringLiteral("inspect"), QStringLiteral("--json"), QStringLiteral("--defaults"),
                QStringLiteral("/nonexistent/d.txt"), fixtureMap(QStringLiteral("ctf_Viet"))});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.err.contains(QStringLiteral("warning"))) << qPrintable(run.err);
    const auto objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 1);
    // Without the stock list nothing is left out.
    EXPECT_GT(objects[0][QStringLiteral("sceneries")].toArray().size(), 4);
}

TEST(MapzipUsage, HelpGoesToStandardOutputAndBadUsageExitsTwo) {
    const QStringList helps[] = {{QStringLiteral("--help")},
                                 {QStringLiteral("inspect"), QStringLiteral("--help")},
                                 {QStringLiteral("pack"), QStringLiteral("--help")},
                                 {QStringLiteral("verify"), QStringLiteral("--help")},
                                 {QStringLiteral("preview"), QStringLiteral("--help")}};
    for (const QStringList &args : helps) {
        const MapzipRun run = mapzip(args);
        EXPECT_EQ(run.status, 0) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.out.contains(QStringLiteral("Exit status"))) << run.out.toStdString();
        EXPECT_TRUE(run.err.isEmpty());
    }
    const MapzipRun version = mapzip({QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("mapzip 1.0")));

    const QStringList bad[] = {
        {},
        {QStringLiteral("frobnicate")},
        {QStringLiteral("inspect")},
        {QStringLiteral("inspect"), QStringLiteral("--bogus"), QStringLiteral("x.pms")},
        {QStringLiteral("verify")},
        {QStringLiteral("verify"), QStringLiteral("--game"), QStringLiteral("/nonexistent"),
         QStringLiteral("x.zip")},
        {QStringLiteral("preview"), QStringLiteral("x.pms")},
        {QStringLiteral("preview"), QStringLiteral("x.pms"), QStringLiteral("y.pms"),
         QStringLiteral("-o"), QStringLiteral("x.png")},
        {QStringLiteral("preview"), QStringLiteral("x.pms"), QStringLiteral("-o"),
         QStringLiteral("x.png"), QStringLiteral("--width"), QStringLiteral("15")},
        {QStringLiteral("preview"), QStringLiteral("x.pms"), QStringLiteral("-o"),
         QStringLiteral("x.png"), QStringLiteral("--width"), QStringLiteral("8193")},
    };
    for (const QStringList &args : bad) {
        const MapzipRun run = mapzip(args);
        EXPECT_EQ(run.status, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(run.err.isEmpty());
    }
}
