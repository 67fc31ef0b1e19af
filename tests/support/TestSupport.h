#pragma once
// Shared test helpers.

#include <QString>

// Folder of the fixture game installation (maps, scenery-gfx, textures) and defaults.txt.
inline QString testDataPath(const QString &relative) {
    return QStringLiteral(MAPZIP_TEST_DATA "/") + relative;
}
