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

// No picture is made larger than this many pixels either way.
constexpr int MaxPictureEdge = 8192;

// The images a map's picture shows, as the game finds them.
// Each is an image with its halvings; empty when the game finds none.
struct MapImages {
    ImageLevels texture;          // empty: the polygons show their corners' colours alone
    QList<ImageLevels> sceneries; // by scenery record (a prop's style - 1); empty: a red box
    QStringList files;            // the image files read, as the game folder names them
};

// Finds the texture and the images of the sceneries that drawn props show the way the game
// does, and decodes them through `images` (each file once, shared with whatever else shows
// it). `problems`, when given, receives a line for the texture and for each such scenery that
// cannot be shown, naming it and saying why.
MapImages loadMapImages(const MapFileContents &map, const GameFolder &game, GameImages &images,
                        QStringList *problems = nullptr);

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

// Draws `map` into a picture of `frame`'s size, on `threads` threads (0: as many as the machine
// has). Parts that cannot be drawn (not finite, or far outside the picture) are left out, and
// so are the last triangles of a map that would cover its picture dozens of times over (their
// count goes to `leftOut`), so that no map takes long to draw.
QImage drawMap(const MapFileContents &map, const MapImages &images, const PictureFrame &frame,
               int threads = 0, qsizetype *leftOut = nullptr);

// Everything a preview shows and keeps: the map, its images, where it lies and its picture.
struct MapPreview {
    MapFileContents map;
    MapImages images;
    PictureFrame frame;
    QImage picture;
    // What the picture cannot show as the game would: no game folder around the map, a texture
    // or scenery image the game would not find or that cannot be decoded.
    QStringList problems;
};

// Reads the map at `mapPath`, finds its images in the game folder around it (see
// gameFolderForMap) and draws it into at most `maxSize`. False, with `error` naming the map
// and why, when the map cannot be read.
bool previewMap(const QString &mapPath, QSize maxSize, GameImages &images, MapPreview &preview,
                QString &error);
