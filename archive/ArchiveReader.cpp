// The archive reader of the read-back library: libzip finds the entries and streams what is
// big or encrypted, libdeflate unpacks the rest and takes the CRCs.

#include "archive/ArchiveReader.h"
#include "archive/ReadBack.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <numeric>

#include <libdeflate.h>
#include <zip.h>

namespace {

class LibzipArchiveReader final : public ArchiveReader {
public:
    bool open(const QString &path, QString &error) override;
    const QList<ArchiveItem> &items() const override { return m_items; }
    void setPassword(const QByteArray &password) override { m_password = password; }
    bool read(const ArchiveItem &item, const std::function<bool(QByteArrayView)> &piece,
              QString &error) const override;

private:
    // Deflated entries up to this size are unpacked whole, in memory, by libdeflate; bigger ones
    // are streamed through libzip. Our own archives hold nothing bigger deflated whole either.
    static constexpr qint64 WholeEntry = 4 << 20;
    bool readWholeDeflated(const ArchiveItem &item,
                           const std::function<bool(QByteArrayView)> &piece, QString &error) const;

    struct ArchiveCloser {
        void operator()(zip_t *archive) const { zip_discard(archive); }
    };
    struct DecompressorFree {
        void operator()(libdeflate_decompressor *decompressor) const {
            libdeflate_free_decompressor(decompressor);
        }
    };
    std::unique_ptr<zip_t, ArchiveCloser> m_archive;
    QList<ArchiveItem> m_items;
    QByteArray m_password;
    mutable QByteArray m_buffer;
    mutable QByteArray m_packed;
    mutable QByteArray m_unpacked;
    mutable std::unique_ptr<libdeflate_decompressor, DecompressorFree> m_decompressor;
};

struct EntryCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};
struct SourceReleaser {
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};

// Limits on what an archive may claim. Deflate packs at most 1032 bytes into one; a map with
// its images unpacks to a few megabytes, so a gigabyte is far beyond any real one.
constexpr quint64 MaxDeflateRatio = 1032;
constexpr quint64 MaxUnpackedTotal = quint64(1) << 30;
// The most entries a ZIP can hold without zip64: far more than any map archive, while each
// entry costs the check some microseconds and memory.
constexpr quint64 MaxEntries = 0xFFFF;
constexpr qint64 CentralRecordSize = 46;
constexpr qint64 LocalHeaderSize = 30;
constexpr qint64 EndRecordSize = 22;

// An entry as the archive's central directory places it, read before libzip is trusted with it.
struct Extent {
    QByteArray name; // as stored
    quint16 method = 0;
    bool encrypted = false;
    quint64 size = 0;   // unpacked
    quint64 packed = 0; // as stored, encryption header included
    quint64 header = 0; // where its local header starts
};

quint16 u16(const char *p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char *p) {
    return qFromLittleEndian<quint32>(p);
}
quint64 u64(const char *p) {
    return qFromLittleEndian<quint64>(p);
}

bool readAt(QFile &file, quint64 offset, qint64 size, QByteArray &bytes) {
    if (offset > quint64(file.size()) || !file.seek(qint64(offset)))
        return false;
    bytes = file.read(size);
    return bytes.size() == size;
}

QString entryName(const Extent &extent) {
    return QString::fromUtf8(extent.name);
}

