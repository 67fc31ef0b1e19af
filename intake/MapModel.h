#pragma once
// A game map (*.pms) as the map reader gives it: header, polygons, props and scenery list, up
// to the end of the scenery list. Sector lists are derived data and are skipped; of the blocks
// after the scenery list only the counts are judged.

#include "intake/GameLimits.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>

// The version every map of the game carries in its first four bytes.
constexpr qint32 MapFormatVersion = 11;

// A colour as maps store it: blue, green, red, alpha.
struct MapColour {
    quint8 blue = 0;
    quint8 green = 0;
    quint8 red = 0;
    quint8 alpha = 0;
};

struct MapVertex {
    float x = 0, y = 0, z = 0, rhw = 0;
    MapColour colour;
    float u = 0, v = 0; // texture coordinates
};

struct MapPolygon {
    // Polygon types the game draws behind the players, never collides with.
    static constexpr quint8 Background = 25;
    static constexpr quint8 BackgroundTransition = 26;

    std::array<MapVertex, 3> vertices;
    std::array<std::array<float, 3>, 3> normals{}; // one x, y, z per edge
    quint8 type = 0; // 0 normal; other values are the other kinds of solid or passable ground
};

// A placed scenery image.
struct MapProp {
    bool active = false;
    quint16 style = 0; // the 1-based record number of its scenery in the map's list
    qint32 width = 0, height = 0;
    float x = 0, y = 0, rotation = 0, scaleX = 0, scaleY = 0;
    quint8 alpha = 0;
    MapColour colour;
    quint8 level = 0; // 0 behind the players, 1 among them, 2 in front; others are not drawn
    // The game loads a prop's image only when it draws the prop.
    bool drawn() const { return active && level <= 2; }
};

// Texts are converted from the game's code page and not trimmed; scenery names are as stored
// (not lower-cased), one per record, in file order, empty ones included.
struct MapFileContents {
    qint32 version = 0;
    QString description;
    QString texture;
    MapColour backgroundTop;
    MapColour backgroundBottom;
    qint32 jetAmount = 0;
    quint8 grenades = 0, medikits = 0, weather = 0, steps = 0;
    qint32 randomId = 0;
    QList<MapPolygon> polygons;
    qint32 sectorDivision = 0, sectorCount = 0;
    QList<MapProp> props;
    QStringList sceneryNames;
    // The counts the game refuses, in file order: it will not load the map (GameLimits).
    QList<RefusedCount> refused;
};

// The lower-cased names of the sceneries whose images the game loads for `map`: those that a
// drawn prop shows. A listed scenery that no drawn prop shows is never loaded.
QSet<QString> sceneriesInUse(const MapFileContents &map);
