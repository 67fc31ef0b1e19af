#include "images/GameImages.h"

#include "images/PngRows.h"
#include "platform/Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QPainter>
#include <QThread>

#include <algorithm>
#include <vector>

namespace {

// What reading a byte of a file costs beside decoding a pixel: inflating a file that hardly
// compresses took 9 ns a pixel and a byte counted so, one that compresses well 7 ns a pixel.
constexpr qint64 FileByteCost = 2;

// Decoded pixels beyond this are refused before they are allocated: 4096 x 4096, far beyond
// any image the game draws.
constexpr int DecodeLimitMiB = 64;

// Readies `reader` to decode the open `file` as the game reads it: told BMP or PNG by content,
// refused beyond the decode limit. False, with `error`, otherwise.
bool prepareReader(QFile &file, QImageReader &reader, QString &error) {
    reader.setDevice(&file);
    reader.setAllocationLimit(DecodeLimitMiB);
    const QByteArray format = reader.format();
    if (format != "png" && format != "bmp") {
        error = QStringLiteral("not a BMP or PNG image");
        return false;
    }
    return true;
}

// The thumbnail of `edge` pixels is made from the smallest halving that is as large.
int thumbnailLevel(QSize size, int edge) {
    int level = 0;
    for (int side = qMax(size.width(), size.height()); side / 2 >= edge; side /= 2)
        ++level;
    return level;
}

// The mean of two pixels, four channels at once, rounded down.
inline QRgb meanOf(QRgb a, QRgb b) {
    return (a & b) + (((a ^ b) & 0xFEFEFEFEu) >> 1);
}

// Makes an image's halving as its rows come, top to bottom (premultiplied ARGB), without holding
// the larger ones: each pixel of a halving is the mean of the 2 x 2 it covers; at an odd edge
// the last row or column is left out, at an edge of one pixel that pixel counts twice.
class RowHalver {
public:
    // Halves an image of `size` `times` times, fewer where it comes down to 1 x 1 first.
    RowHalver(QSize size, int times) {
        while (int(m_steps.size()) < times && (size.width() > 1 || size.height() > 1)) {
            const QSize smaller(qMax(1, size.width() / 2), qMax(1, size.height() / 2));
            m_steps.push_back({size.width(), size.height(), 0,
                               std::vector<QRgb>(size_t(smaller.width())),
                               std::vector<QRgb>(size_t(smaller.width()))});
            size = smaller;
        }
        m_result = QImage(size, QImage::Format_ARGB32_Premultiplied);
    }
    int times() const { return int(m_steps.size()); }
    // Null when there is no memory for it; complete once every row is added.
    const QImage &result() const { return m_result; }
    void add(const QRgb *row) { add(0, row); }

private:
    struct Step {
        int width, height, rowsAdded; // of the larger image
        std::vector<QRgb> upper;      // the means across of an upper row, waiting for its lower
        std::vector<QRgb> means;
    };

    void add(size_t index, const QRgb *row) {
        if (index == m_steps.size()) {
            if (m_added < m_result.height())
                std::copy_n(row, m_result.width(),
                            reinterpret_cast<QRgb *>(m_result.scanLine(m_added++)));
            return;
        }
        Step &step = m_steps[index];
        const int y = step.rowsAdded++;
        const bool upper = step.height > 1 && y % 2 == 0;
        if (upper && y + 1 == step.height)
            return; // the odd last row
        std::vector<QRgb> &means = upper ? step.upper : step.means;
        const size_t nextColumn = step.width > 1 ? 1 : 0;
        for (size_t x = 0; x < means.size(); ++x)
            means[x] = meanOf(row[2 * x], row[2 * x + nextColumn]);
        if (upper)
            return;
        if (step.height > 1) {
            for (size_t x = 0; x < means.size(); ++x)
                means[x] = meanOf(step.upper[x], means[x]);
        }
        add(index + 1, means.data());
    }

