#include "package/ArchiveCheck.h"

#include "archive/ArchiveReader.h"
#include "intake/FileNames.h"
#include "intake/GameFolder.h"

#include <QBuffer>
#include <QHash>
#include <QSet>

namespace {

// A map is a few megabytes at most; anything larger is not one.
constexpr qint64 MapSizeLimit = 64 * 1024 * 1024;

// An image folder of the archive: the entries directly in it, by name.
struct EntryFolder {
    ImageNameIndex names;
    QHash<QString, QString> entries; // stored name -> entry
};

// An entry's folder and name where it stands where the game may look: directly in a folder or
// in a folder's folder (textures/edges), or anywhere at the top of a flat archive; `placed` is
// false otherwise.
struct EntryPlace {
    bool placed = false;
    QString folder;
    QString name;
};

EntryPlace placeOf(const QString &entry, bool flat) {
    const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
    if (flat)
        return {slash < 0, QString(), entry};
    if (slash <= 0 || entry.left(slash).count(QLatin1Char('/')) > 1)
        return {};
    return {true, entry.left(slash), entry.mid(slash + 1)};
}

class Check {
public:
    Check(const ArchiveCheckOptions &options, ArchiveFindings &findings)
        : m_options(options), m_findings(findings) {}

    void run(ArchiveReader &reader, const QString &path) {
        if (!reader.open(path, m_findings.error))
            return;
        const QList<ArchiveItem> &items = reader.items();
        for (const ArchiveItem &item : items) {
            if (!isSafeEntryName(item.name))
                m_findings.unsafe << item.name;
        }
        if (!m_findings.unsafe.isEmpty())
            return;
        reader.setPassword(m_options.password);

        // Every image is indexed before any map is checked; maps are read one at a time.
        QList<const ArchiveItem *> maps;
        QStringList files;
        QSet<QString> notJudged; // neither used nor unused: unreadable, or not checked
        bool needsUnknown = false;
        for (const ArchiveItem &item : items) {
            if (item.name.endsWith(QLatin1Char('/')))
                continue;
            files << item.name;
            const EntryPlace place = placeOf(item.name, m_options.flat);
            const bool isMap = place.placed && inFolder(place, QStringLiteral("maps"), false) &&
                               place.name.endsWith(QLatin1String(".pms"), Qt::CaseInsensitive);
            QString problem;
            if (unchecked(item)) {
                m_findings.unchecked << item.name;
                notJudged.insert(item.name); // whether it is used stays unknown
            } else if (!isMap && m_options.readEveryEntry &&
                       !counted(item, reader.read(
                                          item, [](QByteArrayView) { return true; }, problem)))
                problem = QStringLiteral("unreadable: ") + problem;
            if (!problem.isEmpty()) {
                m_findings.badEntries.append({item.name, problem});
                notJudged.insert(item.name);
                continue;
            }
            if (place.placed)
                m_topFiles.insert(item.name.toCaseFolded(), item.name);
            if (isMap)
                maps << &item;
            if (isMap || !place.placed)
                continue;
            // In a flat archive every image serves either folder; an edge texture has none.
            if (inFolder(place, QStringLiteral("scenery-gfx"), true))
                add(m_scenery, place, item.name);
            if (inFolder(place, QStringLiteral("textures"), true))
                add(m_textures, place, item.name);
            if (!m_options.flat && inFolder(place, QStringLiteral("textures/edges"), true))
                add(m_edges, place, item.name);
        }

        for (const ArchiveItem *item : std::as_const(maps)) {
            m_used.insert(item->name);
            if (unchecked(*item)) {
                // Which images it needs is unknown; its readme is known by name.
                m_findings.maps << item->name;
                checkReadme(item->name);
                needsUnknown = true;
                continue;
            }
            QByteArray data;
            QString error;
            if (!counted(*item, reader.readAll(*item, data, MapSizeLimit, error))) {
                m_findings.badEntries.append({item->name, QStringLiteral("unreadable: ") + error});
                continue;
            }
            m_findings.maps << item->name;
            checkMap(item->name, data);
        }
        if (!m_options.password.isEmpty() && m_decryptFailures > 0 && m_decrypted == 0) {
            m_findings.error = QStringLiteral("the password is wrong: it opens none of the %1 "
                                              "encrypted entries")
                                   .arg(m_decryptFailures);
            return;
        }
        if (maps.isEmpty() && m_findings.badEntries.isEmpty())
            missing(QString(), QStringLiteral("map"), QStringLiteral("maps/*.pms"));
        if (m_options.format == ArchiveFormat::Smap) {
            // The server hands the archive out under its name, and the game opens that map.
            const QString expected =
                QStringLiteral("maps/") + m_options.serverMapName + QStringLiteral(".pms");
            if (!files.contains(expected))
                missing(QString(), QStringLiteral("map"), expected);
        }
        // While what a map needs is unknown, no entry can be called unused.
        for (const QString &file : needsUnknown ? QStringList() : files) {
            if (!m_used.contains(file) && !notJudged.contains(file))
                m_findings.unused << file;
        }
    }

private:
    bool unchecked(const ArchiveItem &item) const {
        return item.encrypted && m_options.password.isEmpty();
    }

