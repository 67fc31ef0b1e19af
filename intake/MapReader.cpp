#include "intake/MapReader.h"

#include "intake/DefaultSceneries.h"
#include "intake/FileNames.h"
#include "platform/Platform.h"
#include "text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>

namespace {

// Layout of the map file, as far as it is read.
constexpr qint64 DescriptionLengthAt = 4;
constexpr qint64 DescriptionSize = 38;
constexpr qint64 TextureLengthAt = 43;
constexpr qint64 TextureSize = 24;
constexpr qint64 PolygonCountAt = 88;
constexpr qint64 PolygonRecordSize = 121;
constexpr qint64 AfterPolygonsSkip = 8;
constexpr int SectorCount = 2601;
constexpr qint64 PropRecordSize = 44;
constexpr qint64 SceneryNameSize = 50;
constexpr qint64 SceneryRecordSize = 55;
constexpr qint32 MaxSectorCount = 16383;  // 2 * count must fit 16 bits
constexpr qint32 MaxSceneryCount = 32767; // the count must fit 16 bits
constexpr qint64 MaxPosition = std::numeric_limits<qint32>::max();

// Reads a file front to back through a window buffer, so that thousands of small reads cost
// one system call per window and skipped blocks are never read. Every read and skip is
// checked against the file's size; the first failure is kept as a sentence.
class MapCursor {
public:
    explicit MapCursor(QIODevice &file) : m_file(file), m_size(file.size()) {}

    bool failed() const { return !m_error.isEmpty(); }
    const QString &error() const { return m_error; }
    qint64 position() const { return m_position; }

    // Moves forward by `count` bytes inside the block named `where`.
    bool skip(qint64 count, const char *where) {
        if (!require(count, where))
            return false;
        m_position += count;
        return true;
    }

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
        if (bytes.isEmpty())
            return 0;
        const auto u = [&](int i) { return static_cast<quint32>(static_cast<quint8>(bytes[i])); };
        return static_cast<qint32>(u(0) | u(1) << 8 | u(2) << 16 | u(3) << 24);
    }

    qint16 readInt16(const char *where) {
        const QByteArrayView bytes = read(2, where);
        if (bytes.isEmpty())
            return 0;
        return static_cast<qint16>(static_cast<quint8>(bytes[0]) | static_cast<quint8>(bytes[1])
                                                                       << 8);
    }

    // A length byte followed by a fixed field: the first `length` characters (all when longer).
    QString readText(qint64 fieldSize, const char *where) {
        const QByteArrayView bytes = read(1 + fieldSize, where);
        if (bytes.isEmpty())
            return {};
        const qint64 length = std::min<qint64>(static_cast<quint8>(bytes[0]), fieldSize);
        return fromCodePage(bytes.sliced(1, length));
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
    MapCursor cursor(file);
    MapFileContents read;
    cursor.skip(DescriptionLengthAt, "header");
    read.description = cursor.readText(DescriptionSize, "header");
    cursor.skip(TextureLengthAt - cursor.position(), "header");
    read.texture = cursor.readText(TextureSize, "header");
    cursor.skip(PolygonCountAt - cursor.position(), "header");

    const qint32 polygons = cursor.readInt32("header");
    if (checkCount(cursor, polygons, (MaxPosition - PolygonCountAt) / PolygonRecordSize,
                   [] { return QStringLiteral("the polygon count"); })) {
        cursor.skip(PolygonRecordSize * polygons, "polygon records");
        cursor.skip(AfterPolygonsSkip, "polygon records");
    }
    for (int sector = 0; sector < SectorCount && !cursor.failed(); ++sector) {
        const qint16 count = cursor.readInt16("sector lists");
        if (checkCount(cursor, count, MaxSectorCount, [sector] {
                return QStringLiteral("the count of sector %1").arg(sector + 1);
            }))
            cursor.skip(2 * qint64(count), "sector lists");
    }
    const qint32 props = cursor.readInt32("prop records");
    if (checkCount(cursor, props, MaxPosition / PropRecordSize,
                   [] { return QStringLiteral("the prop count"); }))
        cursor.skip(PropRecordSize * props, "prop records");
    const qint32 sceneries = cursor.readInt32("scenery count");
    if (checkCount(cursor, sceneries, MaxSceneryCount,
                   [] { return QStringLiteral("the scenery count"); })) {
        // The whole table must be there: a damaged count fails before any record is read.
        cursor.require(SceneryRecordSize * sceneries, "scenery records");
        for (qint32 i = 0; i < sceneries && !cursor.failed(); ++i) {
            read.sceneryNames.append(cursor.readText(SceneryNameSize, "scenery records"));
            cursor.skip(SceneryRecordSize - 1 - SceneryNameSize, "scenery records");
        }
    }

    if (cursor.failed()) {
        // Whatever broke the layout, the file is no map the game could load.
        error = QStringLiteral("%1: %2: %3")
                    .arg(NotAMap, shownPath,
                         file.size() == 0 ? QStringLiteral("the file is empty") : cursor.error());
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

    for (const QString &written : std::as_const(map.sceneryNames)) {
        if (written.isEmpty())
            continue;
        QString name = written;
        if (CheckSc(name, state.DefaultSceneries))
            continue;
        const ImageFile file = game->scenery(name);
        ListBox1.append(file.found() ? name : MissingMarker + name);
        if (details)
            details->sceneries.append({written, ListBox1.constLast(), file});
    }
    if (details)
        details->texture = game->texture(state.TextureName);
    return true;
}