// Finds the central directory (through the zip64 records where there are some) and reads its
// records. Counts and sizes are checked against the file before anything is allocated.
bool readDirectory(QFile &file, QList<Extent> &extents, quint64 &directoryStart, QString &error) {
    const qint64 fileSize = file.size();
    const qint64 tailSize = qMin<qint64>(fileSize, EndRecordSize + 0xFFFF);
    QByteArray tail;
    if (!readAt(file, quint64(fileSize - tailSize), tailSize, tail)) {
        error = file.errorString();
        return false;
    }
    qsizetype end = tail.size() - EndRecordSize;
    while (end >= 0 && !(tail.at(end) == 'P' && tail.mid(end, 4) == QByteArrayView("PK\5\6") &&
                         end + EndRecordSize + u16(tail.constData() + end + 20) <= tail.size()))
        --end;
    if (end < 0) {
        error = QStringLiteral("it has no end record");
        return false;
    }
    const char *record = tail.constData() + end;
    quint64 count = u16(record + 10);
    quint64 size = u32(record + 12);
    quint64 start = u32(record + 16);
    quint64 directoryEnd = quint64(fileSize - tailSize + end);
    if (end >= 20 && tail.mid(end - 20, 4) == QByteArrayView("PK\6\7")) {
        const quint64 at = u64(tail.constData() + end - 12);
        QByteArray zip64;
        if (at >= directoryEnd || !readAt(file, at, 56, zip64) ||
            zip64.left(4) != QByteArrayView("PK\6\6")) {
            error = QStringLiteral("its zip64 end record is missing");
            return false;
        }
        count = u64(zip64.constData() + 32);
        size = u64(zip64.constData() + 40);
        start = u64(zip64.constData() + 48);
        directoryEnd = at;
    }
    if (start > directoryEnd || size > directoryEnd - start || count > size / CentralRecordSize) {
        error = QStringLiteral("its directory of %1 entries does not fit the file").arg(count);
        return false;
    }
    if (count > MaxEntries) {
        error = QStringLiteral("it holds %1 entries, more than the %2 a map archive may hold")
                    .arg(count)
                    .arg(MaxEntries);
        return false;
    }
    QByteArray directory;
    if (!readAt(file, start, qint64(size), directory)) {
        error = file.errorString();
        return false;
    }
    extents.reserve(qsizetype(count));
    qsizetype at = 0;
    for (quint64 i = 0; i < count; ++i) {
        const char *r = directory.constData() + at;
        if (directory.size() - at < CentralRecordSize ||
            QByteArrayView(r, 4) != QByteArrayView("PK\1\2")) {
            error = QStringLiteral("directory record %1 is damaged").arg(i + 1);
            return false;
        }
        const qsizetype nameSize = u16(r + 28), extraSize = u16(r + 30);
        const qsizetype length = CentralRecordSize + nameSize + extraSize + u16(r + 32);
        if (directory.size() - at < length) {
            error = QStringLiteral("directory record %1 is damaged").arg(i + 1);
            return false;
        }
        Extent extent;
        extent.name = QByteArray(r + CentralRecordSize, nameSize);
        extent.method = u16(r + 10);
        extent.encrypted = u16(r + 8) & 1;
        extent.packed = u32(r + 20);
        extent.size = u32(r + 24);
        extent.header = u32(r + 42);
        // The zip64 field holds, in this order, the values too large for their 32-bit places.
        const char *extra = r + CentralRecordSize + nameSize;
        for (qsizetype e = 0; e + 4 <= extraSize;) {
            const qsizetype fieldSize = u16(extra + e + 2);
            if (u16(extra + e) == 1) {
                const char *field = extra + e + 4;
                qsizetype left = qMin(fieldSize, extraSize - e - 4);
                for (quint64 *value : {&extent.size, &extent.packed, &extent.header}) {
                    if (*value != 0xFFFFFFFF || left < 8)
                        continue;
                    *value = u64(field);
                    field += 8;
                    left -= 8;
                }
            }
            e += 4 + fieldSize;
        }
        extents.append(extent);
        at += length;
    }
    directoryStart = start;
    return true;
}

// Sizes a real archive can have: none beyond a signed 64-bit size, a stored entry as large as
// its data, a deflated one at most as large as its data can unpack to, and a sane total.
bool checkSizes(const QList<Extent> &extents, QString &error) {
    quint64 total = 0;
    for (const Extent &extent : extents) {
        if (extent.size > quint64(std::numeric_limits<qint64>::max()) ||
            extent.packed > quint64(std::numeric_limits<qint64>::max())) {
            error = QStringLiteral("%1: its size is impossible").arg(entryName(extent));
            return false;
        }
        if (extent.method == ZIP_CM_STORE && !extent.encrypted && extent.size != extent.packed) {
            error = QStringLiteral("%1: it is stored as %2 bytes but claims %3")
                        .arg(entryName(extent))
                        .arg(extent.packed)
                        .arg(extent.size);
            return false;
        }
        if (extent.method == ZIP_CM_DEFLATE && extent.size / MaxDeflateRatio > extent.packed + 1) {
            error = QStringLiteral("%1: %2 packed bytes cannot unpack to the %3 it claims")
                        .arg(entryName(extent))
                        .arg(extent.packed)
                        .arg(extent.size);
            return false;
        }
        total += extent.size;
        if (total > MaxUnpackedTotal) {
            error = QStringLiteral("it unpacks to more than %1 bytes").arg(MaxUnpackedTotal);
            return false;
        }
    }
    return true;
}

