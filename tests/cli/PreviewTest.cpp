// mapzip preview: pictures of the fixture maps and of damaged maps, read back by ImageMagick.

#include "CliSupport.h"
#include "support/MapWriter.h"

#include <QPoint>
#include <QSize>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

struct Png {
    int width = 0, height = 0, colours = 0;
};

// The picture's size and count of distinct colours, as ImageMagick reads them.
Png identify(const QString &path) {
    QProcess tool;
    tool.start(QStringLiteral("identify"),
               {QStringLiteral("-format"), QStringLiteral("%w %h %k"), path});
    EXPECT_TRUE(tool.waitForFinished(60000) && tool.exitCode() == 0)
        << tool.readAllStandardError().toStdString();
    const QStringList numbers = QString::fromLatin1(tool.readAllStandardOutput()).split(u' ');
    if (numbers.size() != 3)
        return {};
    return {numbers[0].toInt(), numbers[1].toInt(), numbers[2].toInt()};
}

MapzipRun preview(const QString &map, const QString &png) {
    return mapzip({QStringLiteral("preview"), map, QStringLiteral("-o"), png});
}

} // namespace

TEST(MapzipPreview, FixtureMapsGiveFullColourPictures) {
    QTemporaryDir dir;
    for (const char *name : {"ctf_Aftermath", "ctf_Viet", "htf_Dorothy"}) {
        SCOPED_TRACE(name);
        const QString png = dir.filePath(QLatin1String(name) + QStringLiteral(".png"));
        const MapzipRun run = preview(fixtureMap(QLatin1String(name)), png);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        // Only our own lines: no library's notes on the images it reads.
        for (const QString &line : run.err.split(u'\n', Qt::SkipEmptyParts))
            EXPECT_TRUE(line.startsWith(QStringLiteral("mapzip preview: warning: ")))
                << line.toStdString();
        const Png read = identify(png);
        EXPECT_EQ(read.width, 1024);
        EXPECT_GT(read.height, 256);
        EXPECT_GE(read.colours, 200);
    }
}

// Corners and props far off, not numbers or of no size are left out; the rest is framed as if
// they were not there: the two good triangles span 1000 x 500, a picture of 1024 x 532.
TEST(MapzipPreview, DamagedGeometryGivesABoundedPicture) {
    constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float Inf = std::numeric_limits<float>::infinity();
    constexpr float Max = std::numeric_limits<float>::max();
    const std::vector<std::array<float, 6>> good{{0, 0, 1000, 0, 1000, 500},
                                                 {0, 0, 1000, 500, 0, 500}};
    using Place = MapSpec::Prop::Place;
    const struct {
        const char *name;
        bool withGood;
        std::vector<std::array<float, 6>> triangles;
        std::vector<Place> props;
        QSize size; // 0: any up to 8192
        const char *warned = "";
    } cases[] = {
        {"NaN and infinite corners",
         true,
         {{NaN, 0, 10, 10, 0, 10}, {0, 0, Inf, 0, 0, -Inf}},
         {},
         {1024, 532}},
        {"far corners",
         true,
         {{0, 0, 1e30f, 0, 0, 1e30f}, {-Max, -Max, Max, Max, 0, Max}},
         {},
         {1024, 532}},
        {"wild props",
         true,
         {},
         {{NaN, 0},
          {0, 0, NaN},
          {0, 0, 1e30f},
          {0, 0, 0, 1e30f, 1e30f},
          {0, 0, 0, Inf, 1},
          {1e30f, 1e30f},
          {500, 250, 0, 1, 1, 2147483647, 2147483647},
          {500, 250, 0, 1, 1, 0, 0}},
         {1024, 532}},
        {"only far corners", false, {{-Max, -Max, Max, -Max, 0, Max}}, {{1e30f, 0}}, {}},
        {"a sliver a million high", false, {{0, 0, 0.001f, 1e6f, 0, 1e6f}}, {}, {0, 8192}},
        {"one triangle 5000 times over",
         false,
         std::vector<std::array<float, 6>>(5000, {0, 0, 1000, 0, 1000, 500}),
         {},
         {1024, 532},
         "triangles are left out"},
        {"5000 slivers as tall as the picture",
         false,
         std::vector<std::array<float, 6>>(5000, {0, 0, 0.001f, 1e6f, 0, 1e6f}),
         {},
         {0, 8192},
         "triangles are left out"},
        {"100000 small red boxes",
         true,
         {},
         std::vector<Place>(100000, Place{500, 250, 0, 1, 1, 10, 10}),
         {1024, 532},
         "triangles are left out"},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MapSpec spec;
        spec.triangles = c.triangles;
        for (int i = 0; c.withGood && i < 4; ++i) // most of the map is sound
            spec.triangles.insert(spec.triangles.begin(), good.begin(), good.end());
        spec.sceneries = {{"gone.png", std::nullopt}};
        spec.props.emplace();
        for (const Place &place : c.props)
            spec.props->push_back({1, 0, 1, place});
        const QString map = dir.filePath(QStringLiteral("maps/bad.pms"));
        writeMap(map, spec);
        const QString png = dir.filePath(QLatin1String(c.name) + QStringLiteral(".png"));
        const MapzipRun run = preview(map, png);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.warned))) << run.err.toStdString();
        const Png read = identify(png);
        EXPECT_TRUE(read.width > 0 && read.width <= 1024 && read.height > 0 && read.height <= 8192)
            << read.width << " x " << read.height;
        if (c.size.width() > 0) {
            EXPECT_EQ(read.width, c.size.width());
        }
        if (c.size.height() > 0) {
            EXPECT_EQ(read.height, c.size.height());
        }
    }
}

