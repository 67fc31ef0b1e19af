#include "intake/MapReader.h"

#include "intake/DefaultSceneries.h"
#include "intake/FileNames.h"
#include "intake/GameLimits.h"
#include "platform/Platform.h"
#include "text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <limits>

namespace {

// Layout of the map file.
constexpr qint64 HeaderSize = 92; // up to and including the polygon count
constexpr qint64 DescriptionSize = 38;
constexpr qint64 TextureSize = 24;
constexpr qint64 PolygonRecordSize = 121;
constexpr qint64 SectorHeaderSize = 8;
constexpr int SectorCount = 2601;
constexpr qint64 PropRecordSize = 44;
constexpr qint64 SceneryNameSize = 50;
constexpr qint64 SceneryRecordSize = 55;
constexpr qint64 ColliderRecordSize = 16;
constexpr qint64 SpawnPointRecordSize = 16;
constexpr qint64 WaypointRecordSize = 112;
constexpr qint32 MaxSectorCount = 16383;  // 2 * count must fit 16 bits
constexpr qint32 MaxSceneryCount = 32767; // the count must fit 16 bits
constexpr qint64 MaxPosition = std::numeric_limits<qint32>::max();

// The fields of one record, read one after another. The record must hold them all.
class Fields {
public:
    explicit Fields(QByteArrayView bytes) : m_bytes(bytes) {}

    quint8 u8() { return static_cast<quint8>(m_bytes[m_at++]); }
    quint16 u16() { return qFromLittleEndian<quint16>(take(2)); }
    qint32 i32() { return qFromLittleEndian<qint32>(take(4)); }
    float f32() { return std::bit_cast<float>(qFromLittleEndian<quint32>(take(4))); }
    MapColour colour() {
        MapColour colour;
        colour.blue = u8();
        colour.green = u8();
        colour.red = u8();
        colour.alpha = u8();
        return colour;
    }
    // A length byte followed by a fixed field: the first `length` characters (all when longer).
    QString text(qsizetype fieldSize) {
        const qsizetype length = std::min<qsizetype>(u8(), fieldSize);
        return fromCodePage(QByteArrayView(take(fieldSize), length));
    }
    void skip(qsizetype count) { m_at += count; }

private:
    const char *take(qsizetype count) {
        const char *at = m_bytes.data() + m_at;
        m_at += count;
        return at;
    }
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

// Reads a file front to back through a window buffer, so that thousands of small reads cost
// one system call per window. Every read is checked against the file's size; the first
// failure is kept as a sentence.
class MapCursor {
public:
    explicit MapCursor(QIODevice &file) : m_file(file), m_size(file.size()) {}

    bool failed() const { return !m_error.isEmpty(); }
    qint64 remaining() const { return m_size - m_position; }
    const QString &error() const { return m_error; }

    // Moves forward by `count` bytes inside the block named `where`.
    bool skip(qint64 count, const char *where) {
        if (!require(count, where))
            return false;
        m_position += count;
        return true;
    }

    // The next `count` bytes, valid until the next read; empty on failure.
    QByteArrayView read(qint64 count, const char *where) {
        if (!require(count, where))
            return {};
        if (m_position < m_windowStart || m_position + count > m_windowStart + m_window.size()) {
            if (!m_file.seek(m_position)) {
                fail(QStringLiteral("cannot seek to byte %1: %2")
                         .arg(m_position)
                         .arg(m_file.errorString()));
                return {};
            }
            m_window = m_file.read(std::max<qint64>(count, WindowSize));
            m_windowStart = m_position;
            if (m_window.size() < count) {
                fail(QStringLiteral("cannot read at byte %1: %2")
                         .arg(m_position)
                         .arg(m_file.errorString()));
                return {};
            }
        }
        const QByteArrayView bytes =
            QByteArrayView(m_window).sliced(m_position - m_windowStart, count);
        m_position += count;
        return bytes;
    }

    qint32 readInt32(const char *where) {
        const QByteArrayView bytes = read(4, where);
        return bytes.isEmpty() ? 0 : Fields(bytes).i32();
    }