// Every entry's header and data must lie in the file before the directory, and no two entries
// may share bytes: records pointing at one stream would make a small file unpack without end.
// The headers are read in file order through one window, so that many small entries cost few
// reads.
bool checkPlacement(QFile &file, const QList<Extent> &extents, quint64 directoryStart,
                    QString &error) {
    QList<qsizetype> order(extents.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](qsizetype a, qsizetype b) { return extents[a].header < extents[b].header; });
    constexpr qint64 WindowSize = 64 * 1024;
    QByteArray window;
    quint64 windowStart = 0;
    quint64 previousEnd = 0;
    const Extent *previous = nullptr;
    for (const qsizetype index : std::as_const(order)) {
        const Extent &extent = extents[index];
        const quint64 at = extent.header;
        if (at > directoryStart || directoryStart - at < quint64(LocalHeaderSize)) {
            error = QStringLiteral("%1: its data lies outside the archive").arg(entryName(extent));
            return false;
        }
        if (previous && at < previousEnd) {
            error =
                QStringLiteral("%1 and %2 share data").arg(entryName(*previous), entryName(extent));
            return false;
        }
        if (at < windowStart || at + LocalHeaderSize > windowStart + quint64(window.size())) {
            windowStart = at;
            const qint64 wanted = qint64(qMin<quint64>(WindowSize, directoryStart - at));
            if (!readAt(file, at, wanted, window)) {
                error = file.errorString();
                return false;
            }
        }
        const char *local = window.constData() + (at - windowStart);
        const quint64 dataStart = at + LocalHeaderSize + u16(local + 26) + u16(local + 28);
        if (QByteArrayView(local, 4) != QByteArrayView("PK\3\4") || dataStart > directoryStart ||
            extent.packed > directoryStart - dataStart) {
            error = QStringLiteral("%1: its data lies outside the archive").arg(entryName(extent));
            return false;
        }
        previous = &extent;
        previousEnd = dataStart + extent.packed;
    }
    return true;
}

