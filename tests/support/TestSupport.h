#pragma once
// Shared test helpers.

#include <QByteArray>
#include <QString>

// Folder of the fixture game installation (maps, scenery-gfx, textures) and defaults.txt.
inline QString testDataPath(const QString &relative) {
    return QStringLiteral(MAPZIP_TEST_DATA "/") + relative;
}

// Writes `bytes` to `path`, creating missing folders. Fails the current test on error.
void writeBytes(const QString &path, const QByteArray &bytes);

// Copies every file under `from` to the same place under `to` (for example the fixture game
// folder, so that nothing a test does can touch the originals). Fails the test on error.
void copyTree(const QString &from, const QString &to);

// How many handles this process has open on `file`, or with `replaced` on the file that `file`
// named before it was removed or replaced (Linux: /proc lists them).
int openHandlesOn(const QString &file, bool replaced = false);