    // Passes `read` on, counting what decryption did: a password that opens no encrypted
    // entry is wrong.
    bool counted(const ArchiveItem &item, bool read) {
        if (item.encrypted)
            ++(read ? m_decrypted : m_decryptFailures);
        return read;
    }

    // The game matches a server archive's image folders exactly, anything else ignoring case.
    bool inFolder(const EntryPlace &place, const QString &lower, bool image) const {
        if (m_options.flat)
            return true;
        if (image && m_options.format == ArchiveFormat::Smap)
            return place.folder == lower;
        return place.folder.compare(lower, Qt::CaseInsensitive) == 0;
    }

    static void add(EntryFolder &folder, const EntryPlace &place, const QString &entry) {
        folder.names.add(place.name);
        folder.entries.insert(place.name, entry);
    }

    void missing(const QString &map, const QString &kind, const QString &name) {
        m_findings.missing.append({map, kind, name});
    }

    void checkReadme(const QString &entry) {
        const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
        const QString readme =
            entry.left(slash + 1) + entry.mid(slash + 1).chopped(4) + QStringLiteral("_ReadMe.txt");
        const auto readmeEntry = m_topFiles.constFind(readme.toCaseFolded());
        if (readmeEntry == m_topFiles.constEnd())
            missing(entry, QStringLiteral("readme"), readme);
        else
            m_used.insert(*readmeEntry);
    }

    void checkMap(const QString &entry, const QByteArray &data) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        MapFileContents map;
        QString error;
        if (!readMapFrom(buffer, entry, map, error)) {
            m_findings.badEntries.append({entry, QStringLiteral("unreadable: ") + error});
            return;
        }
        if (!map.refused.isEmpty())
            m_findings.refusedByGame.append({entry, map.refused});
        checkReadme(entry);

        static const DefaultSceneryTable none;
        const DefaultSceneryTable &stock = m_options.stock ? *m_options.stock : none;
        for (const NeededImage &image : imagesTheMapNeeds(map, stock, m_options.withTexture)) {
            switch (image.kind) {
            case NeededImage::Kind::Scenery:
                if (!find(m_scenery, image.name, &GameFolder::scenery))
                    missing(entry, QStringLiteral("scenery"), image.name);
                break;
            case NeededImage::Kind::Texture:
                if (!find(m_textures, image.name, &GameFolder::texture))
                    missing(entry, QStringLiteral("texture"), image.name);
                break;
            case NeededImage::Kind::EdgeTexture:
                if (!find(m_edges, image.name, &GameFolder::edgeTexture) &&
                    m_options.edgeTextureRequired)
                    missing(entry, QStringLiteral("edge texture"), image.name);
                break;
            }
        }
    }

    // The game's lookup over the archive and, where given, the game folder: the first name
    // tried that either holds wins.
    bool find(const EntryFolder &folder, const QString &written,
              ImageFile (GameFolder::*inGame)(const QString &) const) {
        if (!isPlainFileName(written))
            return false;
        for (const QString &candidate : gameImageCandidates(written)) {
            const QString stored = folder.names.find(candidate);
            if (!stored.isEmpty()) {
                m_used.insert(folder.entries.value(stored));
                return true;
            }
            if (m_options.game && (m_options.game->*inGame)(candidate).found())
                return true;
        }
        return false;
    }

    const ArchiveCheckOptions &m_options;
    ArchiveFindings &m_findings;
    EntryFolder m_scenery;
    EntryFolder m_textures;
    EntryFolder m_edges;
    QHash<QString, QString> m_topFiles; // entry folded -> entry, for readmes
    QSet<QString> m_used;
    int m_decrypted = 0;
    int m_decryptFailures = 0;
};

} // namespace

QList<NeededImage> imagesTheMapNeeds(const MapFileContents &map, const DefaultSceneryTable &stock,
                                     bool withTexture) {
    QList<NeededImage> needed;
    const QSet<QString> used = sceneriesInUse(map);
    QSet<QString> seen;
    for (const QString &written : map.sceneryNames) {
        QString name = written;
        if (written.isEmpty() || CheckSc(name, stock) || !used.contains(name) ||
            seen.contains(name))
            continue;
        seen.insert(name);
        needed.append({NeededImage::Kind::Scenery, written});
    }
    if (withTexture && !map.texture.isEmpty()) {
        needed.append({NeededImage::Kind::Texture, map.texture});
        needed.append({NeededImage::Kind::EdgeTexture, map.texture});
    }
    return needed;
}

bool isSafeEntryName(const QString &name) {
    if (name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':') && name.at(0).isLetter())
        return false;
    for (const QStringView part : QStringView(name).split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return false;
    }
    return true;
}

ArchiveFindings checkArchive(ArchiveReader &reader, const QString &path,
                             const ArchiveCheckOptions &options) {
    ArchiveFindings findings;
    Check(options, findings).run(reader, path);
    return findings;
}
