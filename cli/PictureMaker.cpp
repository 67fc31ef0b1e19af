// The picture library's side of MapPictureMaker: the map drawn with QtGui.

#include "cli/PictureLibrary.h"

#include "images/GameImages.h"
#include "preview/MapPicture.h"

#include <QFile>
#include <QImageWriter>

static_assert(LargestPictureEdge == MaxPictureEdge);

namespace {

// Passes what is written on to a file and keeps the file's first failure, with the system's
// reason, taking the rest as written: the image writer then ends as it would, without a
// library's own line on standard error or its "Unknown error".
class KeepingFailure : public QIODevice {
public:
    explicit KeepingFailure(QFile &file) : m_file(file) { open(QIODevice::WriteOnly); }
    // The first failure, flushing included; empty when everything was written.
    QString failure() {
        if (m_failure.isEmpty() && !m_file.flush())
            m_failure = m_file.errorString();
        return m_failure;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override {
        if (m_failure.isEmpty() && m_file.write(data, length) != length)
            m_failure = m_file.errorString();
        return length;
    }

private:
    QFile &m_file;
    QString m_failure;
};

class QtMapPictureMaker : public MapPictureMaker {
public:
    bool read(const QString &mapPath, QString &error) override {
        return readMapPreview(mapPath, m_images, m_preview, error);
    }
    QStringList imageFiles() const override { return m_preview.images.files; }
    void draw(int width) override {
        drawPreview(m_preview, QSize(width, MaxPictureEdge), m_images);
    }
    QStringList problems() const override { return m_preview.problems; }
    QSize size() const override { return m_preview.frame.size(); }
    bool drawn() const override { return !m_preview.picture.isNull(); }

    // The picture is opaque throughout, as its background is, so its pixels are RGB32 as they
    // stand: no copy of a picture that may take hundreds of MiB.
    bool writePng(const QString &path, QString &error) override {
        QImage picture = std::move(m_preview.picture);
        picture.reinterpretAsFormat(QImage::Format_RGB32);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            error = file.errorString();
            return false;
        }
        KeepingFailure device(file);
        QImageWriter writer(&device, "png");
        // Lighter than the default compression: most of the time of a large picture went into
        // compressing it; this halves that, for files about a tenth larger.
        writer.setCompression(30);
        const bool written = writer.write(picture);
        error = device.failure();
        if (error.isEmpty() && !written)
            error = writer.errorString();
        return error.isEmpty();
    }

private:
    GameImages m_images;
    MapPreview m_preview;
};

} // namespace

extern "C" Q_DECL_EXPORT MapPictureMaker *mapzipCreateMapPictureMaker() {
    quietImageReaderWarnings(); // what cannot be read is told as a warning of our own
    return new QtMapPictureMaker;
}
