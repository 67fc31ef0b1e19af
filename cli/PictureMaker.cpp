// The picture library's side of MapPictureMaker: the map drawn with QtGui.

#include "cli/PictureLibrary.h"

#include "images/GameImages.h"
#include "preview/MapPicture.h"

#include <QFile>
#include <QImageWriter>

static_assert(LargestPictureEdge == MaxPictureEdge);

namespace {

class QtMapPictureMaker : public MapPictureMaker {
public:
    bool draw(const QString &mapPath, int width, QString &error) override {
        return previewMap(mapPath, QSize(width, MaxPictureEdge), m_images, m_preview, error);
    }
    QStringList problems() const override { return m_preview.problems; }
    QStringList imageFiles() const override { return m_preview.images.files; }
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
        QImageWriter writer(&file, "png");
        if (!writer.write(picture)) {
            error = writer.errorString();
            return false;
        }
        if (!file.flush()) {
            error = file.errorString();
            return false;
        }
        return true;
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
