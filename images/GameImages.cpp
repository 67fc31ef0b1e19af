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

qint64 bytesOf(const QImage &image) {
    return image.isNull() ? 0 : image.sizeInBytes();
}

qint64 bytesOf(const ImageLevels &levels) {
    qint64 bytes = 0;
    for (const QImage &level : levels)
        bytes += bytesOf(level);
    return bytes;
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
    QString why;
    if (!platform::openRegularFile(path, file, why))
        return failed(why);
    QImageReader reader(&file);
    reader.setAllocationLimit(DecodeLimitMiB);
    const QByteArray format = reader.format();
    if (format != "png" && format != "bmp")
        return failed(QStringLiteral("not a BMP or PNG image"));
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

void quietImageReaderWarnings() {
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio=false"));
}

ImageLevels imageLevels(const QImage &image) {
    ImageLevels levels;
    if (image.isNull())
        return levels;
    levels.append(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    while (levels.constLast().width() > 1 || levels.constLast().height() > 1)
        levels.append(halved(levels.constLast()));
    return levels;
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

GameImages::GameImages(qint64 budgetBytes, QObject *parent)
    : QObject(parent), m_budget(budgetBytes) {
    // Half the cores at most: the window and a running build keep the rest.
    m_pool.setMaxThreadCount(qMax(1, QThread::idealThreadCount() / 2));
}

GameImages::~GameImages() {
    m_pool.clear();
    m_pool.waitForDone();
}

GameImages::Entry *GameImages::current(const QString &path, qint64 size,
                                       const QDateTime &modified) {
    const auto found = m_entries.find(path);
    if (found == m_entries.end() || found->size != size || found->modified != modified)
        return nullptr;
    found->lastUse = ++m_useCounter;
    return &*found;
}

GameImages::Entry &GameImages::store(const QString &path, qint64 size, const QDateTime &modified,
                                     const QImage &image, const QString &failure) {
    if (const auto old = m_entries.constFind(path); old != m_entries.cend())
        m_bytes -= bytesOf(old->image) + bytesOf(old->halvings);
    Entry &entry = m_entries[path];
    entry = Entry{size, modified, image, failure, {}, ++m_useCounter, {}};
    m_bytes += bytesOf(image);
    while (m_bytes > m_budget) {
        Entry *oldest = nullptr;
        for (Entry &other : m_entries) {
            if (&other != &entry && !other.image.isNull() &&
                (!oldest || other.lastUse < oldest->lastUse))
                oldest = &other;
        }
        if (!oldest)
            break; // the new picture alone is over the budget: kept while it is in use
        m_bytes -= bytesOf(oldest->image) + bytesOf(oldest->halvings);
        oldest->image = QImage();
        oldest->halvings.clear();
    }
    return entry;
}

QImage GameImages::image(const QString &path) {
    qint64 size = -1;
    QDateTime modified;
    fileStamp(path, size, modified);
    {
        QMutexLocker locker(&m_lock);
        if (const Entry *known = current(path, size, modified);
            known && (!known->image.isNull() || !known->failure.isEmpty()))
            return known->image;
    }
    QString failure;
    const QImage decoded = decodeGameImage(path, &failure);
    QMutexLocker locker(&m_lock);
    // Thumbnails made from the same file stay.
    QHash<int, QImage> thumbnails;
    if (const Entry *known = current(path, size, modified))
        thumbnails = known->thumbnails;
    Entry &entry = store(path, size, modified, decoded, failure);
    entry.thumbnails = thumbnails;
    return decoded;
}

ImageLevels GameImages::levels(const QString &path) {
    const QImage picture = image(path);
    if (picture.isNull())
        return {};
    {
        QMutexLocker locker(&m_lock);
        const auto known = m_entries.constFind(path);
        if (known != m_entries.cend() && known->image.cacheKey() == picture.cacheKey() &&
            !known->halvings.isEmpty())
            return ImageLevels{picture} + known->halvings;
    }
    ImageLevels levels = imageLevels(picture);
    QMutexLocker locker(&m_lock);
    const auto known = m_entries.find(path);
    // Kept only with the picture they were made of, and while the budget holds them.
    if (known != m_entries.end() && known->image.cacheKey() == picture.cacheKey()) {
        const ImageLevels halvings = levels.mid(1);
        if (m_bytes + bytesOf(halvings) <= m_budget) {
            m_bytes += bytesOf(halvings) - bytesOf(known->halvings);
            known->halvings = halvings;
        }
    }
    return levels;
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
    qint64 size = -1;
    QDateTime modified;
    fileStamp(path, size, modified);
    bool known = false;
    {
        QMutexLocker locker(&m_lock);
        const Entry *entry = current(path, size, modified);
        known = entry && (entry->thumbnails.contains(edge) || !entry->failure.isEmpty());
    }
    if (!known) {
        const QImage decoded = image(path);
        const QImage small = decoded.isNull() ? QImage() : squareThumbnail(decoded, edge);
        QMutexLocker locker(&m_lock);
        if (Entry *entry = current(path, size, modified); entry && !small.isNull())
            entry->thumbnails.insert(edge, small);
    }
    {
        QMutexLocker locker(&m_lock);
        m_pending.remove(path);
    }
    QMetaObject::invokeMethod(
        this, [this, path] { Q_EMIT ready(path); }, Qt::QueuedConnection);
}
