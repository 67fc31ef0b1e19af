#pragma once
// The game's images as pictures, for everything that draws them: the scenery lists' small
// pictures and the map preview. A file is decoded once (BMP or PNG, told by its content, as
// the game reads either whatever the name says), with the game's pure green (0, 255, 0) made
// transparent, and kept while it is unchanged on disk. QtGui only, no widgets.

#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

// Decodes `path` as the game shows it, premultiplied ARGB. A null image, with `error` saying
// why, when `path` is not a regular file (a FIFO or device is never waited on), not a BMP or
// PNG, damaged, or larger than 64 MiB decoded.
QImage decodeGameImage(const QString &path, QString *error = nullptr);

// Keeps Qt's image readers from telling on standard error of flaws that many game images have
// and that change nothing shown (libpng's "known incorrect sRGB profile"): decodeGameImage()
// says itself what cannot be shown. QT_LOGGING_RULES still turns the warnings on. Called once
// by each program that decodes the game's images, before it decodes any.
void quietImageReaderWarnings();

// `image` fitted, with its proportions, into a transparent square of `edge` pixels and
// centred in it: smoothly reduced, or enlarged by whole pixels so that small images stay sharp.
QImage squareThumbnail(const QImage &image, int edge);

// An image and its halvings, each half the size of the one before, down to 1 x 1: what a
// picture that shows the image smaller samples from.
using ImageLevels = QList<QImage>;
// Each pixel of a halving is the mean of the 2 x 2 it covers (at an odd edge the last row or
// column is left out). Premultiplied ARGB; empty for a null image.
ImageLevels imageLevels(const QImage &image);

class GameImages : public QObject {
    Q_OBJECT

public:
    // Pictures decoded whole are kept up to `budgetBytes` in all; beyond that the least
    // recently used go (thumbnails and failures stay).
    explicit GameImages(qint64 budgetBytes = qint64(256) << 20, QObject *parent = nullptr);
    ~GameImages() override; // drops what waits; waits for decodes under way

    // The picture of `path`, from memory or decoded now on the calling thread (null when it
    // cannot be decoded). Safe on any thread.
    QImage image(const QString &path);
    // image() with its halvings (imageLevels), made once and kept with the picture; empty when
    // the file cannot be decoded. Safe on any thread.
    ImageLevels levels(const QString &path);
    // The thumbnail of `edge` pixels made by request(); null while it is not made.
    QImage thumbnail(const QString &path, int edge) const;
    // Why `path` could not be decoded; empty while that is not known to have failed.
    QString failure(const QString &path) const;

    // Decodes `path` and makes its thumbnail of `edge` pixels on a background thread, then
    // emits ready(path) on this object's thread (also when it was known already, or failed).
    void request(const QString &path, int edge);
    // Drops the requests that have not started.
    void cancelPending();

Q_SIGNALS:
    void ready(const QString &path);

private:
    struct Entry {
        qint64 size = -1;
        QDateTime modified;
        QImage image; // null once dropped for the budget, or when decoding failed
        QString failure;
        QHash<int, QImage> thumbnails; // by edge
        quint64 lastUse = 0;
        ImageLevels halvings; // made on first request, dropped with the image
    };
    // The entry of `path` if it still matches the file on disk; null otherwise. Under m_lock.
    Entry *current(const QString &path, qint64 size, const QDateTime &modified);
    // Stores a fresh decode and keeps the budget. Under m_lock.
    Entry &store(const QString &path, qint64 size, const QDateTime &modified, const QImage &image,
                 const QString &failure);
    void decodeInBackground(const QString &path, int edge);

    const qint64 m_budget;
    mutable QMutex m_lock;
    QHash<QString, Entry> m_entries;
    QSet<QString> m_pending;
    qint64 m_bytes = 0;
    quint64 m_useCounter = 0;
    QThreadPool m_pool;
};