QString libzipError(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

bool LibzipArchiveReader::open(const QString &path, QString &error) {
    m_items.clear();
    m_archive.reset();
    // Every size and place is checked before libzip or libdeflate is trusted with it.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        error = QStringLiteral("not a readable ZIP archive (%1)").arg(file.errorString());
        return false;
    }
    QList<Extent> extents;
    quint64 directoryStart = 0;
    QString why;
    if (!readDirectory(file, extents, directoryStart, why) ||
        !checkPlacement(file, extents, directoryStart, why) || !checkSizes(extents, why)) {
        error = QStringLiteral("not a sound ZIP archive: %1").arg(why);
        return false;
    }
    int code = 0;
    zip_t *handle = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!handle) {
        error = QStringLiteral("not a readable ZIP archive (%1)").arg(libzipError(code));
        return false;
    }
    std::unique_ptr<zip_t, ArchiveCloser> archive(handle);
    const zip_int64_t count = zip_get_num_entries(handle, 0);
    if (count != extents.size()) {
        error = QStringLiteral("not a sound ZIP archive: its directory lists %1 entries, of "
                               "which %2 can be read")
                    .arg(extents.size())
                    .arg(count);
        return false;
    }
    m_items.reserve(count);
    for (zip_int64_t i = 0; i < count; ++i) {
        const Extent &extent = extents[i];
        zip_stat_t stat;
        zip_stat_init(&stat);
        const char *raw = zip_get_name(handle, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (zip_stat_index(handle, zip_uint64_t(i), ZIP_FL_ENC_GUESS, &stat) != 0 || !stat.name ||
            !raw || extent.name != raw || !(stat.valid & ZIP_STAT_SIZE) ||
            stat.size != extent.size || !(stat.valid & ZIP_STAT_COMP_SIZE) ||
            stat.comp_size != extent.packed) {
            error = QStringLiteral("not a sound ZIP archive: entry %1 reads differently from its "
                                   "directory record")
                        .arg(i + 1);
            return false;
        }
        ArchiveItem item;
        item.index = i;
        item.name = QString::fromUtf8(stat.name);
        item.size = qint64(stat.size);
        item.crc = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
        item.encrypted =
            (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
        const bool known = (stat.valid & ZIP_STAT_COMP_METHOD) && (stat.valid & ZIP_STAT_CRC);
        item.stored = known && stat.comp_method == ZIP_CM_STORE;
        item.deflated = known && stat.comp_method == ZIP_CM_DEFLATE;
        item.compressedSize = qint64(stat.comp_size);
        m_items.append(item);
    }
    m_archive = std::move(archive);
    return true;
}

bool LibzipArchiveReader::read(const ArchiveItem &item,
                               const std::function<bool(QByteArrayView)> &piece,
                               QString &error) const {
    if (!m_archive) {
        error = QStringLiteral("no archive is open");
        return false;
    }
    if (item.size < 0 || item.compressedSize < 0) {
        error = QStringLiteral("its size is impossible");
        return false;
    }
    zip_t *archive = m_archive.get();
    // One buffer for all entries: allocating it anew for each small one costs more than reading.
    if (m_buffer.isEmpty())
        m_buffer.resize(128 * 1024);
    QByteArray &buffer = m_buffer;
    const zip_uint64_t index = zip_uint64_t(item.index);
    // Deflated entries are unpacked by libdeflate where they fit in memory: several times
    // faster than zlib's inflate and CRC, which would dominate reading back an archive.
    if (item.deflated && !item.encrypted && item.size <= WholeEntry &&
        item.compressedSize <= WholeEntry)
        return readWholeDeflated(item, piece, error);
    if (!item.stored || item.encrypted || item.size < 2) {
        std::unique_ptr<zip_file_t, EntryCloser> file(
            item.encrypted ? zip_fopen_index_encrypted(archive, index, 0, m_password.constData())
                           : zip_fopen_index(archive, index, 0));
        if (!file) {
            error = QString::fromUtf8(zip_strerror(archive));
            return false;
        }
        // Never more than the entry's size, whatever its data unpacks to.
        for (qint64 left = item.size;;) {
            const zip_int64_t got =
                zip_fread(file.get(), buffer.data(), zip_uint64_t(buffer.size()));
            if (got < 0) {
                // libzip checks the CRC of what it unpacks when the data ends.
                error = QString::fromUtf8(zip_file_strerror(file.get()));
                return false;
            }
            if (got == 0)
                return true;
            left -= got;
            if (left < 0) {
                error =
                    QStringLiteral("it unpacks to more than its size of %1 bytes").arg(item.size);
                return false;
            }
            if (!piece(QByteArrayView(buffer.constData(), got))) {
                error = QStringLiteral("reading was stopped");
                return false;
            }
        }
    }

    // A stored entry is read as two windows on its data, so that libzip takes no CRC of its
    // own (at a fraction of libdeflate's speed, it would dominate reading back an archive of
    // images), and its CRC is checked here.
    quint32 crc = 0;
    auto window = [&](zip_uint64_t start, zip_int64_t length) {
        std::unique_ptr<zip_source_t, SourceReleaser> source(
            zip_source_zip(archive, archive, index, 0, start, length));
        if (!source || zip_source_open(source.get()) != 0) {
            error = QString::fromUtf8(source ? zip_error_strerror(zip_source_error(source.get()))
                                             : zip_strerror(archive));
            return false;
        }
        bool read = true;
        for (;;) {
            const zip_int64_t got =
                zip_source_read(source.get(), buffer.data(), zip_uint64_t(buffer.size()));
            if (got < 0) {
                error = QString::fromUtf8(zip_error_strerror(zip_source_error(source.get())));
                read = false;
            } else if (got > 0) {
                crc = quint32(libdeflate_crc32(crc, buffer.constData(), size_t(got)));
                if (piece(QByteArrayView(buffer.constData(), got)))
                    continue;
                error = QStringLiteral("reading was stopped");
                read = false;
            }
            break;
        }
        zip_source_close(source.get());
        return read;
    };
    const zip_int64_t last = item.size - 1;
    if (!window(0, last) || !window(zip_uint64_t(last), 1))
        return false;
    if (crc != item.crc) {
        error = QStringLiteral("CRC error");
        return false;
    }
    return true;
}

bool LibzipArchiveReader::readWholeDeflated(const ArchiveItem &item,
                                            const std::function<bool(QByteArrayView)> &piece,
                                            QString &error) const {
    zip_t *archive = m_archive.get();
    std::unique_ptr<zip_source_t, SourceReleaser> source(
        zip_source_zip(archive, archive, zip_uint64_t(item.index), ZIP_FL_COMPRESSED, 0, -1));
    if (!source || zip_source_open(source.get()) != 0) {
        error = QString::fromUtf8(source ? zip_error_strerror(zip_source_error(source.get()))
                                         : zip_strerror(archive));
        return false;
    }
    m_packed.resize(item.compressedSize);
    qint64 filled = 0;
    while (filled < item.compressedSize) {
        const zip_int64_t got = zip_source_read(source.get(), m_packed.data() + filled,
                                                zip_uint64_t(item.compressedSize - filled));
        if (got <= 0)
            break;
        filled += got;
    }
    zip_source_close(source.get());
    if (filled != item.compressedSize) {
        error = QStringLiteral("Read error");
        return false;
    }
    if (!m_decompressor)
        m_decompressor.reset(libdeflate_alloc_decompressor());
    m_unpacked.resize(qMax<qint64>(item.size, 1));
    size_t unpacked = 0;
    if (!m_decompressor ||
        libdeflate_deflate_decompress(m_decompressor.get(), m_packed.constData(),
                                      size_t(item.compressedSize), m_unpacked.data(),
                                      size_t(item.size), &unpacked) != LIBDEFLATE_SUCCESS ||
        qint64(unpacked) != item.size) {
        error = QStringLiteral("Zlib error: the data cannot be unpacked");
        return false;
    }
    if (quint32(libdeflate_crc32(0, m_unpacked.constData(), unpacked)) != item.crc) {
        error = QStringLiteral("CRC error");
        return false;
    }
    if (!piece(QByteArrayView(m_unpacked.constData(), qsizetype(unpacked)))) {
        error = QStringLiteral("reading was stopped");
        return false;
    }
    return true;
}

} // namespace

extern "C" Q_DECL_EXPORT ArchiveReader *mapzipCreateArchiveReader() {
    return new LibzipArchiveReader;
}
