#pragma once
// Writes game map files of a chosen shape, laid out as the map reader expects them.

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

struct MapSpec {
    QByteArray description;
    std::optional<int> descriptionLength; // length byte; default: the text's size
    QByteArray texture;
    std::optional<int> textureLength;
    qint32 version = 11;
    qint32 polygonCount = 0; // records of 121 filler bytes are written
    // Then these triangles (x, y of each corner); the count covers both.
    std::vector<std::array<float, 6>> triangles;
    std::vector<quint32> colours; // of the triangles, by index, as ARGB; default opaque white
    std::vector<quint8> types;    // of the triangles, by index; default 0, a front polygon
    qint32 sectorGrid = 25; // the n of the game's (2n + 1)² grid of sectors
    std::vector<qint16> sectorCounts = std::vector<qint16>(2601, 0); // 2 * c filler bytes each
    struct Prop {
        quint16 style = 1; // 1-based scenery record
        quint8 level = 0;
        quint8 active = 1;
        struct Place {
            float x = 0, y = 0, rotation = 0, scaleX = 1, scaleY = 1;
            qint32 width = 32, height = 32;
        };
        std::optional<Place> place = std::nullopt; // white and opaque; default: filler bytes
    };
    std::optional<std::vector<Prop>> props; // default: one drawn prop per scenery record
    std::optional<qint32> propCount;        // written count; default: the props written
    struct Scenery {
        QByteArray name;
        std::optional<int> length; // default: the name's size (names are cut to 50 bytes)
    };
    std::vector<Scenery> sceneries;
    std::optional<qint32> sceneryCount; // written count; default: sceneries.size()
    // Colliders, spawn points, waypoints: each count with records of filler bytes; unset, the
    // file ends with the sceneries.
    std::optional<std::array<qint32, 3>> laterCounts;
    QByteArray trailing; // bytes after the last scenery record, or the later blocks
};

QByteArray buildMap(const MapSpec &spec);
// Writes the map to `path`, creating missing folders. Fails the current test on error.
void writeMap(const QString &path, const MapSpec &spec);