    qint16 readInt16(const char *where) {
        const QByteArrayView bytes = read(2, where);
        return bytes.isEmpty() ? 0 : static_cast<qint16>(Fields(bytes).u16());
    }

    void fail(const QString &what) {
        if (m_error.isEmpty())
            m_error = what;
    }

    // True when `count` more bytes lie inside the file; fails otherwise.
    bool require(qint64 count, const char *where) {
        if (failed())
            return false;
        if (m_position + count > m_size) {
            fail(QStringLiteral("file ends at byte %1, inside the %2")
                     .arg(m_size)
                     .arg(QLatin1String(where)));
            return false;
        }
        if (m_position + count > MaxPosition) {
            fail(QStringLiteral("the %1 reach past the largest readable position")
                     .arg(QLatin1String(where)));
            return false;
        }
        return true;
    }

private:
    static constexpr qint64 WindowSize = 64 * 1024;

    QIODevice &m_file;
    const qint64 m_size;
    qint64 m_position = 0;
    QByteArray m_window;
    qint64 m_windowStart = 0;
    QString m_error;
};

// A count must lie in [0, limit]; otherwise the map is not read further. `what` names the
// count and is only called when the count is refused.
template <typename Describe>
bool checkCount(MapCursor &cursor, qint64 count, qint64 limit, Describe what) {
    if (cursor.failed())
        return false;
    if (count >= 0 && count <= limit)
        return true;
    if (count < 0)
        cursor.fail(QStringLiteral("%1 is negative (%2)").arg(what()).arg(count));
    else
        cursor.fail(
            QStringLiteral("%1 is too large (%2, at most %3)").arg(what()).arg(count).arg(limit));
    return false;
}

// Reads `count` records of `size` bytes, each made into an item by `make`. The whole block
// must be there before anything is made for it: a damaged count fails at once.
template <typename Item, typename Make>
void readRecords(MapCursor &cursor, qint32 count, qint64 size, const char *where,
                 QList<Item> &items, Make make) {
    if (!cursor.require(size * count, where))
        return;
    items.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        const QByteArrayView record = cursor.read(size, where);
        if (record.isEmpty())
            return;
        items.append(make(Fields(record)));
    }
}

// Why the file is no map at all, judged by its size and first bytes; empty when it may be one.
QString whyNotAMap(QIODevice &file) {
    const qint64 size = file.size();
    if (size == 0)
        return QStringLiteral("is empty");
    QByteArray head;
    if (file.seek(0))
        head = file.read(64);
    if (head.size() >= 4 && Fields(head).i32() == MapFormatVersion)
        return {};
    static const struct {
        QByteArrayView signature;
        const char *kind;
    } known[] = {{"\x89PNG", "a PNG image"},
                 {"BM", "a BMP image"},
                 {"\xFF\xD8\xFF", "a JPEG image"},
                 {"GIF8", "a GIF image"},
                 {"PK\x03\x04", "a ZIP archive"}};
    for (const auto &[signature, kind] : known) {
        if (head.startsWith(signature))
            return QStringLiteral("is %1").arg(QLatin1String(kind));
    }
    const bool text = std::all_of(head.begin(), head.end(), [](char c) {
        const auto byte = static_cast<quint8>(c);
        return byte >= 0x20 || c == '\t' || c == '\n' || c == '\r';
    });
    if (text)
        return QStringLiteral("is text");
    if (size < 4)
        return QStringLiteral("is only %1 byte(s) long").arg(size);
    return QStringLiteral("does not begin with the version of a map (%1)").arg(MapFormatVersion);
}

MapPolygon polygonFrom(Fields fields) {
    MapPolygon polygon;
    for (MapVertex &vertex : polygon.vertices) {
        vertex.x = fields.f32();
        vertex.y = fields.f32();
        vertex.z = fields.f32();
        vertex.rhw = fields.f32();
        vertex.colour = fields.colour();
        vertex.u = fields.f32();
        vertex.v = fields.f32();
    }
    for (auto &normal : polygon.normals) {
        for (float &value : normal)
            value = fields.f32();
    }
    polygon.type = fields.u8();
    return polygon;
}

MapProp propFrom(Fields fields) {
    MapProp prop;
    prop.active = fields.u8() != 0;
    fields.skip(1);
    prop.style = fields.u16();
    prop.width = fields.i32();
    prop.height = fields.i32();
    prop.x = fields.f32();
    prop.y = fields.f32();
    prop.rotation = fields.f32();
    prop.scaleX = fields.f32();
    prop.scaleY = fields.f32();
    prop.alpha = fields.u8();
    fields.skip(3);
    prop.colour = fields.colour();
    prop.level = fields.u8();
    return prop;
}

// The header's fields into `read`; returns the polygon count, or -1 when the file ends first.
qint32 readHeader(MapCursor &cursor, MapFileContents &read) {
    const QByteArrayView header = cursor.read(HeaderSize, "header");
    if (header.isEmpty())
        return -1;
    Fields fields(header);
    read.version = fields.i32();
    read.description = fields.text(DescriptionSize);
    read.texture = fields.text(TextureSize);
    read.backgroundTop = fields.colour();
    read.backgroundBottom = fields.colour();
    read.jetAmount = fields.i32();
    read.grenades = fields.u8();
    read.medikits = fields.u8();
    read.weather = fields.u8();
    read.steps = fields.u8();
    read.randomId = fields.i32();
    return fields.i32();
}

// The sector grid's size and its 2601 lists of polygon numbers, which are skipped.
void readSectors(MapCursor &cursor, MapFileContents &read) {
    if (const QByteArrayView sectors = cursor.read(SectorHeaderSize, "sector lists");
        !sectors.isEmpty()) {
        Fields fields(sectors);
        read.sectorDivision = fields.i32();
        read.sectorCount = fields.i32();
        judgeCount(MapBlock::Sectors, read.sectorCount, read.refused);
    }
    qint16 largest = 0;
    for (int sector = 0; sector < SectorCount && !cursor.failed(); ++sector) {
        const qint16 count = cursor.readInt16("sector lists");
        if (checkCount(cursor, count, MaxSectorCount, [sector] {
                return QStringLiteral("the count of sector %1").arg(sector + 1);
            }))
            cursor.skip(2 * qint64(count), "sector lists");
        largest = std::max(largest, count);
    }
    judgeCount(MapBlock::SectorPolygons, largest, read.refused);
}

// The blocks after the scenery list: the archive needs nothing of them, the game refuses a map
// by their counts. Judged where the file holds them: a file that ends before one of them is not
// judged by it, as the reader has never needed what follows the scenery list.
void judgeLaterBlocks(MapCursor &cursor, QList<RefusedCount> &refused) {
    static const struct {
        MapBlock block;
        qint64 recordSize;
    } blocks[] = {{MapBlock::Colliders, ColliderRecordSize},
                  {MapBlock::SpawnPoints, SpawnPointRecordSize},
                  {MapBlock::Waypoints, WaypointRecordSize}};
    for (const auto &[block, recordSize] : blocks) {
        if (cursor.failed() || cursor.remaining() < 4)
            return;
        const qint32 count = cursor.readInt32("later blocks");
        judgeCount(block, count, refused);
        if (count < 0 || cursor.remaining() < recordSize * count ||
            !cursor.skip(recordSize * count, "later blocks"))
            return;
    }
}

QString withClosingSlash(const QString &folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

} // namespace

bool readMapFile(const QString &path, MapFileContents &contents, QString &error) {
    const QString shownPath = QDir::toNativeSeparators(path);
    QFile file;
    QString why;
    if (!platform::openRegularFile(path, file, why)) {
        error = QStringLiteral("%1: cannot be read as a map file (%2)").arg(shownPath, why);
        return false;
    }
    return readMapFrom(file, shownPath, contents, error);
}

bool readMapFrom(QIODevice &file, const QString &shownPath, MapFileContents &contents,
                 QString &error) {
    if (const QString why = whyNotAMap(file); !why.isEmpty()) {
        error = QStringLiteral("This is not a Soldat map: %1 %2").arg(shownPath, why);
        return false;
    }
    MapCursor cursor(file);
    MapFileContents read;
    const qint32 polygons = readHeader(cursor, read);
    if (checkCount(cursor, polygons, (MaxPosition - HeaderSize) / PolygonRecordSize,
                   [] { return QStringLiteral("the polygon count"); }))
        readRecords(cursor, polygons, PolygonRecordSize, "polygon records", read.polygons,
                    polygonFrom);
    judgeCount(MapBlock::Polygons, polygons, read.refused);
    readSectors(cursor, read);

    const qint32 props = cursor.readInt32("prop records");
    if (checkCount(cursor, props, MaxPosition / PropRecordSize,
                   [] { return QStringLiteral("the prop count"); }))
        readRecords(cursor, props, PropRecordSize, "prop records", read.props, propFrom);
    judgeCount(MapBlock::Props, props, read.refused);

    const qint32 sceneries = cursor.readInt32("scenery count");
    if (checkCount(cursor, sceneries, MaxSceneryCount,
                   [] { return QStringLiteral("the scenery count"); }))
        readRecords(cursor, sceneries, SceneryRecordSize, "scenery records", read.sceneryNames,
                    [](Fields fields) { return fields.text(SceneryNameSize); });
    judgeCount(MapBlock::Sceneries, sceneries, read.refused);
    judgeLaterBlocks(cursor, read.refused);

    if (cursor.failed()) {
        error = QStringLiteral("%1: %2").arg(shownPath, cursor.error());
        return false;
    }
    contents = std::move(read);
    return true;
}

QString gameFolderForMap(const QString &pathBoxText) {
    const QString mapFolder = QDir::cleanPath(QFileInfo(pathBoxText).absolutePath());
    QString probe = mapFolder;
    while (true) {
        if (!findFolderIgnoringCase(probe, QStringLiteral("scenery-gfx")).isEmpty())
            return withClosingSlash(probe);
        const QString parent = QFileInfo(probe).path();
        if (parent == probe)
            break;
        probe = parent;
    }
    return withClosingSlash(QFileInfo(mapFolder).path());
}

bool listStuff(WizardState &state, QString &filepath, const QString &pathBoxText,
               QStringList &ListBox1, QString &error, GameFolderCache *cache,
               IntakeDetails *details) {
    ListBox1.clear();
    if (details)
        *details = IntakeDetails();
    if (filepath.isEmpty())
        return true;

    MapFileContents map;
    if (!readMapFile(filepath, map, error)) {
        state.MapPath.clear();
        return false;
    }

    state.MapDescription = map.description;
    state.TextureName = map.texture;
    state.MapPath = filepath;
    if (cache) {
        state.SoldatPath = cache->rootFor(QFileInfo(pathBoxText).absolutePath(),
                                          [&] { return gameFolderForMap(pathBoxText); });
    } else {
        state.SoldatPath = gameFolderForMap(pathBoxText);
    }
    const std::shared_ptr<const GameFolder> game =
        cache ? cache->get(state.SoldatPath) : std::make_shared<const GameFolder>(state.SoldatPath);

    const QSet<QString> used = details ? sceneriesInUse(map) : QSet<QString>();
    for (const QString &written : std::as_const(map.sceneryNames)) {
        if (written.isEmpty())
            continue;
        QString name = written;
        if (CheckSc(name, state.DefaultSceneries))
            continue;
        const ImageFile file = game->scenery(name);
        ListBox1.append(file.found() ? name : MissingMarker + name);
        if (details)
            details->sceneries.append({written, ListBox1.constLast(), file, used.contains(name)});
    }
    if (details) {
        details->texture = game->texture(state.TextureName);
        details->inGameFolder = game->hasSceneryFolder();
        details->refused = map.refused;
    }
    return true;
}
