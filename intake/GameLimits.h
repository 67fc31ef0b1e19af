#pragma once
// What the game itself accepts in a map. Its map loader reads the counts in order and gives up
// on the whole map, loading nothing of it, when one is negative or over its limit. A map over
// a limit is still read and packed: only the game refuses it.

#include <QList>
#include <QString>
#include <QtGlobal>

enum class MapBlock {
    Polygons,
    Sectors,        // the n of the game's (2n + 1)² grid of sectors
    SectorPolygons, // the polygons that one sector lists
    Props,
    Sceneries,
    Colliders,
    SpawnPoints,
    Waypoints,
};

struct GameLimit {
    MapBlock block;
    const char *name; // the block as inspect, verify and the build name it
    qint32 limit;     // the largest count the game loads
};

// The game's own limits, as its map loader applies them; not ours to choose.
inline constexpr GameLimit GameLimits[] = {
    {MapBlock::Polygons, "polygons", 5000},
    {MapBlock::Sectors, "sectors", 25},
    {MapBlock::SectorPolygons, "polygons in one sector", 5000},
    {MapBlock::Props, "props", 500},
    {MapBlock::Sceneries, "sceneries", 500},
    {MapBlock::Colliders, "colliders", 128},
    {MapBlock::SpawnPoints, "spawn points", 255},
    {MapBlock::Waypoints, "waypoints", 5000},
};

// A count the game refuses.
struct RefusedCount {
    QString block; // GameLimit::name
    qint64 count = 0;
    qint32 limit = 0;
};

// Appends `count` to `refused` when the game refuses it: negative, or over the block's limit.
void judgeCount(MapBlock block, qint64 count, QList<RefusedCount> &refused);

// "the game will not load this map: 612 props (at most 500)", more counts joined by ", ";
// empty when nothing is refused.
QString refusedSentence(const QList<RefusedCount> &refused);
