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

// An entry's folder and name where it stands where the game looks (directly in a folder, or
// anywhere at the top of a flat archive); `placed` is false otherwise.
struct EntryPlace {
    bool placed = false;
    QString folder;
    QString name;
};

EntryPlace placeOf(const QString &entry, bool flat) {
    const qsizetype slash = entry.indexOf(QLatin1Char('/'));
    if (flat)
        return {slash < 0, QString(), entry};
    if (slash <= 0 || entry.indexOf(QLatin1Char('/'), slash + 1) >= 0)
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
        QSet<QString> bad;
        for (const ArchiveItem &item : items) {
            if (item.name.endsWith(QLatin1Char('/')))
                continue;
            files << item.name;
            const EntryPlace place = placeOf(item.name, m_options.flat);
            const bool isMap = place.placed && inFolder(place, QStringLiteral("maps"), false) &&
                               place.name.endsWith(QLatin1String(".pms"), Qt::CaseInsensitive);
            QString problem;
            if (item.encrypted && m_options.password.isEmpty())
                problem = QStringLiteral("encrypted");
            else if (!isMap && m_options.readEveryEntry &&
                     !reader.read(
                         item, [](QByteArrayView) { return true; }, problem))
                problem = QStringLiteral("unreadable: ") + problem;
            if (!problem.isEmpty()) {
                m_findings.badEntries.append({item.name, problem});
                bad.insert(item.name);
                continue;
            }
            if (place.placed)
                m_topFiles.insert(item.name.toCaseFolded(), item.name);
            if (isMap)
                maps << &item;
            // In a flat archive every image serves either folder.
            if (!isMap && place.placed && inFolder(place, QStringLiteral("scenery-gfx"), true))
                add(m_scenery, place, item.name);
            if (!isMap && place.placed && inFolder(place, QStringLiteral("textures"), true))
                add(m_textures, place, item.name);
        }

        for (const ArchiveItem *item : std::as_const(maps)) {
            QByteArray data;
            QString error;
            if (!reader.readAll(*item, data, MapSizeLimit, error)) {
                m_findings.badEntries.append({item->name, QStringLiteral("unreadable: ") + error});
                bad.insert(item->name);
                continue;
            }
            m_findings.maps << item->name;
            m_used.insert(item->name);
            checkMap(item->name, data);
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
        for (const QString &file : std::as_const(files)) {
            if (!m_used.contains(file) && !bad.contains(file))
                m_findings.unused << file;
        }
    }

private:
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
        const qsizetype slash = entry.lastIndexOf(QLatin1Char('/'));
        const QString readme =
            entry.left(slash + 1) + entry.mid(slash + 1).chopped(4) + QStringLiteral("_ReadMe.txt");
        const auto readmeEntry = m_topFiles.constFind(readme.toCaseFolded());
        if (readmeEntry == m_topFiles.constEnd())
            missing(entry, QStringLiteral("readme"), readme);
        else
            m_used.insert(*readmeEntry);

        static const DefaultSceneryTable none;
        const DefaultSceneryTable &stock = m_options.stock ? *m_options.stock : none;
        for (const NeededImage &image : imagesTheMapNeeds(map, stock, m_options.withTexture)) {
            const bool scenery = image.kind == NeededImage::Kind::Scenery;
            if (!find(scenery ? m_scenery : m_textures, image.name,
                      scenery ? &GameFolder::scenery : &GameFolder::texture))
                missing(entry, scenery ? QStringLiteral("scenery") : QStringLiteral("texture"),
                        image.name);
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
    QHash<QString, QString> m_topFiles; // entry folded -> entry, for readmes
    QSet<QString> m_used;
};

} // namespace

QList<NeededImage> imagesTheMapNeeds(const MapFileContents &map, const DefaultSceneryTable &stock,
                                     bool withTexture) {
    QList<NeededImage> needed;
    QSet<QString> seen;
    for (const QString &written : map.sceneryNames) {
        QString name = written;
        if (written.isEmpty() || CheckSc(name, stock) || seen.contains(name))
            continue;
        seen.insert(name);
        needed.append({NeededImage::Kind::Scenery, written});
    }
    if (withTexture && !map.texture.isEmpty())
        needed.append({NeededImage::Kind::Texture, map.texture});
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
