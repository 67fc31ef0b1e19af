// Intake cost: reading a map and looking up its images, against reading the map file alone.
//
// Game folders of 450 and of 10,000 images are generated (the fixture images and empty
// fillers); the fixture maps are read from them. "intake" is a full read with the image
// lookups through one game folder listing kept across maps (as mapzip does for many maps),
// "fresh" lists the folder anew for the read (as the window does on every browse), "read"
// reads the map file alone. Target: intake at most 2x read, whatever the folder's size.
//
// Run: bench/bin/intake_bench [repetitions]

#include "bench/MedianTime.h"
#include "intake/DefaultSceneries.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString Fixtures = QStringLiteral(MAPZIP_TEST_DATA);

// A game folder with the fixture maps and images and `fillers` more images.
bool makeGame(const QString &root, int fillers) {
    for (const char *folder : {"maps", "scenery-gfx", "textures"}) {
        const QString from = Fixtures + QStringLiteral("/soldat/") + QLatin1String(folder);
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(folder));
        for (const QString &name : QDir(from).entryList(QDir::Files)) {
            if (!QFile::copy(from + QLatin1Char('/') + name, root + QLatin1Char('/') +
                                                                 QLatin1String(folder) +
                                                                 QLatin1Char('/') + name))
                return false;
        }
    }
    for (int i = 0; i < fillers; ++i) {
        QFile filler(root +
                     QStringLiteral("/scenery-gfx/filler_%1.png").arg(i, 5, 10, QLatin1Char('0')));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[]) {
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 400;
    WizardState state;
    loadDefaultSceneries(Fixtures + QStringLiteral("/defaults.txt"), state.DefaultSceneries);

    std::printf("%-8s %-14s %9s %9s %9s %9s %9s\n", "images", "map", "items", "read us",
                "intake us", "fresh us", "intake/read");
    for (const int images : {450, 10000}) {
        QTemporaryDir dir;
        const QString game = dir.path() + QStringLiteral("/soldat");
        const int fixtureImages = int(
            QDir(Fixtures + QStringLiteral("/soldat/scenery-gfx")).entryList(QDir::Files).size());
        if (!dir.isValid() || !makeGame(game, images - fixtureImages)) {
            std::fprintf(stderr, "cannot make the game folder\n");
            return 1;
        }
        GameFolderCache cache;
        for (const char *mapName : {"ctf_Aftermath.pms", "ctf_Viet.pms", "htf_Dorothy.pms"}) {
            const QString path = game + QStringLiteral("/maps/") + QLatin1String(mapName);
            QStringList list;
            QString error;
            bool ok = true;
            const double read = medianTime<std::micro>(repetitions, [&] {
                MapFileContents contents;
                ok &= readMapFile(path, contents, error);
            });
            const double intake = medianTime<std::micro>(repetitions, [&] {
                QString filepath = path;
                ok &= listStuff(state, filepath, path, list, error, &cache);
            });
            const double fresh = medianTime<std::micro>(std::max(1, repetitions / 10), [&] {
                QString filepath = path;
                ok &= listStuff(state, filepath, path, list, error);
            });
            if (!ok) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
            std::printf("%-8d %-14s %9lld %9.1f %9.1f %9.1f %9.2fx\n", images, mapName,
                        static_cast<long long>(list.size()), read, intake, fresh, intake / read);
        }
    }
    return 0;
}