TEST(MapzipPreview, WhatCannotBeReadOrSavedIsAClearFailure) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("taken.png"));
    QDir().mkpath(folder);
    const QString viet = fixtureMap(QStringLiteral("ctf_Viet"));
    const QString png = dir.filePath(QStringLiteral("out.png"));
    const struct {
        QString map, target;
        const char *said;
    } cases[] = {
        {dir.filePath(QStringLiteral("none.pms")), png, "cannot be read as a map file"},
        {testDataPath(QStringLiteral("defaults.txt")), png, "is not a Soldat map"},
        {viet, folder, "the picture cannot be saved to"},
        {viet, viet, "which the picture is made from"},
        {viet, dir.filePath(QStringLiteral("no/such/folder.png")), "cannot save the picture"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.said);
        const MapzipRun run = preview(c.map, c.target);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("mapzip preview: ")) &&
                    run.err.contains(QLatin1String(c.said)))
            << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(png));
    }
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

namespace {

// A game folder with maps of known pixels. In maps/pixels.pms, at --width 1040, one map unit is
// one pixel and map point (x, y) is pixel (x + 20, y + 20): a green front polygon (0..400 x
// 0..500), a grey background one (600..1000 x 0..500), a blue prop among the players and two
// yellow ones in front, one reaching past the picture's bottom, and a prop of scenery 7.
// maps/inputs.pms names a texture, with an edge texture, and a scenery no prop shows.
QString writePixelGame(const QTemporaryDir &dir) {
    for (const auto &[image, colour] : {std::pair{"scenery-gfx/blue.png", "#0000ff"},
                                        {"scenery-gfx/yellow.png", "#ffff00"},
                                        {"scenery-gfx/unused.png", "#ffffff"},
                                        {"textures/t.png", "#808080"},
                                        {"textures/edges/t.png", "#808080"}}) {
        QDir().mkpath(QFileInfo(dir.filePath(image)).path());
        runTool(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("8x8"),
                                            QStringLiteral("xc:") + colour, dir.filePath(image)});
    }
    using Place = MapSpec::Prop::Place;
    MapSpec spec;
    spec.triangles = {{0, 0, 400, 0, 400, 500},
                      {0, 0, 400, 500, 0, 500},
                      {600, 0, 1000, 0, 1000, 500},
                      {600, 0, 1000, 500, 600, 500}};
    spec.colours = {0xFF008000, 0xFF008000, 0xFF808080, 0xFF808080};
    spec.types = {0, 0, 25, 25};
    spec.sceneries = {{"blue.png", {}}, {"yellow.png", {}}};
    spec.props = std::vector<MapSpec::Prop>{{1, 1, 1, Place{300, 0, 0, 1, 1, 200, 200}},
                                            {2, 2, 1, Place{350, 50, 0, 1, 1, 50, 100}},
                                            {7, 0, 1, Place{600, 300, 0, 1, 1, 100, 100}},
                                            {2, 2, 1, Place{800, 400, 0, 1, 1, 200, 1000}}};
    writeMap(dir.filePath(QStringLiteral("maps/pixels.pms")), spec);
    spec.texture = "t.png";
    spec.sceneries.push_back({"unused.png", {}});
    writeMap(dir.filePath(QStringLiteral("maps/inputs.pms")), spec);
    return dir.filePath(QStringLiteral("maps/pixels.pms"));
}

