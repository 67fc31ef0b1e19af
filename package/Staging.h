#pragma once
// The staging tree: TEMP with the map, image and texture folders. Every build stages what goes
// into the archive here; the engine packs TEMP into TEMP/<name>.zip. The tree lives in a
// staging folder of its own: a private one under the system's temporary folder (the wizard,
// mapzip by default) or one the user names (mapzip --staging).

#include "intake/GameFolder.h"
#include "platform/Platform.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QFile;
class QTemporaryDir;

// A ZIP to unpack into the game folder, or a map archive that the game's server hands out as
// it is (folders "maps", "scenery-gfx", "textures", matched exactly by the game).
enum class ArchiveFormat { Zip, Smap };

// ".smap" in any letter case is a server map archive; anything else a ZIP.
ArchiveFormat formatForPath(const QString &archivePath);

struct StagingPaths {
    QString root;     // <staging folder>/TEMP
    QString maps;     // <root>/<mapsFolder>
    QString scenery;  // <root>/<sceneryFolder>
    QString textures; // <root>/<texturesFolder>
    QString edges;    // <root>/<edgesFolder>, made only for an edge texture
    // The folders' names, which are also their names inside the archive.
    QString mapsFolder;
    QString sceneryFolder;
    QString texturesFolder;
    QString edgesFolder; // <texturesFolder>/edges

    // In a ZIP the folders are named as the game folder's own (`game`), so that the archive
    // unpacks into them on a file system that minds letter case; a folder the game lacks is
    // "Maps", "Scenery-gfx" or "Textures", lower-cased when the game's folders are. A server
    // map archive's are always lower case.
    static StagingPaths under(const QString &stagingFolder,
                              ArchiveFormat format = ArchiveFormat::Zip,
                              const GameFolderNames &game = {});
};

// Deletes every file in TEMP and below it; folders stay. Errors are ignored.
void fullCleanup(const QString &stagingFolder);

// Prepares TEMP for one build: removes everything in it (links are removed, never followed)
// except the three folders of StagingPaths::under(stagingFolder, format, game), which are
// emptied, and the file `keepFileName` (this map's staged archive, for update and freshen),
// then creates what is missing. False, with `error` naming the folder and the cause, when the
// tree cannot be made.
bool buildCleanup(const QString &stagingFolder, ArchiveFormat format, const QString &keepFileName,
                  QString &error, const GameFolderNames &game = {});

// For a staging folder that the user names: TEMP and every folder in it, where they exist,
// must be real folders (not links) that belong to the user and that not everybody may write
// into. False, with `error` naming the part, otherwise.
bool checkStagingTree(const QString &stagingFolder, QString &error);

// Holds a staging folder for one run, so that two runs never mix their files: a lock file
// beside TEMP, locked while the run lives (the system drops the lock when the run ends, however
// it ends) and holding the run's process number.
class StagingLock {
public:
    StagingLock();
    ~StagingLock();
    // Waits up to `waitMs` for the folder (made when missing). False, with `error` "staging
    // folder in use by process N" or the cause, when it stays held or cannot be locked.
    bool lock(const QString &stagingFolder, int waitMs, QString &error);
    // Releases the folder (also done by the destructor).
    void unlock();
    // The lock file, while the folder is held.
    QString fileName() const;

private:
    std::unique_ptr<QFile> m_lock;
    QString m_path;
};

// The names the private staging folders of the window, of mapzip pack and of mapzip preview
// begin with.
inline const QString WindowStagingPrefix = QStringLiteral("velquarindostrammelfenboriax");
inline const QString PackStagingPrefix = QStringLiteral("mapzip-pack");
inline const QString PreviewStagingPrefix = QStringLiteral("mapzip-preview");
inline const QStringList StagingPrefixes = {WindowStagingPrefix, PackStagingPrefix,
                                            PreviewStagingPrefix};

