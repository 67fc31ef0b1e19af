#pragma once
// The map's picture for mapzip preview, made in the picture library mapzip_picture
// (libmapzip_picture.so, mapzip_picture.dll on Windows): the game's images and the rasteriser,
// with QtGui. It lies in the program folder and is loaded the first time a picture is made, so
// that mapzip's other commands start without QtGui, its fonts and D-Bus. QtCore only here.

#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// No picture is made larger than this many pixels either way (the rasteriser's MaxPictureEdge).
inline constexpr int LargestPictureEdge = 8192;

class MapPictureMaker {
public:
    // A new maker, or null with `error` saying why the picture library cannot be used.
    static std::unique_ptr<MapPictureMaker> create(QString &error);
    virtual ~MapPictureMaker() = default;

    // Reads the map at `mapPath` and finds its images in the game folder around it. False, with
    // `error` naming the map and why, when the map cannot be read.
    virtual bool read(const QString &mapPath, QString &error) = 0;
    // After read(): the image files the picture may be made from.
    virtual QStringList imageFiles() const = 0;
    // Draws the map read `width` pixels wide at most, as high as its shape wants (at most
    // LargestPictureEdge).
    virtual void draw(int width) = 0;

    // After draw(): what the picture cannot show as the game would, one line each; its size;
    // false when there was no memory for a picture that big.
    virtual QStringList problems() const = 0;
    virtual QSize size() const = 0;
    virtual bool drawn() const = 0;
    // Writes the picture as a PNG into a new file at `path`, and lets go of it. A failed write
    // is told by the system's reason ("No space left on device").
    virtual bool writePng(const QString &path, QString &error) = 0;
};

// The library's entry point: a new maker that the caller owns.
using CreateMapPictureMakerFunction = MapPictureMaker *(*)();
inline constexpr char CreateMapPictureMakerSymbol[] = "mapzipCreateMapPictureMaker";
