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

TEST_F(GameImagesTest, ThumbnailsAreMadeInTheBackgroundSquareAndSharp) {
    const QString good = file("good.bmp", encoded(sample(), "BMP"));
    const QString bad = file("bad.png", "nothing");
    GameImages images;
    QSignalSpy ready(&images, &GameImages::ready);
    for (const QString &path : {good, good, bad})
        images.request(path, 32); // the second while the first is under way: one report
    ASSERT_TRUE(QTest::qWaitFor([&] { return ready.size() == 2; }, 10000));
    QTest::qWait(50);
    EXPECT_EQ(ready.size(), 2);
    // 4 x 2 in 32 x 32: enlarged by whole pixels (8 x 8 blocks), centred, see-through around.
    const QImage small = images.thumbnail(good, 32);
    ASSERT_EQ(small.size(), QSize(32, 32));
    EXPECT_TRUE(qAlpha(small.pixel(16, 4)) == 0 && small.pixelColor(8, 8) == QColor(0, 254, 0) &&
                small.pixelColor(15, 15) == QColor(0, 254, 0) &&
                small.pixelColor(16, 8) == QColor(200, 0, 0));
    EXPECT_TRUE(images.thumbnail(bad, 32).isNull() && !images.failure(bad).isEmpty());
}

} // namespace
