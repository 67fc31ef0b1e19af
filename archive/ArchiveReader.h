#pragma once
// Reads ZIP archives, ours or anyone's, to check what they hold.
//
// The reader lives in the read-back library (ReadBack.h), loaded on first use: libzip,
// libdeflate and OpenSSL come with it, and a program that never reads an archive back, such as
// the window until its first build, starts without them.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

struct ArchiveItem {
    qint64 index = 0;
    QString name; // as stored, folders separated by '/'
    qint64 size = 0;
    quint32 crc = 0;
    bool encrypted = false;
    bool stored = false;   // kept as it is, not compressed
    bool deflated = false; // compressed with deflate
    qint64 compressedSize = 0;
};

// Why a read failed: the archive's data, its sizes, the password or the system.
enum class ReadFailure {
    None,
    Damaged,       // the data does not unpack, or not to its CRC
    WrongPassword, // the password does not open the entry
    SizeLie,       // the data unpacks to more or fewer bytes than the entry's size
    System,        // the file could not be read: an I/O error, or it changed meanwhile
    Stopped,       // `piece` stopped the reading
};

// One reader serves one thread at a time.
class ArchiveReader {
public:
    // A new reader, or null with `error` set when the read-back library cannot be loaded.
    static std::unique_ptr<ArchiveReader> create(QString &error);
    virtual ~ArchiveReader() = default;

    // Opens `path` read-only and lists its entries; false with `error` set when it is not a
    // readable ZIP archive.
    virtual bool open(const QString &path, QString &error) = 0;
    virtual const QList<ArchiveItem> &items() const = 0;

    // The password for encrypted entries, as the bytes the archive was made with.
    virtual void setPassword(const QByteArray &password) = 0;

    // Reads the entry whole, in pieces handed to `piece` (which may stop the reading by
    // returning false). Decryption, CRC and size are checked: false with `error` naming the
    // cause, and lastFailure() its kind, when the data is damaged or unpacks to another size,
    // the password is wrong, the file cannot be read or `piece` stopped it.
    virtual bool read(const ArchiveItem &item, const std::function<bool(QByteArrayView)> &piece,
                      QString &error) const = 0;
    // The kind of the last read's failure; None after a read that succeeded.
    ReadFailure lastFailure() const { return m_lastFailure; }
    // The entry's data, at most `limit` bytes (more is an error).
    bool readAll(const ArchiveItem &item, QByteArray &data, qint64 limit, QString &error) const {
        data.clear();
        bool tooLarge = false;
        const bool read = this->read(
            item,
            [&](QByteArrayView piece) {
                if (data.size() + piece.size() > limit) {
                    tooLarge = true;
                    return false;
                }
                data.append(piece);
                return true;
            },
            error);
        if (tooLarge)
            error = QStringLiteral("larger than %1 bytes").arg(limit);
        return read;
    }

protected:
    mutable ReadFailure m_lastFailure = ReadFailure::None;
};
