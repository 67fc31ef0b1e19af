#include "images/GameImages.h"

#include "platform/Platform.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QPainter>
#include <QThread>

namespace {

// Decoded pixels beyond this are refused before they are allocated: 4096 x 4096, far beyond
// any image the game draws.
constexpr int DecodeLimitMiB = 64;

bool fileStamp(const QString &path, qint64 &size, QDateTime &modified) {
    const QFileInfo info(path);
    if (!info.isFile())
        return false;
    size = info.size();
    modified = info.lastModified();
    return true;
}

// Opens `path` for decoding as the game reads it: a regular file, told BMP or PNG by content,
// refused beyond the decode limit. False, with `error`, otherwise.
bool openImage(const QString &path, QFile &file, QImageReader &reader, QString &error) {
    if (!platform::openRegularFile(path, file, error))
        return false;
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

QImage halved(const QImage &larger) {
    const int width = qMax(1, larger.width() / 2), height = qMax(1, larger.height() / 2);
    const int stepX = larger.width() > 1 ? 1 : 0, stepY = larger.height() > 1 ? 1 : 0;
    QImage smaller(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y) {
        const auto *upper = reinterpret_cast<const QRgb *>(larger.constScanLine(2 * y));
        const auto *lower = reinterpret_cast<const QRgb *>(larger.constScanLine(2 * y + stepY));
        auto *out = reinterpret_cast<QRgb *>(smaller.scanLine(y));
        for (int x = 0; x < width; ++x) {
            out[x] = meanOf(meanOf(upper[2 * x], upper[2 * x + stepX]),
                            meanOf(lower[2 * x], lower[2 * x + stepX]));
        }
    }
    return smaller;
}

} // namespace

QImage decodeGameImage(const QString &path, QString *error) {
    auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return QImage();
    };
    QFile file;
    QImageReader reader;
    QString why;
    if (!openImage(path, file, reader, why))
        return failed(why);
    QImage image = reader.read();
    if (image.isNull())
        return failed(reader.errorString());
    // The game draws pure green as see-through, whatever the file's own alpha says.
    image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == 0x0000FF00u)
                line[x] = 0;
        }
    }
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
    return image;
}

QSize gameImageSize(const QString &path, QString *error) {
    QFile file;
    QImageReader reader;
    QString why;
    QSize size;
    if (openImage(path, file, reader, why)) {
        size = reader.size();
        if (size.isEmpty())
            why = reader.errorString();
        else if (qint64(size.width()) * size.height() * 4 > qint64(DecodeLimitMiB) << 20)
            why = QStringLiteral("larger than %1 MiB decoded").arg(DecodeLimitMiB);
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
    ImageLevels made{image.size(), 0, {}};
    if (image.isNull())
        return made;
    QImage level = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (; made.first < first && (level.width() > 1 || level.height() > 1); ++made.first)
        level = halved(level); // the larger one goes as soon as it is halved
    made.levels.append(level);
    while (made.levels.constLast().width() > 1 || made.levels.constLast().height() > 1)
        made.levels.append(halved(made.levels.constLast()));
    return made;
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
    // Half the cores at most: the window and a running build keep the rest.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount() / 2));
}

GameImages::~GameImages() {
    m_pool.clear();
    m_pool.waitForDone();
}

GameImages::Entry &GameImages::entryFor(const QString &path) {
    qint64 fileSize = -1;
    QDateTime modified;
    fileStamp(path, fileSize, modified);
    Entry &entry = m_entries[path];
    if (entry.fileSize != fileSize || entry.modified != modified) {
        m_bytes -= entry.kept.bytes();
        entry = Entry{fileSize, modified, {}, {}, {}, {}, 0};
    }
    entry.lastUse = ++m_useCounter;
    return entry;
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
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path);
        if (!entry.size.isEmpty() || !entry.failure.isEmpty())
            return entry.size;
    }
    QString failure;
    const QSize size = gameImageSize(path, &failure);
    QMutexLocker locker(&m_lock);
    Entry &entry = entryFor(path);
    entry.size = size;
    entry.failure = failure;
    return size;
}

ImageLevels GameImages::levels(const QString &path, int first) {
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path);
        if (!entry.failure.isEmpty())
            return {};
        if (!entry.kept.isEmpty() && entry.kept.first <= first)
            return entry.kept.from(first);
    }
    QString failure;
    const ImageLevels made = imageLevels(decodeGameImage(path, &failure), first);
    QMutexLocker locker(&m_lock);
    Entry &entry = entryFor(path);
    entry.failure = failure;
    if (!made.isEmpty()) {
        entry.size = made.size;
        keep(entry, made);
    }
    return made;
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
    bool known = false;
    {
        QMutexLocker locker(&m_lock);
        const Entry &entry = entryFor(path);
        known = entry.thumbnails.contains(edge) || !entry.failure.isEmpty();
    }
    if (!known) {
        const QSize full = size(path);
        const ImageLevels decoded =
            full.isEmpty() ? ImageLevels() : levels(path, thumbnailLevel(full, edge));
        const QImage small =
            decoded.isEmpty() ? QImage() : squareThumbnail(decoded.levels.constFirst(), edge);
        QMutexLocker locker(&m_lock);
        if (!small.isNull())
            entryFor(path).thumbnails.insert(edge, small);
    }
    {
        QMutexLocker locker(&m_lock);
        m_pending.remove(path);
    }
    QMetaObject::invokeMethod(
        this, [this, path] { Q_EMIT ready(path); }, Qt::QueuedConnection);
}
