// mapzip preview: pictures of the fixture maps and of damaged maps, read back by ImageMagick.

#include "CliSupport.h"
#include "support/MapWriter.h"

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
