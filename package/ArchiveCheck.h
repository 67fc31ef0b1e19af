#pragma once
// Does an archive hold what its maps need, the way the game looks for it? One rule for the
// build, which checks its archive before delivering it, and for mapzip verify, which checks
// anyone's. Every archive is treated as hostile: the reader refuses impossible sizes and shared
// data, names that would unpack outside the game folder make it unsafe, and each map is read,
// checked and dropped in turn.

#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"
#include "package/Staging.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

class ArchiveReader;
class GameFolder;

// One image a map needs: a scenery or its texture, named as the map writes it.
struct NeededImage {
    enum class Kind { Scenery, Texture };
    Kind kind;
    QString name;
};

// The images the game loads for `map`: each scenery it lists that is not a stock one (a name
// once, letter case ignored), in the map's order, then its texture unless `withTexture` is
// false (the user chose to leave it out).
QList<NeededImage> imagesTheMapNeeds(const MapFileContents &map, const DefaultSceneryTable &stock,
                                     bool withTexture = true);

// False for an entry name that would be unpacked outside the folder it is unpacked into, or
// that Windows reads differently: a ".." part, an absolute path, a backslash, a drive letter.
bool isSafeEntryName(const QString &name);

struct ArchiveCheckOptions {
    const DefaultSceneryTable *stock = nullptr; // stock sceneries are never needed
    const GameFolder *game = nullptr;           // its images count as there; may be null
    ArchiveFormat format = ArchiveFormat::Zip;  // Smap: folder names matched exactly
    QString serverMapName; // Smap: the map the server opens, maps/<serverMapName>.pms
    bool flat = false;     // the entries were stored without their folders
    bool withTexture = true;
    bool readEveryEntry = true; // false: only maps are read (their CRCs were checked already)
    QByteArray password;        // for encrypted entries; empty: they count as unreadable
};

struct ArchiveFindings {
    struct Missing {
        QString map;  // the map entry, or empty for the archive as a whole
        QString kind; // scenery, texture, readme, map
        QString name; // as the map writes it, or the entry looked for
    };
    QString error;      // the archive could not be read, or was refused
    QStringList unsafe; // entries that make it unsafe to unpack (isSafeEntryName)
    QStringList maps;
    QList<Missing> missing;
    QStringList unused;
    QList<std::pair<QString, QString>> badEntries; // entry, problem
    bool refused() const { return !error.isEmpty() || !unsafe.isEmpty(); }
    bool complete() const { return !refused() && missing.isEmpty() && badEntries.isEmpty(); }
};

// Opens `path` with `reader` and checks every map in its maps folder: the images it needs
// (imagesTheMapNeeds, looked up as the game does: lower-cased, .png first, letter case
// ignored), its readme, and for a server archive the map the server opens. Unsafe names end
// the check at once.
ArchiveFindings checkArchive(ArchiveReader &reader, const QString &path,
                             const ArchiveCheckOptions &options);
