#pragma once
// Reads ZIP archives, ours or anyone's, to check what they hold.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>

struct libdeflate_decompressor;
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

// One reader serves one thread at a time.
class ArchiveReader {
public:
    ArchiveReader();
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader &) = delete;
    ArchiveReader &operator=(const ArchiveReader &) = delete;

    // Opens `path` read-only and lists its entries; false with `error` set when it is not a
    // readable ZIP archive.
    bool open(const QString &path, QString &error);
    const QList<ArchiveItem> &items() const { return m_items; }

    // The password for encrypted entries, as the bytes the archive was made with.
    void setPassword(const QByteArray &password);

    // Reads the entry whole, in pieces handed to `piece` (which may stop the reading by
    // returning false). Decryption and CRC are checked: false with `error` naming the cause
    // when the data is damaged, the password is wrong or `piece` stopped it.
    bool read(const ArchiveItem &item, const std::function<bool(QByteArrayView)> &piece,
              QString &error) const;
    // The entry's data, at most `limit` bytes (more is an error).
    bool readAll(const ArchiveItem &item, QByteArray &data, qint64 limit, QString &error) const;

private:
    // Deflated entries up to this size are unpacked whole, in memory, by libdeflate; bigger ones
    // are streamed through libzip. Our own archives hold nothing bigger deflated whole either.
    static constexpr qint64 WholeEntry = 4 << 20;
    bool readWholeDeflated(const ArchiveItem &item,
                           const std::function<bool(QByteArrayView)> &piece, QString &error) const;

    struct Archive;
    std::unique_ptr<Archive> m_archive;
    QList<ArchiveItem> m_items;
    QByteArray m_password;
    mutable QByteArray m_buffer;
    mutable QByteArray m_packed;
    mutable QByteArray m_unpacked;
    struct DecompressorFree {
        void operator()(libdeflate_decompressor *decompressor) const;
    };
    mutable std::unique_ptr<libdeflate_decompressor, DecompressorFree> m_decompressor;
};
