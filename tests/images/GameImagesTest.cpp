// The game's images as pictures: BMP and PNG told by content, pure green see-through, decoded
// once and shared, thumbnails made in the background.

#include "images/GameImages.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <random>

namespace {

// 4 x 2: pure green at (0, 0), almost green at (1, 0), the rest red.
QImage sample() {
    QImage image(4, 2, QImage::Format_RGB32);
    image.fill(QColor(200, 0, 0));
    image.setPixelColor(0, 0, QColor(0, 255, 0));
    image.setPixelColor(1, 0, QColor(0, 254, 0));
    return image;
}

QByteArray encoded(const QImage &image, const char *format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format) ? bytes : QByteArray();
}

// A PNG of 37 x 23 random samples of `type` and `depth`; palettes (200 colours at 8 bits) leave
// indices past them, and `transparent` adds a see-through palette part, gray or colour.
QByteArray randomPng(int type, int depth, bool transparent, bool interlaced) {
    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &bytes,
        [](png_structp p, png_bytep data, size_t size) {
            static_cast<QByteArray *>(png_get_io_ptr(p))
                ->append((const char *)data, qsizetype(size));
        },
        nullptr);
    png_set_IHDR(png, info, 37, 23, depth, type, interlaced, 0, 0);
    std::mt19937 random(type * 100 + depth);
    std::vector<png_byte> raw(png_get_rowbytes(png, info) * 23), alpha(256);
    std::vector<png_color> palette(256);
    for (auto &byte : raw)
        byte = png_byte(random());
    for (int i = 0; i < 256; ++i) {
        palette[i] = {png_byte(random()), png_byte(random()), png_byte(random())};
        alpha[i] = png_byte(random());
    }
    const png_uint_16 sample = raw[0] >> (8 - std::min(depth, 8)); // the first gray or red one
    png_color_16 colour{0, sample, sample, sample, sample};
    const int colours = depth == 8 ? 200 : (1 << depth) - 1;
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), colours);
    if (transparent)
        png_set_tRNS(png, info, alpha.data(), std::min(colours, 100), &colour);
    png_set_check_for_invalid_index(png, 0);
    png_write_info(png, info);
    png_set_interlace_handling(png);
    std::vector<png_bytep> rows;
    for (int y = 0; y < 23; ++y)
        rows.push_back(raw.data() + y * png_get_rowbytes(png, info));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

class GameImagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "images_test";
        static char *argv[] = {name, nullptr};
        static QGuiApplication app(argc, argv); // queued reports need an event loop
    }
    QString file(const QString &name, const QByteArray &bytes) {
        writeBytes(dir.filePath(name), bytes);
        return dir.filePath(name);
    }
    QTemporaryDir dir;
};

TEST_F(GameImagesTest, DecodesBmpAndPngByContentWithPureGreenSeeThrough) {
    QImage bomb(4200, 4200, QImage::Format_Mono); // a small file that unpacks to 70 MB
    bomb.fill(0);
    const struct {
        const char *name;
        QByteArray bytes; // the first three decode
    } cases[] = {{"a.bmp", encoded(sample(), "BMP")},
                 {"b.png", encoded(sample(), "PNG")},
                 {"bmp.png", encoded(sample(), "BMP")},
                 {"c.jpg", encoded(sample(), "JPG")},
                 {"text.png", "not an image"},
                 {"empty.bmp", {}},
                 {"cut.png", encoded(sample(), "PNG").left(40)},
                 {"bomb.png", encoded(bomb, "PNG")}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_TRUE(i == 5 || !cases[i].bytes.isEmpty()) << cases[i].name;
        QString error;
        const QImage image = decodeGameImage(file(cases[i].name, cases[i].bytes), &error);
        EXPECT_EQ(image.isNull(), i >= 3) << cases[i].name;
        EXPECT_EQ(error.isEmpty(), i < 3) << cases[i].name;
        EXPECT_TRUE(i >= 3 || (qAlpha(image.pixel(0, 0)) == 0 && // pure green only
                               image.pixelColor(1, 0) == QColor(0, 254, 0) &&
                               image.pixelColor(3, 1) == QColor(200, 0, 0)))
            << cases[i].name;
    }
    EXPECT_TRUE(decodeGameImage(dir.path()).isNull()) << "a folder";
}

