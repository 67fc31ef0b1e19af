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
    using Piece = std::function<bool(QByteArrayView)>;
    bool readWholeDeflated(const ArchiveItem &item, const Piece &piece, QString &error) const;
    bool readPacked(const ArchiveItem &item, QString &error) const;
    bool readStreamed(const ArchiveItem &item, const Piece &piece, QString &error) const;
    bool readStoredWindow(const ArchiveItem &item, zip_uint64_t start, zip_int64_t length,
                          quint32 &crc, const Piece &piece, QString &error) const;
    // Each returns false, with the failure's kind kept and `error` set.
    bool fail(ReadFailure failure, const QString &why, QString &error) const;
    bool fail(zip_error_t *zipError, QString &error) const;

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
constexpr qint64 Zip64EndRecordSize = 56;
// Traditional encryption puts 12 bytes before the data; strong encryption is another matter.
constexpr quint64 EncryptionHeaderSize = 12;
constexpr quint16 EncryptedFlag = 1, DataDescriptorFlag = 8, StrongEncryptionFlag = 0x40;
// At most: signature, CRC and two zip64 sizes.
constexpr qint64 LargestDataDescriptor = 24;

// An entry as the archive's central directory places it, read before libzip is trusted with it.
struct Extent {
    QByteArray name; // as stored
    quint16 method = 0;
    quint16 flags = 0;
    bool encrypted = false;
    quint32 crc = 0;
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

// Why an archive cannot be opened: the file cannot be read, or what it holds is not sound.
struct OpenProblem {
    QString text;
    bool unreadable = false;
};

// Reads `size` bytes at `offset`, which the caller has found to lie in the file: anything less
// is the system's failure, or the file changed meanwhile.
bool readAt(QFile &file, quint64 offset, qint64 size, QByteArray &bytes, OpenProblem &problem) {
    if (offset <= quint64(file.size()) && file.seek(qint64(offset))) {
        bytes = file.read(size);
        if (bytes.size() == size)
            return true;
    }
    problem.unreadable = true;
    problem.text = file.error() != QFileDevice::NoError
                       ? file.errorString()
                       : QStringLiteral("it ended early; was it changed while it was read?");
    return false;
}

QString entryName(const Extent &extent) {
    return QString::fromUtf8(extent.name);
}

// Where the central directory lies, and how many records it holds.
struct DirectoryPlace {
    quint64 count = 0;
    quint64 size = 0;
    quint64 start = 0;
};

// Finds the central directory from the end record, through the zip64 records where there are
// some. Count and size are checked against the file before anything is allocated.
bool findDirectory(QFile &file, DirectoryPlace &place, OpenProblem &problem) {
    QString &error = problem.text;
    const qint64 fileSize = file.size();
    const qint64 tailSize = qMin<qint64>(fileSize, EndRecordSize + 0xFFFF);
    QByteArray tail;
    if (!readAt(file, quint64(fileSize - tailSize), tailSize, tail, problem))
        return false;
    qsizetype end = tail.size() - EndRecordSize;
    while (end >= 0 && !(tail.at(end) == 'P' && tail.mid(end, 4) == QByteArrayView("PK\5\6") &&
                         end + EndRecordSize + u16(tail.constData() + end + 20) <= tail.size()))
        --end;
    if (end < 0) {
        error = QStringLiteral("it has no end record");
        return false;
    }
    const char *record = tail.constData() + end;
    place = {u16(record + 10), u32(record + 12), u32(record + 16)};
    quint64 directoryEnd = quint64(fileSize - tailSize + end);
    if (end >= 20 && tail.mid(end - 20, 4) == QByteArrayView("PK\6\7")) {
        const quint64 at = u64(tail.constData() + end - 12);
        QByteArray zip64;
        const bool fits = at < directoryEnd && directoryEnd - at >= quint64(Zip64EndRecordSize);
        if (fits && !readAt(file, at, Zip64EndRecordSize, zip64, problem))
            return false;
        if (!fits || zip64.left(4) != QByteArrayView("PK\6\6")) {
            error = QStringLiteral("its zip64 end record is missing");
            return false;
        }
        const char *z = zip64.constData();
        place = {u64(z + 32), u64(z + 40), u64(z + 48)};
        directoryEnd = at;
    }
    if (place.start > directoryEnd || place.size > directoryEnd - place.start ||
        place.count > place.size / CentralRecordSize) {
        error =
            QStringLiteral("its directory of %1 entries does not fit the file").arg(place.count);
        return false;
    }
    if (place.count > MaxEntries) {
        error = QStringLiteral("it holds %1 entries, more than the %2 a map archive may hold")
                    .arg(place.count)
                    .arg(MaxEntries);
        return false;
    }
    return true;
}

// The zip64 field of a record's `extra` holds, in this order, the values too large for their
// 32-bit places.
void readZip64Field(const char *extra, qsizetype extraSize, Extent &extent) {
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
}

// Finds the central directory and reads its records.
bool readDirectory(QFile &file, QList<Extent> &extents, quint64 &directoryStart,
                   OpenProblem &problem) {
    DirectoryPlace place;
    QByteArray directory;
    if (!findDirectory(file, place, problem) ||
        !readAt(file, place.start, qint64(place.size), directory, problem))
        return false;
    extents.reserve(qsizetype(place.count));
    qsizetype at = 0;
    for (quint64 i = 0; i < place.count; ++i) {
        const char *r = directory.constData() + at;
        const bool whole = directory.size() - at >= CentralRecordSize &&
                           QByteArrayView(r, 4) == QByteArrayView("PK\1\2");
        const qsizetype nameSize = whole ? u16(r + 28) : 0, extraSize = whole ? u16(r + 30) : 0;
        const qsizetype length =
            CentralRecordSize + nameSize + extraSize + (whole ? u16(r + 32) : 0);
        if (!whole || directory.size() - at < length) {
            problem.text = QStringLiteral("directory record %1 is damaged").arg(i + 1);
            return false;
        }
        Extent extent;
        extent.name = QByteArray(r + CentralRecordSize, nameSize);
        extent.method = u16(r + 10);
        extent.flags = u16(r + 8);
        extent.encrypted = extent.flags & EncryptedFlag;
        extent.crc = u32(r + 16);
        extent.packed = u32(r + 20);
        extent.size = u32(r + 24);
        extent.header = u32(r + 42);
        readZip64Field(r + CentralRecordSize + nameSize, extraSize, extent);
        extents.append(extent);
        at += length;
    }
    directoryStart = place.start;
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
        // Stored data is as large as the entry, after the header of traditional encryption.
        const quint64 header = extent.encrypted ? EncryptionHeaderSize : 0;
        if (extent.method == ZIP_CM_STORE && !(extent.flags & StrongEncryptionFlag) &&
            extent.packed != extent.size + header) {
            error = QStringLiteral("%1: it is stored as %2 bytes but claims %3%4")
                        .arg(entryName(extent))
                        .arg(extent.packed)
                        .arg(extent.size)
                        .arg(header ? QStringLiteral(" and an encryption header of %1").arg(header)
                                    : QString());
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

// A data descriptor after an entry's data repeats its CRC and sizes, with or without its
// signature, its sizes 4 or (zip64) 8 bytes long: whichever it is, it must agree with the
// directory record, or tools that read it would unpack another entry than this reader checks.
bool descriptorAgrees(QFile &file, const Extent &extent, quint64 at, quint64 directoryStart,
                      OpenProblem &problem) {
    QByteArray bytes;
    if (!readAt(file, at, qint64(qMin<quint64>(LargestDataDescriptor, directoryStart - at)), bytes,
                problem))
        return false;
    const qsizetype signature = bytes.startsWith(QByteArrayView("PK\x07\x08")) ? 4 : 0;
    for (const qsizetype start : {signature, qsizetype(0)}) {
        for (const qsizetype width : {4, 8}) {
            if (bytes.size() < start + 4 + 2 * width)
                continue;
            const char *d = bytes.constData() + start;
            const quint64 packed = width == 4 ? u32(d + 4) : u64(d + 4);
            const quint64 size = width == 4 ? u32(d + 8) : u64(d + 12);
            if (u32(d) == extent.crc && packed == extent.packed && size == extent.size)
                return true;
        }
    }
    problem.text = QStringLiteral("%1: its data descriptor contradicts its directory record")
                       .arg(entryName(extent));
    return false;
}

// Every entry's header and data must lie in the file before the directory, and no two entries
// may share bytes: records pointing at one stream would make a small file unpack without end.
// The headers are read in file order through one window, so that many small entries cost few
// reads.
bool checkPlacement(QFile &file, const QList<Extent> &extents, quint64 directoryStart,
                    OpenProblem &problem) {
    QString &error = problem.text;
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
            if (!readAt(file, at, wanted, window, problem))
                return false;
        }
        const char *local = window.constData() + (at - windowStart);
        const quint64 dataStart = at + LocalHeaderSize + u16(local + 26) + u16(local + 28);
        if (QByteArrayView(local, 4) != QByteArrayView("PK\3\4") || dataStart > directoryStart ||
            extent.packed > directoryStart - dataStart) {
            error = QStringLiteral("%1: its data lies outside the archive").arg(entryName(extent));
            return false;
        }
        if ((u16(local + 6) & DataDescriptorFlag) &&
            !descriptorAgrees(file, extent, dataStart + extent.packed, directoryStart, problem))
            return false;
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

// The entries as libzip reads them, each as its directory record says, into `items`.
bool listItems(zip_t *handle, const QList<Extent> &extents, QList<ArchiveItem> &items,
               QString &error) {
    const zip_int64_t count = zip_get_num_entries(handle, 0);
    if (count != extents.size()) {
        error = QStringLiteral("not a sound ZIP archive: its directory lists %1 entries, of "
                               "which %2 can be read")
                    .arg(extents.size())
                    .arg(count);
        return false;
    }
    items.reserve(count);
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
        items.append(item);
    }
    return true;
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
    OpenProblem why;
    if (!readDirectory(file, extents, directoryStart, why) ||
        !checkPlacement(file, extents, directoryStart, why) || !checkSizes(extents, why.text)) {
        error = why.unreadable ? QStringLiteral("not a readable ZIP archive (%1)").arg(why.text)
                               : QStringLiteral("not a sound ZIP archive: %1").arg(why.text);
        return false;
    }
    int code = 0;
    zip_t *handle = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!handle) {
        error = QStringLiteral("not a readable ZIP archive (%1)").arg(libzipError(code));
        return false;
    }
    std::unique_ptr<zip_t, ArchiveCloser> archive(handle);
    QList<ArchiveItem> items;
    if (!listItems(handle, extents, items, error))
        return false;
    m_items = std::move(items);
    m_archive = std::move(archive);
    return true;
}

// The kind of a failure libzip reports. The data of every entry was found to lie in the file
// when it was opened: a read that ends early means that the system failed or the file changed.
ReadFailure failureOf(zip_error_t *error) {
    switch (zip_error_code_zip(error)) {
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_EOF:
    case ZIP_ER_OPEN:
    case ZIP_ER_MEMORY:
        return ReadFailure::System;
    case ZIP_ER_WRONGPASSWD:
        return ReadFailure::WrongPassword;
    default:
        return ReadFailure::Damaged;
    }
}

bool LibzipArchiveReader::fail(ReadFailure failure, const QString &why, QString &error) const {
    m_lastFailure = failure;
    error = why;
    return false;
}

bool LibzipArchiveReader::fail(zip_error_t *zipError, QString &error) const {
    return fail(failureOf(zipError), QString::fromUtf8(zip_error_strerror(zipError)), error);
}

bool LibzipArchiveReader::read(const ArchiveItem &item,
                               const std::function<bool(QByteArrayView)> &piece,
                               QString &error) const {
    m_lastFailure = ReadFailure::None;
    if (!m_archive)
        return fail(ReadFailure::Damaged, QStringLiteral("no archive is open"), error);
    if (item.size < 0 || item.compressedSize < 0)
        return fail(ReadFailure::Damaged, QStringLiteral("its size is impossible"), error);
    // One buffer for all entries: allocating it anew for each small one costs more than reading.
    if (m_buffer.isEmpty())
        m_buffer.resize(128 * 1024);
    // Deflated entries are unpacked by libdeflate where they fit in memory: several times
    // faster than zlib's inflate and CRC, which would dominate reading back an archive.
    if (item.deflated && !item.encrypted && item.size <= WholeEntry &&
        item.compressedSize <= WholeEntry)
        return readWholeDeflated(item, piece, error);
    if (!item.stored || item.encrypted || item.size < 2)
        return readStreamed(item, piece, error);
    // A stored entry is read as two windows on its data, so that libzip takes no CRC of its
    // own (at a fraction of libdeflate's speed, it would dominate reading back an archive of
    // images), and its CRC is checked here.
    quint32 crc = 0;
    const zip_int64_t last = item.size - 1;
    if (!readStoredWindow(item, 0, last, crc, piece, error) ||
        !readStoredWindow(item, zip_uint64_t(last), 1, crc, piece, error))
        return false;
    if (crc != item.crc)
        return fail(ReadFailure::Damaged, QStringLiteral("CRC error"), error);
    return true;
}

bool LibzipArchiveReader::readStreamed(const ArchiveItem &item, const Piece &piece,
                                       QString &error) const {
    zip_t *archive = m_archive.get();
    const zip_uint64_t index = zip_uint64_t(item.index);
    std::unique_ptr<zip_file_t, EntryCloser> file(
        item.encrypted ? zip_fopen_index_encrypted(archive, index, 0, m_password.constData())
                       : zip_fopen_index(archive, index, 0));
    if (!file)
        return fail(zip_get_error(archive), error);
    // Never more than the entry's size, whatever its data unpacks to.
    for (qint64 left = item.size;;) {
        const zip_int64_t got =
            zip_fread(file.get(), m_buffer.data(), zip_uint64_t(m_buffer.size()));
        // libzip checks the CRC of what it unpacks when the data ends.
        if (got < 0)
            return fail(zip_file_get_error(file.get()), error);
        if (got == 0 && left > 0)
            return fail(ReadFailure::SizeLie,
                        QStringLiteral("it unpacks to %1 bytes, fewer than its size of %2")
                            .arg(item.size - left)
                            .arg(item.size),
                        error);
        if (got == 0)
            return true;
        left -= got;
        if (left < 0)
            return fail(
                ReadFailure::SizeLie,
                QStringLiteral("it unpacks to more than its size of %1 bytes").arg(item.size),
                error);
        if (!piece(QByteArrayView(m_buffer.constData(), got)))
            return fail(ReadFailure::Stopped, QStringLiteral("reading was stopped"), error);
    }
}

bool LibzipArchiveReader::readStoredWindow(const ArchiveItem &item, zip_uint64_t start,
                                           zip_int64_t length, quint32 &crc, const Piece &piece,
                                           QString &error) const {
    zip_t *archive = m_archive.get();
    std::unique_ptr<zip_source_t, SourceReleaser> source(
        zip_source_zip(archive, archive, zip_uint64_t(item.index), 0, start, length));
    if (!source)
        return fail(zip_get_error(archive), error);
    if (zip_source_open(source.get()) != 0)
        return fail(zip_source_error(source.get()), error);
    bool read = true;
    for (;;) {
        const zip_int64_t got =
            zip_source_read(source.get(), m_buffer.data(), zip_uint64_t(m_buffer.size()));
        if (got < 0) {
            read = fail(zip_source_error(source.get()), error);
        } else if (got > 0) {
            crc = quint32(libdeflate_crc32(crc, m_buffer.constData(), size_t(got)));
            if (piece(QByteArrayView(m_buffer.constData(), got)))
                continue;
            read = fail(ReadFailure::Stopped, QStringLiteral("reading was stopped"), error);
        }
        break;
    }
    zip_source_close(source.get());
    return read;
}

bool LibzipArchiveReader::readWholeDeflated(const ArchiveItem &item, const Piece &piece,
                                            QString &error) const {
    if (!readPacked(item, error))
        return false;
    if (!m_decompressor)
        m_decompressor.reset(libdeflate_alloc_decompressor());
    if (!m_decompressor)
        return fail(ReadFailure::System, QStringLiteral("Malloc failure"), error);
    // One byte more than the entry's size tells a stream that unpacks to more.
    m_unpacked.resize(item.size + 1);
    size_t unpacked = 0;
    const libdeflate_result result = libdeflate_deflate_decompress(
        m_decompressor.get(), m_packed.constData(), size_t(item.compressedSize), m_unpacked.data(),
        size_t(item.size) + 1, &unpacked);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE ||
        (result == LIBDEFLATE_SUCCESS && qint64(unpacked) > item.size))
        return fail(ReadFailure::SizeLie,
                    QStringLiteral("it unpacks to more than its size of %1 bytes").arg(item.size),
                    error);
    if (result != LIBDEFLATE_SUCCESS)
        return fail(ReadFailure::Damaged, QStringLiteral("Zlib error: the data cannot be unpacked"),
                    error);
    if (qint64(unpacked) < item.size)
        return fail(ReadFailure::SizeLie,
                    QStringLiteral("it unpacks to %1 bytes, fewer than its size of %2")
                        .arg(unpacked)
                        .arg(item.size),
                    error);
    if (quint32(libdeflate_crc32(0, m_unpacked.constData(), unpacked)) != item.crc)
        return fail(ReadFailure::Damaged, QStringLiteral("CRC error"), error);
    if (!piece(QByteArrayView(m_unpacked.constData(), qsizetype(unpacked))))
        return fail(ReadFailure::Stopped, QStringLiteral("reading was stopped"), error);
    return true;
}

