#pragma once
// The game's images as pictures, for everything that draws them: the scenery lists' small
// pictures and the map preview. A file is decoded once (BMP or PNG, told by its content, as
// the game reads either whatever the name says), with the game's pure green (0, 255, 0) made
// transparent, and kept while it is unchanged on disk: what was read of a file changed while it
// was read goes to the call that read it, and the next call reads the file again. QtGui only,
// no widgets.

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
// The size of the image at `path` as its header gives it, without decoding it: empty, with
// `error` saying why, where decodeGameImage() fails before it decodes.
QSize gameImageSize(const QString &path, QString *error = nullptr);

// Keeps Qt's image readers from telling on standard error of flaws that many game images have
// and that change nothing shown (libpng's "known incorrect sRGB profile"): decodeGameImage()
// says itself what cannot be shown. QT_LOGGING_RULES still turns the warnings on. Called once
// by each program that decodes the game's images, before it decodes any.
void quietImageReaderWarnings();

// `image` fitted, with its proportions, into a transparent square of `edge` pixels and
// centred in it: smoothly reduced, or enlarged by whole pixels so that small images stay sharp.
QImage squareThumbnail(const QImage &image, int edge);

// An image as a picture samples it: its size, and its halvings (each half the size of the one
// before, down to 1 x 1) from the `first` on. A picture that shows an image small needs none
// of the larger ones.
struct ImageLevels {
    QSize size;           // the image's own size; empty when there is no image
    int first = 0;        // levels[0] is the image halved this many times
    QList<QImage> levels; // premultiplied ARGB
    bool isEmpty() const { return levels.isEmpty(); }
    qint64 bytes() const;
    // These levels from halving `first` on (the coarsest there is, when there are fewer).
    ImageLevels from(int first) const;
};
// The halvings of `image` from the `first` on; each pixel of a halving is the mean of the 2 x 2
// it covers (at an odd edge the last row or column is left out). Empty for a null image.
ImageLevels imageLevels(const QImage &image, int first = 0);
// The bytes that the halvings of an image of `size` take from the `first` on.
qint64 levelBytes(QSize size, int first);
// The image at `path` decoded as decodeGameImage() does, as its halvings from the `first` on:
// the same pixels as imageLevels(decodeGameImage(path), first), but a PNG is read a row at a
// time and never held larger than the first halving kept. Empty, with `error`, where
// decodeGameImage() fails, or when there is no memory for it.
ImageLevels decodeGameImageLevels(const QString &path, int first, QString *error = nullptr);

class GameImages : public QObject {
    Q_OBJECT

public:
    // What the decoded images kept take in all, at most, by default.
    static constexpr qint64 DefaultCeiling = qint64(256) << 20;

    // Decoded images are kept up to `ceilingBytes` in all; beyond that the least recently used
    // go (sizes, thumbnails and failures stay).
    explicit GameImages(qint64 ceilingBytes = DefaultCeiling, QObject *parent = nullptr);
    ~GameImages() override; // drops what waits; waits for decodes under way

    qint64 ceiling() const { return m_ceiling; }
    // What the decoded images kept take now.
    qint64 keptBytes() const;
    // The size of the image at `path`, from memory or from the file's header; empty when it
    // cannot be decoded (failure() says why). Safe on any thread.
    QSize size(const QString &path);
    // The image at `path` with its halvings from the `first` on: from memory where they are
    // kept, otherwise decoded now on the calling thread. Empty when the file cannot be decoded.
    // Safe on any thread.
    ImageLevels levels(const QString &path, int first = 0);
    // What levels(`path`, `first`) costs now, in the pixels it decodes and the bytes of file it
    // reads, each byte as two pixels (a file that hardly compresses inflates slowly): none where
    // the levels are kept or the file is known not to decode, otherwise the whole image's pixels (a
    // PNG is inflated whole, whatever halving is kept) and the file's size. Safe on any thread.
    qint64 decodeCost(const QString &path, int first);
    // The thumbnail of `edge` pixels made by request(), of the file as that read it; null while
    // it is not made.
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
    // A file as it is on disk; a change to it gives another stamp.
    struct Stamp {
        qint64 fileSize = -1;
        QDateTime modified;
        bool operator==(const Stamp &) const = default;
    };
    struct Entry {
        Stamp stamp;                   // taken before anything kept here was read
        QSize size;                    // from the header, or from a decode
        ImageLevels kept;              // empty until decoded, and once dropped for the ceiling
        QString failure;               // why it cannot be decoded; empty while not known
        QHash<int, QImage> thumbnails; // by edge
        quint64 lastUse = 0;
    };
    // The stamp of the file at `path` now. Taken once for each call, before the file is read:
    // what is read is then at least as new, and a file changed while it is read has another
    // stamp by the next call, which reads it again. Not under m_lock.
    static Stamp stampNow(const QString &path);
    // The entry of `path` as it is at `stamp`: kept when made for it, fresh otherwise. Under
    // m_lock.
    Entry &entryFor(const QString &path, const Stamp &stamp);
    // Where what was read after `stamp` was taken is kept: the entry of `path` while it is the
    // one made for `stamp`, null once a call found the file changed. Under m_lock.
    Entry *entryStillAt(const QString &path, const Stamp &stamp);
    // Keeps `levels` for `entry` unless it keeps finer ones, then drops the least recently used
    // others while the ceiling is passed. Under m_lock.
    void keep(Entry &entry, const ImageLevels &levels);
    // size() and levels() for the file at `stamp`.
    QSize sizeAt(const QString &path, const Stamp &stamp);
    ImageLevels levelsAt(const QString &path, int first, const Stamp &stamp);
    void decodeInBackground(const QString &path, int edge);

    const qint64 m_ceiling;
    mutable QMutex m_lock;
    QHash<QString, Entry> m_entries;
    QSet<QString> m_pending;
    qint64 m_bytes = 0;
    quint64 m_useCounter = 0;
    QThreadPool m_pool;
};