// The colours of `png` at `points`, as ImageMagick reads them ("RRGGBB").
QStringList coloursAt(const QString &png, const std::vector<QPoint> &points) {
    QString format;
    for (const QPoint &p : points)
        format += QStringLiteral("%[hex:p{%1,%2}] ").arg(p.x()).arg(p.y());
    QProcess tool;
    tool.start(QStringLiteral("identify"), {QStringLiteral("-format"), format, png});
    EXPECT_TRUE(tool.waitForFinished(60000) && tool.exitCode() == 0);
    return QString::fromLatin1(tool.readAllStandardOutput()).split(u' ', Qt::SkipEmptyParts);
}

} // namespace

// What is drawn where: the layers in the game's order, the red box, the last rows, the
// background; and a prop of a scenery the map does not name is named on standard error.
TEST(MapzipPreview, DrawsTheMapsLayersWhereTheyLie) {
    QTemporaryDir dir;
    const QString map = writePixelGame(dir), png = dir.filePath(QStringLiteral("p.png"));
    const MapzipRun run = mapzip({QStringLiteral("preview"), map, QStringLiteral("-o"), png,
                                  QStringLiteral("--width"), QStringLiteral("1040")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QLatin1String("prop 3 shows 7"))) << run.err.toStdString();
    const struct {
        QPoint at; // in map units
        const char *colour, *what;
    } points[] = {{{100, 100}, "008000", "front polygon"},
                  {{320, 100}, "008000", "front polygon over a prop among the players"},
                  {{450, 100}, "0000FF", "prop among the players"},
                  {{375, 100}, "FFFF00", "prop in front over both"},
                  {{800, 100}, "808080", "background polygon"},
                  {{650, 300}, "FF0000", "red box of the prop of scenery 7"},
                  {{650, 350}, "808080", "inside the red box"},
                  {{900, 519}, "FFFF00", "last row"},
                  {{-20, -20}, "111111", "background's gradient"}};
    std::vector<QPoint> pixels;
    for (const auto &p : points)
        pixels.push_back(p.at + QPoint(20, 20));
    const QStringList read = coloursAt(png, pixels);
    ASSERT_EQ(read.size(), qsizetype(std::size(points)));
    for (size_t i = 0; i < std::size(points); ++i)
        EXPECT_EQ(read[qsizetype(i)], QLatin1String(points[i].colour)) << points[i].what;
}

// -o never names a file the picture may be made from; --width takes 16 to 8192; a full disk is
// told with the system's reason.
TEST(MapzipPreview, RefusesItsInputsAsOutputAndTellsWhyAWriteFails) {
    QTemporaryDir dir;
    const QString pixels = writePixelGame(dir),
                  map = dir.filePath(QStringLiteral("maps/inputs.pms"));
    for (const char *input : {"maps/inputs.pms", "textures/t.png", "textures/edges/t.png",
                              "scenery-gfx/blue.png", "scenery-gfx/unused.png"}) {
        const QByteArray before = readFile(dir.filePath(QLatin1String(input)));
        const MapzipRun run = preview(map, dir.filePath(QLatin1String(input)));
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_TRUE(run.err.contains(QLatin1String("which the picture is made from"))) << input;
        EXPECT_EQ(readFile(dir.filePath(QLatin1String(input))), before) << input;
    }
    const QString png = dir.filePath(QStringLiteral("p.png"));
    for (const auto &[width, status] : {std::pair{"16", 0}, {"15", 2}, {"8192", 0}, {"8193", 2}}) {
        const MapzipRun run = mapzip({QStringLiteral("preview"), pixels, QStringLiteral("-o"), png,
                                      QStringLiteral("--width"), QLatin1String(width)});
        EXPECT_EQ(run.status, status) << width;
        EXPECT_TRUE(status != 0 || identify(png).width == QByteArray(width).toInt()) << width;
    }
    // The first write after the warnings and the staging folder's lock is the picture's.
    const qsizetype warnings =
        preview(pixels, dir.filePath(QStringLiteral("w.png"))).err.count(u'\n');
    qputenv("LD_PRELOAD", MAPZIP_FAULTSHIM);
    qputenv("FAULTS", QStringLiteral("write:%1:ENOSPC").arg(warnings + 2).toLatin1());
    const MapzipRun full = preview(pixels, dir.filePath(QStringLiteral("full.png")));
    qunsetenv("LD_PRELOAD");
    qunsetenv("FAULTS");
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(
        full.err.contains(QLatin1String("cannot write the picture: No space left on device")) &&
        !full.err.contains(QLatin1String("libpng")))
        << full.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("full.png"))));
}