    std::vector<Step> m_steps;
    QImage m_result;
    int m_added = 0;
};

// `image` halved `times` times, fewer where it comes down to 1 x 1 first (`done`, when given,
// tells how many). Null when there is no memory for it.
QImage halving(const QImage &image, int times, int *done = nullptr) {
    RowHalver halver(image.size(), times);
    for (int y = 0; y < image.height() && !halver.result().isNull(); ++y)
        halver.add(reinterpret_cast<const QRgb *>(image.constScanLine(y)));
    if (done)
        *done = halver.times();
    return halver.result();
}

// `level`, the image of `size` halved `first` times, with the halvings below it down to 1 x 1.
// Empty when there is no memory for them.
ImageLevels withSmallerHalvings(QSize size, int first, const QImage &level) {
    ImageLevels made{size, first, {level}};
    for (QImage smaller = level; !smaller.isNull() && (smaller.width() > 1 || smaller.height() > 1);
         made.levels.append(smaller))
        smaller = halving(smaller, 1);
    if (made.levels.constLast().isNull())
        made.levels.clear();
    return made;
}

// The game draws pure green as see-through, whatever the file's own alpha says.
inline bool seeThrough(QRgb pixel) {
    return (pixel & 0x00FFFFFFu) == 0x0000FF00u;
}

// A row of ARGB32 made as the game shows it, premultiplied: most rows are opaque throughout,
// which is told first, in a loop the compiler makes wide.
void showAsGame(std::vector<QRgb> &row) {
    QRgb opaque = 0xFF000000u;
    for (QRgb &pixel : row) {
        opaque &= pixel;
        pixel = seeThrough(pixel) ? 0 : pixel;
    }
    if (qAlpha(opaque) != 255) {
        for (QRgb &pixel : row)
            pixel = qPremultiply(pixel);
    }
}

bool withinDecodeLimit(QSize size, QString &error) {
    if (qint64(size.width()) * size.height() * 4 <= qint64(DecodeLimitMiB) << 20)
        return true;
    error = QStringLiteral("larger than %1 MiB decoded").arg(DecodeLimitMiB);
    return false;
}

// The halvings from the `first` on of the PNG that `rows` reads, each row made as the game
// shows it on the way. Empty, with `error`, when it cannot be read.
ImageLevels levelsByRows(PngRows &rows, int first, QString &error) {
    const QSize size = rows.size();
    if (!withinDecodeLimit(size, error))
        return {};
    RowHalver halver(size, first);
    std::vector<QRgb> row;
    if (halver.result().isNull()) {
        error = QStringLiteral("out of memory");
        return {};
    }
    row.resize(size_t(size.width()));
    for (int y = 0; y < size.height(); ++y) {
        if (!rows.next(row.data())) {
            error = rows.error();
            return {};
        }
        showAsGame(row);
        halver.add(row.data());
    }
    return withSmallerHalvings(size, halver.times(), halver.result());
}

// The open `file` decoded whole with Qt's reader, as the game shows it.
QImage decodeWhole(QFile &file, QString &error) {
    QImageReader reader;
    if (!prepareReader(file, reader, error))
        return {};
    QImage image = reader.read();
    if (image.isNull()) {
        error = reader.errorString();
        return {};
    }
    image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (seeThrough(line[x]))
                line[x] = 0;
        }
    }
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

// The halvings of the open `file` from the `first` on; a PNG read a row at a time where it can
// be, so that a large image shown small is never held whole.
ImageLevels decodeLevels(QFile &file, int first, QString &error) {
    static const QByteArray PngSignature("\x89PNG\r\n\x1a\n", 8);
    if (file.peek(PngSignature.size()) == PngSignature) {
        PngRows rows(file);
        if (!rows.start()) {
            error = rows.error();
            return {};
        }
        if (rows.byRows())
            return levelsByRows(rows, first, error);
        if (!file.seek(0)) {
            error = file.errorString();
            return {};
        }
    }
    return imageLevels(decodeWhole(file, error), first);
}

} // namespace

QImage decodeGameImage(const QString &path, QString *error) {
    QFile file;
    QString why;
    QImage image;
    if (platform::openRegularFile(path, file, why))
        image = decodeWhole(file, why);
    if (image.isNull() && error)
        *error = why;
    return image;
}

