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
        for (const ArchiveItem &item : reader.items()) {
            if (!isSafeEntryName(item.name))
                m_findings.unsafe << item.name;
        }
        if (!m_findings.unsafe.isEmpty())
            return;
        reader.setPassword(m_options.password);
        // Every image is indexed before any map is checked; maps are read one at a time.
        if (!indexEntries(reader) || !checkMaps(reader))
            return;
        if (!m_options.password.isEmpty() && m_wrongPassword > 0 && m_decrypted == 0) {
            m_findings.error = QStringLiteral("the password is wrong: it opens none of the %1 "
                                              "encrypted entries")
                                   .arg(m_wrongPassword);
            return;
        }
        judgeArchive();
    }

private:
    // Reads every entry but the maps (unless told not to) and indexes the images by folder.
    // False when the archive turned out unreadable or unsound.
    bool indexEntries(ArchiveReader &reader) {
        const QHash<QString, int> sameName = namesOfSeveral(reader.items());
        for (const ArchiveItem &item : reader.items()) {
            if (item.name.endsWith(QLatin1Char('/')))
                continue;
            m_files << item.name;
            // Which of them a tool unpacks is anyone's guess: named once, none of them judged.
            if (const int count = sameName.value(item.name); count > 0) {
                if (!m_notJudged.contains(item.name))
                    m_findings.badEntries.append(
                        {item.name, QStringLiteral("%1 entries have this name").arg(count)});
                m_notJudged.insert(item.name);
                continue;
            }
            const EntryPlace place = placeOf(item.name, m_options.flat);
            const bool isMap = place.placed && inFolder(place, QStringLiteral("maps"), false) &&
                               place.name.endsWith(QLatin1String(".pms"), Qt::CaseInsensitive);
            QString problem;
            if (unchecked(item)) {
                m_findings.unchecked << item.name;
                m_notJudged.insert(item.name); // whether it is used stays unknown
            } else if (!isMap && m_options.readEveryEntry &&
                       !counted(reader, item,
                                reader.read(
                                    item, [](QByteArrayView) { return true; }, problem),
                                problem)) {
                if (!m_findings.error.isEmpty())
                    return false;
                problem = QStringLiteral("unreadable: ") + problem;
            }
            if (!problem.isEmpty()) {
                m_findings.badEntries.append({item.name, problem});
                m_notJudged.insert(item.name);
                continue;
            }
            if (place.placed)
                m_topFiles.insert(item.name.toCaseFolded(), item.name);
            if (isMap)
                m_maps << &item;
            if (!isMap && place.placed)
                indexImage(place, item.name);
        }
        return true;
    }

    // In a flat archive every image serves either folder; an edge texture has none.
    void indexImage(const EntryPlace &place, const QString &entry) {
        if (inFolder(place, QStringLiteral("scenery-gfx"), true))
            add(m_scenery, place, entry);
        if (inFolder(place, QStringLiteral("textures"), true))
            add(m_textures, place, entry);
        if (!m_options.flat && inFolder(place, QStringLiteral("textures/edges"), true))
            add(m_edges, place, entry);
    }

    // Reads each map in turn and looks up what it needs. False when the archive turned out
    // unreadable or unsound.
    bool checkMaps(ArchiveReader &reader) {
        for (const ArchiveItem *item : std::as_const(m_maps)) {
            m_used.insert(item->name);
            if (unchecked(*item)) {
                // Which images it needs is unknown; its readme is known by name.
                m_findings.maps << item->name;
                checkReadme(item->name);
                m_needsUnknown = true;
                continue;
            }
            QByteArray data;
            QString error;
            if (!counted(reader, *item, reader.readAll(*item, data, MapSizeLimit, error), error)) {
                if (!m_findings.error.isEmpty())
                    return false;
                m_findings.badEntries.append({item->name, QStringLiteral("unreadable: ") + error});
                continue;
            }
            m_findings.maps << item->name;
            checkMap(item->name, data);
        }
        return true;
    }

    // What the archive as a whole lacks, and what no map uses.
    void judgeArchive() {
        if (m_maps.isEmpty() && m_findings.badEntries.isEmpty())
            missing(QString(), QStringLiteral("map"), QStringLiteral("maps/*.pms"));
        if (m_options.format == ArchiveFormat::Smap) {
            // The server hands the archive out under its name, and the game opens that map.
            const QString expected =
                QStringLiteral("maps/") + m_options.serverMapName + QStringLiteral(".pms");
            if (!m_files.contains(expected))
                missing(QString(), QStringLiteral("map"), expected);
        }
        // While what a map needs is unknown, no entry can be called unused.
        for (const QString &file : m_needsUnknown ? QStringList() : m_files) {
            if (!m_used.contains(file) && !m_notJudged.contains(file))
                m_findings.unused << file;
        }
    }

    bool unchecked(const ArchiveItem &item) const {
        return item.encrypted && m_options.password.isEmpty();
    }

    // Passes `read` on, counting what decryption did: a password that opens no encrypted
    // entry is wrong. What the archive cannot answer for ends the check: an entry the system
    // cannot read makes it unreadable, one that unpacks to another size than it claims unsound.
    bool counted(const ArchiveReader &reader, const ArchiveItem &item, bool read,
                 const QString &problem) {
        const ReadFailure failure = read ? ReadFailure::None : reader.lastFailure();
        if (item.encrypted && read)
            ++m_decrypted;
        if (item.encrypted && failure == ReadFailure::WrongPassword)
            ++m_wrongPassword;
        if (failure == ReadFailure::System)
            m_findings.error = QStringLiteral("%1 could not be read: %2").arg(item.name, problem);
        if (failure == ReadFailure::SizeLie)
            m_findings.error =
                QStringLiteral("not a sound ZIP archive: %1: %2").arg(item.name, problem);
        return read;
    }

    // How many entries share each name that more than one has.
    static QHash<QString, int> namesOfSeveral(const QList<ArchiveItem> &items) {
        QHash<QString, int> count;
        for (const ArchiveItem &item : items)
            ++count[item.name];
        count.removeIf([](const auto &name) { return name.value() < 2; });
        return count;
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
    QList<const ArchiveItem *> m_maps;
    QStringList m_files;
    QSet<QString> m_notJudged; // neither used nor unused: unreadable, or not checked
    bool m_needsUnknown = false;
    int m_decrypted = 0;
    int m_wrongPassword = 0;
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
