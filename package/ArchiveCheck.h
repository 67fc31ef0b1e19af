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

// One image the game loads for a map: a scenery, its texture or the texture's edge texture
// (textures/edges/<texture name>), named as the map writes it.
struct NeededImage {
    enum class Kind { Scenery, Texture, EdgeTexture };
    Kind kind;
    QString name;
};

// The images the game loads for `map`: each scenery that a drawn prop shows and that is not a
// stock one (a name once, letter case ignored), in the map's order; then, unless `withTexture`
// is false (the user chose to leave it out), its texture and edge texture. Listed sceneries
// that no drawn prop shows are never loaded, so never needed.
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
    // The game falls back to a default edge texture, so a missing one is no gap, unless the
    // game folder the archive is made from has one (the build knows).
    bool edgeTextureRequired = false;
    bool readEveryEntry = true; // false: only maps are read (their CRCs were checked already)
    // For encrypted entries. Without one they count as there by their names, unchecked; with
    // a password that opens none of them, the archive is refused.
    QByteArray password;
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
    QStringList unchecked; // encrypted, no password given: judged by their names only
    // Maps the game will not load, each with the counts it refuses (GameLimits).
    QList<std::pair<QString, QList<RefusedCount>>> refusedByGame;
    bool refused() const { return !error.isEmpty() || !unsafe.isEmpty(); }
    bool complete() const {
        return !refused() && missing.isEmpty() && badEntries.isEmpty() && refusedByGame.isEmpty();
    }
};

// Opens `path` with `reader` and checks every map in its maps folder: the images it needs
// (imagesTheMapNeeds, looked up as the game does: lower-cased, .png first, letter case
// ignored), its readme, and for a server archive the map the server opens. Unsafe names end
// the check at once. An encrypted map read without a password is checked by its readme's name
// only: which images it needs stays unknown.
ArchiveFindings checkArchive(ArchiveReader &reader, const QString &path,
                             const ArchiveCheckOptions &options);