ImageLevels decodeGameImageLevels(const QString &path, int first, QString *error) {
    QFile file;
    QString why;
    ImageLevels made;
    if (platform::openRegularFile(path, file, why))
        made = decodeLevels(file, first, why);
    if (made.isEmpty() && error)
        *error = why.isEmpty() ? QStringLiteral("out of memory") : why;
    return made;
}

QSize gameImageSize(const QString &path, QString *error) {
    QFile file;
    QImageReader reader;
    QString why;
    QSize size;
    if (platform::openRegularFile(path, file, why) && prepareReader(file, reader, why)) {
        size = reader.size();
        if (size.isEmpty())
            why = reader.errorString();
        else
            withinDecodeLimit(size, why);
    }
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return {};
    }
    return size;
}

void quietImageReaderWarnings() {
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
}

qint64 ImageLevels::bytes() const {
    qint64 bytes = 0;
    for (const QImage &level : levels)
        bytes += level.sizeInBytes();
    return bytes;
}

ImageLevels ImageLevels::from(int level) const {
    const qsizetype skip = qBound(qsizetype(0), qsizetype(level - first), levels.size() - 1);
    return isEmpty() ? ImageLevels{size, level, {}}
                     : ImageLevels{size, first + int(skip), levels.mid(skip)};
}

ImageLevels imageLevels(const QImage &image, int first) {
    if (image.isNull())
        return {image.size(), 0, {}};
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int done = 0;
    const QImage level = first > 0 ? halving(premultiplied, first, &done) : premultiplied;
    return withSmallerHalvings(image.size(), done, level);
}

qint64 levelBytes(QSize size, int first) {
    qint64 bytes = 0;
    for (int level = 0; size.width() > 0 && size.height() > 0; ++level) {
        if (level >= first)
            bytes += qint64(size.width()) * size.height() * 4;
        if (size == QSize(1, 1))
            break;
        size = QSize(qMax(1, size.width() / 2), qMax(1, size.height() / 2));
    }
    return bytes;
}

QImage squareThumbnail(const QImage &image, int edge) {
    QImage square(edge, edge, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    if (image.isNull() || edge <= 0)
        return square;
    const bool reduce = image.width() > edge || image.height() > edge;
    const QImage fitted =
        reduce ? image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation)
               : image.scaled(image.size() * qMax(1, edge / qMax(image.width(), image.height())),
                              Qt::KeepAspectRatio, Qt::FastTransformation);
    QPainter painter(&square);
    painter.drawImage((edge - fitted.width()) / 2, (edge - fitted.height()) / 2, fitted);
    return square;
}

GameImages::GameImages(qint64 ceilingBytes, QObject *parent)
    : QObject(parent), m_ceiling(ceilingBytes) {
    // A large image decoded whole takes a buffer as large for a moment: the next reuses it.
    platform::prepareForLargeBuffers();
    // Half the cores at most: the window and a running build keep the rest.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount() / 2));
}

GameImages::~GameImages() {
    m_pool.clear();
    m_pool.waitForDone();
}

GameImages::Stamp GameImages::stampNow(const QString &path) {
    const QFileInfo info(path); // one look at the file: the rest is what it found
    if (!info.isFile())
        return {};
    return {info.size(), info.lastModified()};
}

GameImages::Entry &GameImages::entryFor(const QString &path, const Stamp &stamp) {
    Entry &entry = m_entries[path];
    if (entry.stamp != stamp) {
        m_bytes -= entry.kept.bytes();
        entry = Entry();
        entry.stamp = stamp;
    }
    entry.lastUse = ++m_useCounter;
    return entry;
}

GameImages::Entry *GameImages::entryStillAt(const QString &path, const Stamp &stamp) {
    const auto found = m_entries.find(path);
    return found != m_entries.end() && found->stamp == stamp ? &*found : nullptr;
}

void GameImages::keep(Entry &entry, const ImageLevels &levels) {
    if (!entry.kept.isEmpty() && entry.kept.first <= levels.first)
        return;
    m_bytes += levels.bytes() - entry.kept.bytes();
    entry.kept = levels;
    while (m_bytes > m_ceiling) {
        Entry *oldest = nullptr;
        for (Entry &other : m_entries) {
            if (&other != &entry && !other.kept.isEmpty() &&
                (!oldest || other.lastUse < oldest->lastUse))
                oldest = &other;
        }
        if (!oldest)
            break; // this image alone is over the ceiling: kept while it is in use
        m_bytes -= oldest->kept.bytes();
        oldest->kept = {};
    }
}

