// The picture library's side of MapPictureMaker: the map drawn with QtGui.

#include "cli/PictureLibrary.h"

#include "images/GameImages.h"
#include "preview/MapPicture.h"
#include "preview/PictureFile.h"

#include <QFile>

static_assert(LargestPictureEdge == MaxPictureEdge);

namespace {

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

    // The picture is opaque throughout, as its background is.
    bool writePng(const QString &path, QString &error) override {
        const QImage picture = std::move(m_preview.picture);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            error = file.errorString();
            return false;
        }
        if (!writeOpaquePng(picture, file, error))
            return false;
        if (!file.flush())
            error = file.errorString();
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