TEST_F(GameImagesTest, PngsReadByRowsMatchQtsReaderAndHalveByTheMeanOfEach2x2) {
    const struct {
        int type, depth;
        bool transparent;
    } kinds[] = {{PNG_COLOR_TYPE_RGB, 8, false},        {PNG_COLOR_TYPE_RGB, 8, true},
                 {PNG_COLOR_TYPE_RGB_ALPHA, 8, false},  {PNG_COLOR_TYPE_GRAY, 1, true},
                 {PNG_COLOR_TYPE_GRAY, 2, false},       {PNG_COLOR_TYPE_GRAY, 4, true},
                 {PNG_COLOR_TYPE_GRAY, 8, false},       {PNG_COLOR_TYPE_GRAY, 8, true},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false}, {PNG_COLOR_TYPE_PALETTE, 1, false},
                 {PNG_COLOR_TYPE_PALETTE, 4, true},     {PNG_COLOR_TYPE_PALETTE, 8, true},
                 {PNG_COLOR_TYPE_RGB, 16, false},       {PNG_COLOR_TYPE_RGB_ALPHA, 16, false},
                 {PNG_COLOR_TYPE_GRAY, 16, false},      {PNG_COLOR_TYPE_GRAY, 16, true},
                 {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false}};
    for (const auto &kind : kinds) {
        for (const bool interlaced : {false, true}) {
            const QString path =
                file("kind.png", randomPng(kind.type, kind.depth, kind.transparent, interlaced));
            for (const int first : {0, 2}) {
                QString error;
                const ImageLevels byRows = decodeGameImageLevels(path, first, &error);
                const ImageLevels whole = imageLevels(decodeGameImage(path), first);
                ASSERT_FALSE(byRows.isEmpty()) << error.toStdString();
                EXPECT_TRUE(byRows.first == first && byRows.levels == whole.levels)
                    << kind.type << " " << kind.depth << " " << kind.transparent << interlaced;
            }
        }
    }
    // 5 x 3: blocks of 2 x 2 blue and dark green; the odd last column and row, red, drop out.
    QImage blocks(5, 3, QImage::Format_RGB32);
    blocks.fill(Qt::red);
    for (int x = 0; x < 4; ++x) {
        blocks.setPixel(x, 0, x < 2 ? 0xFF0000FF : 0xFF00C800);
        blocks.setPixel(x, 1, blocks.pixel(x, 0));
    }
    const ImageLevels halved = decodeGameImageLevels(file("blocks.png", encoded(blocks, "PNG")), 1);
    ASSERT_EQ(halved.levels.size(), 2);
    EXPECT_EQ(halved.levels[0].pixel(0, 0), 0xFF0000FFu);
    EXPECT_EQ(halved.levels[0].pixel(1, 0), 0xFF00C800u);
    EXPECT_EQ(halved.levels[1].pixel(0, 0), 0xFF00647Fu) << "each half, rounded down";
    QString error;
    const QByteArray cut = randomPng(PNG_COLOR_TYPE_RGB, 8, false, false).chopped(200);
    EXPECT_TRUE(decodeGameImageLevels(file("cut.png", cut), 1, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty()) << "a PNG cut in its image data is told";
}

TEST_F(GameImagesTest, DecodesEachFileOnceUntilItChangesAndKeepsToItsBudget) {
    const QString a = file("a.png", encoded(sample(), "PNG"));
    const QString b = file("b.png", encoded(sample(), "PNG"));
    GameImages images(decodeGameImage(a).sizeInBytes()); // room for one picture
    const qint64 first = images.levels(a).levels.at(0).cacheKey();
    EXPECT_EQ(images.levels(a).levels.at(0).cacheKey(), first) << "shared, not decoded again";
    EXPECT_EQ(images.levels(a, 1).levels.at(0).cacheKey(), images.levels(a).levels.at(1).cacheKey())
        << "the halvings kept serve a smaller picture";
    images.levels(b); // a goes for b
    EXPECT_NE(images.levels(a).levels.at(0).cacheKey(), first)
        << "decoded again after it was dropped";

    file("a.png", encoded(sample().mirrored(true, false), "PNG"));
    QFile saved(a);
    ASSERT_TRUE(saved.open(QIODevice::ReadWrite) &&
                saved.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                  QFileDevice::FileModificationTime));
    EXPECT_EQ(qAlpha(images.levels(a).levels.at(0).pixel(3, 0)), 0) << "saved again: read again";
}

#ifdef Q_OS_LINUX
TEST_F(GameImagesTest, AFileReplacedWhileItIsDecodedIsDecodedAgainByTheNextCall) {
    // Replaced while the decode holds the old file open (as /proc shows), else tried again.
    QImage large(3000, 3000, QImage::Format_RGB32);
    large.fill(Qt::red);
    const QByteArray old = encoded(large, "PNG");
    const QString path = file("large.png", old);
    bool during = false;
    for (int attempt = 0; attempt < 10 && !during; ++attempt) {
        GameImages images;
        std::unique_ptr<QThread> decoding(QThread::create([&] { images.levels(path); }));
        decoding->start();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return decoding->isFinished() || openHandlesOn(path); }, 30000));
        std::filesystem::rename(file("side", encoded(sample(), "PNG")).toStdString(),
                                path.toStdString());
        during = openHandlesOn(path, true);
        decoding->wait();
        EXPECT_EQ(images.levels(path).size, QSize(4, 2)) << "the new file, not the old kept";
        file("large.png", old);
    }
    EXPECT_TRUE(during) << "never replaced while it was decoded";
}
#endif

TEST_F(GameImagesTest, ThumbnailsAreMadeInTheBackgroundSquareAndSharp) {
    const QString good = file("good.bmp", encoded(sample(), "BMP"));
    const QString bad = file("bad.png", "nothing");
    GameImages images;
    QSignalSpy ready(&images, &GameImages::ready);
    // A repeated request gives one report while the first is under way, or one more once it
    // is done: which of the two depends on the threads' timing, so only both paths are awaited.
    for (const QString &path : {good, good, bad})
        images.request(path, 32);
    const auto reported = [&](const QString &path) {
        return std::any_of(ready.cbegin(), ready.cend(),
                           [&](const QList<QVariant> &report) { return report.at(0) == path; });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return reported(good) && reported(bad); }, 10000));
    // 4 x 2 in 32 x 32: enlarged by whole pixels (8 x 8 blocks), centred, see-through around.
    const QImage small = images.thumbnail(good, 32);
    ASSERT_EQ(small.size(), QSize(32, 32));
    EXPECT_TRUE(qAlpha(small.pixel(16, 4)) == 0 && small.pixelColor(8, 8) == QColor(0, 254, 0) &&
                small.pixelColor(15, 15) == QColor(0, 254, 0) &&
                small.pixelColor(16, 8) == QColor(200, 0, 0));
    EXPECT_TRUE(images.thumbnail(bad, 32).isNull() && !images.failure(bad).isEmpty());
}

} // namespace
