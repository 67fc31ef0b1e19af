#pragma once
// Writes game map files of a chosen shape, laid out as the map reader expects them.

#include "TestSupport.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

struct MapSpec {
    QByteArray description;
    std::optional<int> descriptionLength; // length byte; default: the text's size
    QByteArray texture;
    std::optional<int> textureLength;
    qint32 polygonCount = 0; // records of 121 filler bytes are written
    std::vector<qint16> sectorCounts = std::vector<qint16>(2601, 0); // 2 * c filler bytes each
    qint32 propCount = 0;                                            // records of 44 filler bytes
    struct Scenery {
        QByteArray name;
        std::optional<int> length; // default: the name's size (names are cut to 50 bytes)
    };
    std::vector<Scenery> sceneries;
    std::optional<qint32> sceneryCount; // written count; default: sceneries.size()
    QByteArray trailing;                // bytes after the last scenery record
};

QByteArray buildMap(const MapSpec &spec);
// Writes the map to `path`, creating missing folders. Fails the current test on error.
void writeMap(const QString &path, const MapSpec &spec);
