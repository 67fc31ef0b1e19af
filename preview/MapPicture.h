#pragma once
// A map drawn as the game shows it, seen whole: the background's gradient, the polygons with
// the map's texture and their corners' colours, and the props with their scenery images, in
// the game's order. Shared by "mapzip preview" and the window's preview. QtGui, no widgets.

#include "images/GameImages.h"
#include "intake/GameFolder.h"
#include "intake/MapModel.h"

#include <QImage>
#include <QList>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>

// No picture is made larger than this many pixels either way.
constexpr int MaxPictureEdge = 8192;

// An image a map's picture shows: the file decoded (a link's final target) and its size.
struct MapImage {
    QString path; // empty: the game finds no image, or it cannot be decoded
    QSize size;
    bool isNull() const { return path.isEmpty(); }
};

// The images a map's picture shows, as the game finds them. They are decoded only when drawn,
// each as large as the picture needs it.
struct MapImages {
    MapImage texture;          // none: the polygons show their corners' colours alone
    QList<MapImage> sceneries; // by scenery record (a prop's style - 1); none: a red box
    // Every file the map's picture may be made from, as the game folder names them: the
    // texture, its edge texture and every scenery the map lists that is there.
    QStringList files;
    // What the picture cannot show as the game would, one line each: no game folder around the
    // map, a texture or scenery image the game would not find or that cannot be decoded, props
    // that show a scenery the map does not name.
    QStringList problems;
};

// Finds the texture and the images of the sceneries that drawn props show the way the game
// does, and reads their sizes through `images`.
MapImages findMapImages(const MapFileContents &map, const GameFolder &game, GameImages &images);

// Where the map lies in its picture.
class PictureFrame {
public:
    // The map's polygons (without any, its props) with a small margin, fitted into `maxSize`
    // with their proportions. Coordinates far from all the others, as a damaged polygon or
    // prop has them, are left out of the span.
    static PictureFrame fit(const MapFileContents &map, QSize maxSize);

    QSize size() const { return m_size; }
    const QRectF &mapArea() const { return m_area; } // in map units
    double scale() const { return m_scale; }         // picture pixels per map unit
    QPointF toPicture(const QPointF &point) const {
        return {(point.x() - m_area.left()) * m_scale, (point.y() - m_area.top()) * m_scale};
    }
    QPolygonF toPicture(const QPolygonF &polygon) const;

private:
    QSize m_size{1, 1};
    QRectF m_area{0, 0, 1, 1};
    double m_scale = 1;
};

// The corners of a prop where the game draws it, in map units: top-left, top-right,
// bottom-right, bottom-left. The top-left corner is at (x, y); the prop is scaled there and
// turned about it by its rotation. Its size is its own width and height, or `imageSize` for a
// prop without one. Empty when it has no finite place or size.
QPolygonF propOutline(const MapProp &prop, QSize imageSize = {});

// What decoding the images of a picture may cost by default, in the pixels decoded and the
// bytes of file read (GameImages::decodeCost()): a PNG is inflated whole, whatever halving the
// picture shows. About two seconds of one core, for images that compress well and for those
// that hardly do alike; a real game folder's images take a fifth of it all together. An image
// of 4096 x 4096 pixels in a file of up to 48 MiB fits, so that the texture, taken first, does.
constexpr qint64 DefaultDecodeBudget = qint64(256) << 20;
static_assert(DefaultDecodeBudget >= 4096 * 4096 + 2 * (qint64(48) << 20));

// How a drawing runs: on `threads` threads (0: as many as the machine has); once `stop` is
// set, it ends soon with no picture. Images whose files would take the decoding past
// `decodeBudget` (pixels and bytes) are left out, with the props that show them.
struct DrawOptions {
    int threads = 0;
    const std::atomic<bool> *stop = nullptr;
    qint64 decodeBudget = DefaultDecodeBudget;
};

struct MapDrawing {
    QImage picture; // null when stopped, or when there is no memory for it
    // What the drawing could not show: images that cannot be decoded, images shown with less
    // detail, triangles left out.
    QStringList problems;
};

// Draws `map` into a picture of `frame`'s size, decoding its images through `images` as large
// as the picture shows them. Parts that cannot be drawn (not finite, or far outside the
// picture) are left out, and so are the last triangles of a map that would take long to draw
// and the images (the texture taken first, then the smallest files) that would take long to
// decode; images are shown with less detail where together they would take more memory than
// `images` keeps, so that no map takes long or much memory to draw.
MapDrawing drawMap(const MapFileContents &map, const MapImages &mapImages,
                   const PictureFrame &frame, GameImages &images, const DrawOptions &options = {});

// Everything a preview shows and keeps: the map, its images, where it lies and its picture.
struct MapPreview {
    MapFileContents map;
    MapImages images;
    PictureFrame frame;
    QImage picture;
    // What the picture cannot show as the game would: the images' problems and the drawing's.
    QStringList problems;
};

// Reads the map at `mapPath` and finds its images in the game folder around it (see
// gameFolderForMap), into a preview with no picture yet. False, with `error` naming the map
// and why, when the map cannot be read.
bool readMapPreview(const QString &mapPath, GameImages &images, MapPreview &preview,
                    QString &error);
// Draws the preview's map into at most `maxSize` (see drawMap).
void drawPreview(MapPreview &preview, QSize maxSize, GameImages &images,
                 const DrawOptions &options = {});
// Both: reads the map and draws it.
bool previewMap(const QString &mapPath, QSize maxSize, GameImages &images, MapPreview &preview,
                QString &error);