// The entry's data as stored, whole, into m_packed.
bool LibzipArchiveReader::readPacked(const ArchiveItem &item, QString &error) const {
    zip_t *archive = m_archive.get();
    std::unique_ptr<zip_source_t, SourceReleaser> source(
        zip_source_zip(archive, archive, zip_uint64_t(item.index), ZIP_FL_COMPRESSED, 0, -1));
    if (!source)
        return fail(zip_get_error(archive), error);
    if (zip_source_open(source.get()) != 0)
        return fail(zip_source_error(source.get()), error);
    m_packed.resize(item.compressedSize);
    qint64 filled = 0;
    zip_int64_t got = 0;
    while (filled < item.compressedSize &&
           (got = zip_source_read(source.get(), m_packed.data() + filled,
                                  zip_uint64_t(item.compressedSize - filled))) > 0)
        filled += got;
    bool read = true;
    if (got < 0)
        read = fail(zip_source_error(source.get()), error);
    else if (filled != item.compressedSize) // its place in the file was checked at the start
        read = fail(ReadFailure::System, QStringLiteral("Premature end of file"), error);
    zip_source_close(source.get());
    return read;
}

} // namespace

extern "C" Q_DECL_EXPORT ArchiveReader *mapzipCreateArchiveReader() {
    return new LibzipArchiveReader;
}
