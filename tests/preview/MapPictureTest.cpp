// The map's picture within bounds: images decoded only as large as the picture shows them,
// together within the ceiling of the shared cache and the decode budget, and a drawing that
// ends when it is stopped; the picture written as a PNG.

#include "preview/MapPicture.h"
#include "preview/PictureFile.h"
#include "support/MapWriter.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>

TEST(MapPicture, ImagesAreDecodedAsLargeAsShownWithinTheCeilingAndBudgetAndDrawingStops) {
    QTemporaryDir game;
    QDir().mkpath(game.filePath("scenery-gfx"));
    for (const char *name : {"a.png", "b.png"}) {
        QImage image(256, 256, QImage::Format_RGB32);
        image.fill(*name == 'a' ? Qt::blue : Qt::red);
        if (*name == 'b') // the costlier to decode
            image.setText(QStringLiteral("note"), QString(1000, u'x'));
        ASSERT_TRUE(image.save(game.filePath(QStringLiteral("scenery-gfx/") + name)));
    }
    using Place = MapSpec::Prop::Place;
    MapSpec spec;
    spec.triangles = {{0, 0, 1000, 0, 1000, 1000}};
    spec.sceneries = {{"a.png", {}}, {"b.png", {}}};
    spec.props = std::vector<MapSpec::Prop>{{1, 0, 1, Place{0, 0, 0, 1, 1, 1000, 1000}},
                                            {2, 0, 1, Place{0, 0, 0, 1, 1, 1000, 1000}}};
    writeMap(game.filePath("maps/x.pms"), spec);
    // Decoding an image costs its pixels and its file's bytes, each as two pixels.
    const qint64 whole = levelBytes({256, 256}, 0),
                 both = 2 * 256 * 256 + 2 * (QFileInfo(game.filePath("scenery-gfx/a.png")).size() +
                                             QFileInfo(game.filePath("scenery-gfx/b.png")).size());
    const struct {
        int width;
        qint64 ceiling, budget;
        bool stop;
        qint64 kept;         // at most, by the cache, after drawing
        QColor shown;        // in the middle: b's prop, over a's
        const char *problem; // empty: none
    } cases[] = {{1040, 4 * whole, both, false, 2 * whole, Qt::red, ""},
                 {64, 4 * whole, both, false, 2 * levelBytes({256, 256}, 2), Qt::red, ""},
                 {1040, whole, both, false, whole, Qt::red, "2 image(s) are shown with less"},
                 {1040, 4 * whole, both - 1, false, whole, Qt::blue, "1 image(s) are left out"},
                 {1040, 4 * whole, both, true, 0, {}, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.width);
        GameImages images(c.ceiling);
        MapPreview preview;
        QString error;
        ASSERT_TRUE(readMapPreview(game.filePath("maps/x.pms"), images, preview, error));
        std::atomic<bool> stop{c.stop};
        drawPreview(preview, QSize(c.width, c.width), images, {0, &stop, c.budget});
        EXPECT_EQ(preview.picture.isNull(), c.stop);
        const QString told = preview.problems.join(u'\n');
        EXPECT_EQ(told.contains(QLatin1String("image(s) are")), *c.problem != 0)
            << told.toStdString();
        EXPECT_TRUE(told.contains(QLatin1String(c.problem)));
        EXPECT_TRUE(c.stop || preview.picture.pixelColor(c.width / 4, c.width / 2) == c.shown);
        EXPECT_LE(images.keptBytes(), c.kept);
        EXPECT_TRUE(c.kept == 0 || images.keptBytes() > c.kept / 4) << images.keptBytes();
    }
}

// Strips deflated on several threads and written in batches read back, by libpng through Qt's
// reader, as the picture was: noise in the upper rows, flat colour below.
TEST(PictureFile, WrittenPngReadsBackAsThePictureAndAFullDiskIsTold) {
    QImage picture(37, 301, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 random(7);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, y < 150 ? random() | 0xFF000000u : 0xFF336699u);
    }
    for (const int threads : {1, 3}) {
        QBuffer written;
        written.open(QIODevice::WriteOnly);
        QString error;
        ASSERT_TRUE(writeOpaquePng(picture, written, error, threads)) << error.toStdString();
        EXPECT_EQ(QImage::fromData(written.data(), "PNG"),
                  picture.convertToFormat(QImage::Format_RGB32))
            << threads;
    }
    QFile full(QStringLiteral("/dev/full"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QString error;
    EXPECT_FALSE(writeOpaquePng(picture, full, error));
    EXPECT_EQ(error, QStringLiteral("No space left on device"));
}
