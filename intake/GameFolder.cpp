#include "intake/GameFolder.h"

#include "intake/FileNames.h"
#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

QStringList gameImageCandidates(const QString &name) {
    const QString lower = name.toLower();
    const qsizetype dot = lower.lastIndexOf(QLatin1Char('.'));
    const QString png = (dot < 0 ? lower : lower.left(dot)) + QStringLiteral(".png");
    if (png == lower)
        return {lower};
    return {png, lower};
}

void ImageNameIndex::add(const QString &storedName) {
    QStringList &names = m_names[storedName.toLower()];
    names.insert(std::lower_bound(names.begin(), names.end(), storedName), storedName);
}

QString ImageNameIndex::find(const QString &candidate) const {
    const auto it = m_names.constFind(candidate.toLower());
    if (it == m_names.constEnd())
        return {};
    return it->contains(candidate) ? candidate : it->first();
}

GameFolder::GameFolder(const QString &root)
    : m_root(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/')),
      m_canonicalRoot(QFileInfo(root).canonicalFilePath()),
      m_scenery(list(m_root, m_canonicalRoot, QStringLiteral("scenery-gfx"))),
      m_textures(list(m_root, m_canonicalRoot, QStringLiteral("Textures"))) {
    if (!m_textures.path.isEmpty()) {
        m_edges = list(m_textures.path, m_canonicalRoot, QStringLiteral("edges"));
        // Named from the game folder, as the other images are.
        m_edges.storedName = m_textures.storedName + QLatin1Char('/') + m_edges.storedName;
    }
    for (const ImageFolder *folder : {&m_scenery, &m_textures, &m_edges}) {
        if (m_listingError.isEmpty()) {
            m_unlistedFolder = folder->unlisted;
            m_listingError = folder->listingError;
        }
    }
}

GameFolderNames gameFolderNames(const QString &root) {
    auto stored = [&](const char *name) {
        return QFileInfo(findFolderIgnoringCase(root, QLatin1String(name))).fileName();
    };
    return {stored("maps"), stored("scenery-gfx"), stored("textures")};
}

GameFolder::ImageFolder GameFolder::list(const QString &root, const QString &canonicalRoot,
                                         const QString &folderName) {
    ImageFolder folder;
    folder.path = findFolderIgnoringCase(root, folderName, &folder.listingError);
    if (!folder.listingError.isEmpty())
        folder.unlisted = root;
    if (folder.path.isEmpty())
        return folder;
    folder.storedName = QFileInfo(folder.path).fileName();
    // Judged like an image file: a link that leads out of the game folder is not followed.
    if (!isInsideFolder(QFileInfo(folder.path).canonicalFilePath(), canonicalRoot)) {
        folder.path.clear();
        folder.leavesGame = true;
        return folder;
    }
    // The directory's own entry types are enough here: no file is opened or looked at more
    // closely until a map asks for it.
    QList<platform::FolderEntry> entries;
    QString error;
    if (!platform::listFolder(folder.path, entries, error)) {
        folder.unlisted = folder.path;
        folder.listingError = error;
    }
    for (const platform::FolderEntry &entry : std::as_const(entries)) {
        if (entry.name.startsWith(QLatin1Char('.')))
            continue;
        if (entry.kind == platform::FolderEntry::Kind::Link) {
            folder.names.add(entry.name);
            folder.links.insert(entry.name);
        } else if (entry.kind == platform::FolderEntry::Kind::File) {
            folder.names.add(entry.name);
        }
    }
    return folder;
}

ImageFile GameFolder::lookup(const ImageFolder &folder, const QString &name) const {
    ImageFile image;
    if (!isPlainFileName(name)) {
        image.reason = ImageMissing::NotPlainName;
        return image;
    }
    image.reason =
        folder.leavesGame ? ImageMissing::LinkOutOfGameFolder : ImageMissing::NotInGameFolder;
    if (folder.path.isEmpty())
        return image;
    for (const QString &candidate : gameImageCandidates(name)) {
        const QString stored = folder.names.find(candidate);
        if (stored.isEmpty())
            continue;
        const QString path = folder.path + QLatin1Char('/') + stored;
        QString target = path;
        if (folder.links.contains(stored)) {
            // The game would follow the link; only a target inside the game folder is used.
            target = QFileInfo(path).canonicalFilePath();
            if (target.isEmpty() || !QFileInfo(target).isFile())
                continue; // a broken link: the game goes on with the next name, and so do we
            if (!isInsideFolder(target, m_canonicalRoot)) {
                image.reason = ImageMissing::LinkOutOfGameFolder;
                return image;
            }
        }
        image.path = path;
        image.target = target;
        image.storedName = stored;
        image.relative = folder.storedName + QLatin1Char('/') + stored;
        image.reason.clear();
        return image;
    }
    return image;
}

ImageFile GameFolder::scenery(const QString &name) const {
    return lookup(m_scenery, name);
}

ImageFile GameFolder::texture(const QString &name) const {
    return lookup(m_textures, name);
}

ImageFile GameFolder::edgeTexture(const QString &textureName) const {
    return lookup(m_edges, textureName);
}

std::shared_ptr<const GameFolder> GameFolderCache::get(const QString &root) {
    std::shared_ptr<const GameFolder> &folder = m_folders[root];
    if (!folder)
        folder = std::make_shared<const GameFolder>(root);
    return folder;
}

QString GameFolderCache::rootFor(const QString &mapFolder, const std::function<QString()> &derive) {
    const auto it = m_roots.find(mapFolder);
    if (it != m_roots.end())
        return it->second;
    return m_roots.emplace(mapFolder, derive()).first->second;
}