// A staging folder of one run's own under the system's temporary folder, readable only by
// the user, removed with the object. Its name is `prefix` + "-" + six letters, and its lock
// file is one only such folders have: together they mark it as ours.
class PrivateStagingFolder {
public:
    explicit PrivateStagingFolder(const QString &prefix);
    ~PrivateStagingFolder();
    bool isValid() const;
    QString path() const;
    QString errorString() const;
    // Removes the folder now (also done by the destructor).
    void remove();

    // Removes the folders that runs which are gone left behind: those with our name (one of
    // `prefixes`) and lock file whose lock nobody holds. Folders of running programs stay, and
    // so does anything else under the temporary folder, whatever its name. By default the
    // leftovers of the window and of mapzip alike: either program removes the other's.
    static void removeAbandoned(const QStringList &prefixes = StagingPrefixes);

private:
    // Makes a folder and takes its lock; false when either fails or a clean-up took the folder.
    bool makeLocked(const QString &prefix);
    static void removeIfAbandoned(const QString &folder);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QFile> m_lock;
    QString m_error;
};

struct FillInputs {
    QStringList addList;   // entries of the add list, in order, "(!) " markers included
    QString soldatPath;    // game root, ends with '/'
    QString textureName;   // as the map writes it
    QString mapPath;       // the map file to stage
    QString stagedMapName; // name of the staged map and readme, without extension
    bool withTexture = true;
    bool withEdgeTexture = true; // with the texture: its edge texture, where the game has one
    ArchiveFormat format = ArchiveFormat::Zip;
    GameFolderNames gameFolders;         // see StagingPaths::under
    std::function<bool()> stopRequested; // checked between files and copied MiBs; may be empty
};

struct StagedFile {
    QString entry;  // relative to TEMP: "Scenery-gfx/WATER.PNG"
    QString path;   // the staged file
    QString source; // the file it was staged from
    qint64 size = 0;
    // The state of `source` that was linked or copied (see confirmCopies).
    std::optional<platform::FileStamp> stagedFrom = std::nullopt;
};

struct LeftOutFile {
    QString entry;  // as the map names it: "Scenery-gfx/water.bmp"
    QString reason; // "not in the game folder", "excluded", ...
};

struct FillReport {
    // Set when a file could not be staged (read, written, or its folder listed): the build must
    // stop. A file the game folder lacks is no failure but a gap (leftOut).
    QString failedFile;               // the file or folder, as the system shows paths
    QString failure;                  // the system's reason ("No space left on device")
    QList<StagedFile> staged;         // the map first, then sceneries in list order, the texture
    QList<LeftOutFile> leftOut;       // images the map needs that the game folder lacks
    int sceneriesStaged = 0;          // distinct scenery files staged
    bool edgeTextureExpected = false; // the game has an edge texture for the staged texture
    qint64 newestModified = 0;        // newest modification time (seconds since 1970) staged
    bool stopped = false;             // stopRequested() said so; the fill ended early

    bool failed() const { return !failure.isEmpty(); }
    void fail(const QString &file, const QString &reason);
};

// The two steps of filling the tree, in this order. stageMap copies the map (never links it:
// the map may be saved again meanwhile, and what is read from the copy must be what gets
// packed); false, with the report's failure set, when it cannot. stageImages then stages every
// scenery of the add list and (when asked) the texture and its edge texture, each as the file
// the game loads for it (see GameFolder), under its name on disk; an entry marked "(!) " is
// looked up again. A game without an edge texture leaves none out: the game has a default.
// Images are linked into the tree where the file system allows (staged files are only ever
// read) and copied otherwise, each copy one state of its file (copySnapshot). Images the game
// folder lacks are collected with their reasons; the same file is staged once. Any error of the
// system (a file or folder that cannot be read, a full disk) ends the fill as a failure.
bool stageMap(const QString &stagingFolder, const FillInputs &inputs, FillReport &report);
void stageImages(const QString &stagingFolder, const FillInputs &inputs, FillReport &report);

// Whether each file of `report` that was copied is still, in place, the state it was copied
// from (stillAsCopied): asked once the archive was written, when a rewrite that began during the
// copy has shown. False, with the report's failure set, at the first that is not.
bool confirmCopies(FillReport &report);
