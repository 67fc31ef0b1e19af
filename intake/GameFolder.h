#pragma once
// How the game finds a map's images in its folder, and the one place that looks them up.
//
// The game lower-cases an image's name, tries it first with its extension changed to ".png"
// (whatever extension the map wrote), then as written; both lookups ignore letter case.
// Sceneries are looked up in scenery-gfx, the texture in Textures, its edge texture in
// Textures/edges (folder names in any case).

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>

// The names the game tries for an image, in order: "Water.BMP" gives water.png, water.bmp.
QStringList gameImageCandidates(const QString &name);

// Stored file names, found the way the game finds them: letter case ignored, and among names
// that differ only in case the one written like the candidate wins, else the first in order.
class ImageNameIndex {
public:
    void add(const QString &storedName);
    // The stored name for `candidate`, or an empty string.
    QString find(const QString &candidate) const;
    bool isEmpty() const { return m_names.isEmpty(); }

private:
    QHash<QString, QStringList> m_names; // lower-cased name -> stored names, sorted
};

// Reasons why the game would not load an image, as shown to the user.
namespace ImageMissing {
inline const QString NotPlainName = QStringLiteral("not a plain file name");
inline const QString NotInGameFolder = QStringLiteral("not in the game folder");
inline const QString LinkOutOfGameFolder = QStringLiteral("link out of the game folder");
} // namespace ImageMissing

// The file the game loads for one image name.
struct ImageFile {
    QString path;       // the file in the game folder (a link in it, where it is one); empty: none
    QString target;     // the file whose data is read: `path`, or a link's final target
    QString storedName; // its name as stored on disk, e.g. "WATER.PNG"
    QString
        relative; // folder and name as stored, relative to the game folder: "scenery-gfx/WATER.PNG"
    QString reason; // why there is none (ImageMissing), empty when found
    bool found() const { return !path.isEmpty(); }
};

// The names a game folder's own maps, scenery-gfx and Textures folders have on disk ("Maps",
// "maps", ...); empty for a folder it lacks.
struct GameFolderNames {
    QString maps;
    QString scenery;
    QString textures;
};
GameFolderNames gameFolderNames(const QString &root);

// One game folder's scenery-gfx, Textures and Textures/edges, each listed once when the object
// is made: plain, visible files, and links whose final target is a file inside the game folder.
// A link that leads out of the game folder is never used, be it an image or an image folder:
// the image counts as not found.
class GameFolder {
public:
    explicit GameFolder(const QString &root);

    const QString &root() const { return m_root; } // ends with '/'
    ImageFile scenery(const QString &name) const;
    ImageFile texture(const QString &name) const;
    // The edge texture the game draws along polygon edges of a map with texture `textureName`
    // ("Textures/edges/..."). Without one the game uses a default, so none is no gap.
    ImageFile edgeTexture(const QString &textureName) const;
    // True when it has a scenery-gfx folder, which is what makes it a game folder.
    bool hasSceneryFolder() const { return !m_scenery.path.isEmpty() || m_scenery.leavesGame; }
    // The system's reason when a folder that was looked in could not be listed (the game root
    // or an image folder; empty when all could): what it holds is then unknown, not missing.
    const QString &listingError() const { return m_listingError; }
    const QString &unlistedFolder() const { return m_unlistedFolder; }

private:
    struct ImageFolder {
        QString path;       // empty when the game has no such folder
        QString storedName; // the folder's name on disk
        ImageNameIndex names;
        QSet<QString> links;     // stored names that are symbolic links; the rest are plain files
        bool leavesGame = false; // the folder is a link out of the game folder: not used
        QString unlisted;        // a folder that could not be listed, and why
        QString listingError;
    };
    static ImageFolder list(const QString &root, const QString &canonicalRoot,
                            const QString &folderName);
    ImageFile lookup(const ImageFolder &folder, const QString &name) const;

    QString m_root;
    QString m_canonicalRoot;
    ImageFolder m_scenery;
    ImageFolder m_textures;
    ImageFolder m_edges;
    QString m_unlistedFolder;
    QString m_listingError;
};

// Game folders by their root, each listed once for as long as the cache lives: mapzip reads
// many maps of one game with a single listing.
class GameFolderCache {
public:
    std::shared_ptr<const GameFolder> get(const QString &root);
    // The game root of maps in `mapFolder`: `derive` runs once per folder, later calls reuse it.
    QString rootFor(const QString &mapFolder, const std::function<QString()> &derive);

private:
    std::map<QString, std::shared_ptr<const GameFolder>> m_folders;
    std::map<QString, QString> m_roots;
};