qint64 GameImages::keptBytes() const {
    QMutexLocker locker(&m_lock);
    return m_bytes;
}

QSize GameImages::size(const QString &path) {
    return sizeAt(path, stampNow(path));
}

QSize GameImages::sizeAt(const QString &path, const Stamp &stamp) {
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path, stamp);
        if (!entry.size.isEmpty() || !entry.failure.isEmpty())
            return entry.size;
    }
    QString failure;
    const QSize size = gameImageSize(path, &failure);
    QMutexLocker locker(&m_lock);
    if (Entry *entry = entryStillAt(path, stamp)) {
        entry->size = size;
        entry->failure = failure;
    }
    return size;
}

ImageLevels GameImages::levels(const QString &path, int first) {
    return levelsAt(path, first, stampNow(path));
}

ImageLevels GameImages::levelsAt(const QString &path, int first, const Stamp &stamp) {
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path, stamp);
        if (!entry.failure.isEmpty())
            return {};
        if (!entry.kept.isEmpty() && entry.kept.first <= first)
            return entry.kept.from(first);
    }
    QString failure;
    const ImageLevels made = decodeGameImageLevels(path, first, &failure);
    QMutexLocker locker(&m_lock);
    Entry *entry = entryStillAt(path, stamp);
    if (!entry)
        return made; // a call since found the file changed: this is only the caller's
    entry->failure = failure;
    if (!made.isEmpty()) {
        entry->size = made.size;
        keep(*entry, made);
    }
    return made;
}

qint64 GameImages::decodeCost(const QString &path, int first) {
    const Stamp stamp = stampNow(path);
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path, stamp);
        if (!entry.failure.isEmpty() || (!entry.kept.isEmpty() && entry.kept.first <= first))
            return 0;
    }
    const QSize whole = sizeAt(path, stamp);
    return qint64(whole.width()) * whole.height() +
           FileByteCost * std::max<qint64>(stamp.fileSize, 0);
}

QImage GameImages::thumbnail(const QString &path, int edge) const {
    QMutexLocker locker(&m_lock);
    const auto found = m_entries.constFind(path);
    return found == m_entries.cend() ? QImage() : found->thumbnails.value(edge);
}

QString GameImages::failure(const QString &path) const {
    QMutexLocker locker(&m_lock);
    const auto found = m_entries.constFind(path);
    return found == m_entries.cend() ? QString() : found->failure;
}

void GameImages::request(const QString &path, int edge) {
    {
        QMutexLocker locker(&m_lock);
        if (m_pending.contains(path))
            return;
        m_pending.insert(path);
    }
    m_pool.start([this, path, edge] { decodeInBackground(path, edge); });
}

void GameImages::cancelPending() {
    m_pool.clear();
    QMutexLocker locker(&m_lock);
    m_pending.clear();
}

void GameImages::decodeInBackground(const QString &path, int edge) {
    const Stamp stamp = stampNow(path);
    bool known = false;
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path, stamp);
        known = entry.thumbnails.contains(edge) || !entry.failure.isEmpty();
    }
    if (!known) {
        const QSize full = sizeAt(path, stamp);
        const ImageLevels decoded =
            full.isEmpty() ? ImageLevels() : levelsAt(path, thumbnailLevel(full, edge), stamp);
        const QImage small =
            decoded.isEmpty() ? QImage() : squareThumbnail(decoded.levels.constFirst(), edge);
        QMutexLocker locker(&m_lock);
        Entry *entry = entryStillAt(path, stamp);
        if (entry && !small.isNull())
            entry->thumbnails.insert(edge, small);
    }
    {
        QMutexLocker locker(&m_lock);
        m_pending.remove(path);
    }
    QMetaObject::invokeMethod(
        this, [this, path] { Q_EMIT ready(path); }, Qt::QueuedConnection);
}
