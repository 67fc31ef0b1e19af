// The game's images as pictures: BMP and PNG told by content, pure green see-through, decoded
// once and shared, thumbnails made in the background.

#include "images/GameImages.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QGuiApplication &app() {
    static int argc = 1;
    static char name[] = "images_test";
    static char *argv[] = {name, nullptr};
    static auto *created = new QGuiApplication(argc, argv);
    return *created;
}

// A 4 x 2 picture: pure green at (0, 0), almost-green at (1, 0), the rest red.
QImage sample() {
    QImage image(4, 2, QImage::Format_RGB32);
    image.fill(QColor(200, 0, 0));
    image.setPixelColor(0, 0, QColor(0, 255, 0));
    image.setPixelColor(1, 0, QColor(0, 254, 0));
    return image;
}

QImage blank(int edge) {
    QImage image(edge, edge, QImage::Format_Mono);
    image.fill(0);
    return image;
}

QByteArray encoded(const QImage &image, const char *format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

class GameImagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(dir.isValid());
    }
    QString file(const QString &name, const QByteArray &bytes) {
        const QString path = dir.filePath(name);
        writeBytes(path, bytes);
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(GameImagesTest, DecodesBmpAndPngByContentWithPureGreenSeeThrough) {
    const struct {
        const char *name;
        QByteArray bytes;
        bool decodes;
    } cases[] = {{"a.bmp", encoded(sample(), "BMP"), true},
                 {"b.png", encoded(sample(), "PNG"), true},
                 {"bmp-named.png", encoded(sample(), "BMP"), true}, // the game reads either
                 {"c.jpg", encoded(sample(), "JPG"), false},
                 {"text.png", "not an image at all", false},
                 {"empty.bmp", {}, false},
                 {"cut.png", encoded(sample(), "PNG").left(40), false},
                 // A small file that would unpack to 70 MB: refused before it is allocated.
                 {"bomb.png", encoded(blank(4200), "PNG"), false}};
    ASSERT_FALSE(cases[3].bytes.isEmpty()) << "a real JPEG, refused for its format";
    for (const auto &c : cases) {
        QString error;
        const QImage image = decodeGameImage(file(c.name, c.bytes), &error);
        EXPECT_EQ(!image.isNull(), c.decodes) << c.name;
        EXPECT_EQ(error.isEmpty(), c.decodes) << c.name << ": " << error.toStdString();
        if (image.isNull())
            continue;
        EXPECT_EQ(image.size(), QSize(4, 2));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << c.name;
        EXPECT_EQ(image.pixelColor(1, 0), QColor(0, 254, 0)) << c.name;
        EXPECT_EQ(image.pixelColor(3, 1), QColor(200, 0, 0)) << c.name;
    }
    EXPECT_TRUE(decodeGameImage(dir.filePath("absent.png")).isNull());
    EXPECT_TRUE(decodeGameImage(dir.path()).isNull()) << "a folder";
}

TEST_F(GameImagesTest, SquareThumbnailsKeepProportionsAndSmallImagesSharp) {
    QImage wide(40, 10, QImage::Format_ARGB32_Premultiplied);
    wide.fill(Qt::blue);
    const QImage reduced = squareThumbnail(wide, 16);
    EXPECT_EQ(reduced.size(), QSize(16, 16));
    EXPECT_EQ(qAlpha(reduced.pixel(8, 0)), 0) << "above the picture";
    EXPECT_EQ(reduced.pixelColor(8, 8), QColor(Qt::blue));
    // 4 x 2 at 32: enlarged by whole pixels, so each source pixel is an 8 x 8 block.
    const QImage enlarged =
        squareThumbnail(decodeGameImage(file("s.png", encoded(sample(), "PNG"))), 32);
    EXPECT_EQ(enlarged.pixelColor(8, 8), QColor(0, 254, 0));
    EXPECT_EQ(enlarged.pixelColor(15, 15), QColor(0, 254, 0));
    EXPECT_EQ(enlarged.pixelColor(16, 8), QColor(200, 0, 0));
}

TEST_F(GameImagesTest, DecodesEachFileOnceUntilItChangesAndKeepsToItsBudget) {
    const QString a = file("a.png", encoded(sample(), "PNG"));
    const QString b = file("b.png", encoded(sample(), "PNG"));
    const qint64 oneImage = decodeGameImage(a).sizeInBytes();
    GameImages images(oneImage); // room for one decoded picture

    const qint64 first = images.image(a).cacheKey();
    EXPECT_EQ(images.image(a).cacheKey(), first) << "shared, not decoded again";
    images.image(b); // a goes for b
    EXPECT_NE(images.image(a).cacheKey(), first) << "decoded again after it was dropped";

    // A file saved again is decoded again.
    QImage changed = sample();
    changed.setPixelColor(3, 1, Qt::blue);
    file("a.png", encoded(changed, "PNG"));
    QFile saved(a);
    ASSERT_TRUE(saved.open(QIODevice::ReadWrite));
    ASSERT_TRUE(saved.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                  QFileDevice::FileModificationTime));
    saved.close();
    EXPECT_EQ(images.image(a).pixelColor(3, 1), QColor(Qt::blue));
}

TEST_F(GameImagesTest, RequestsDecodeInTheBackgroundAndReportEveryFile) {
    const QString good = file("good.bmp", encoded(sample(), "BMP"));
    const QString bad = file("bad.png", "nothing");
    GameImages images;
    QSignalSpy ready(&images, &GameImages::ready);
    images.request(good, 32);
    images.request(good, 32); // already under way: one report
    images.request(bad, 32);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == 2; }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(ready.size(), 2);
    EXPECT_EQ(images.thumbnail(good, 32).size(), QSize(32, 32));
    EXPECT_TRUE(images.thumbnail(good, 16).isNull()) << "only the size asked for";
    EXPECT_TRUE(images.failure(good).isEmpty());
    EXPECT_TRUE(images.thumbnail(bad, 32).isNull());
    EXPECT_FALSE(images.failure(bad).isEmpty());
}

} // namespace
