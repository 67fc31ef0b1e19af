// The archive reader of the read-back library: libzip finds the entries and streams what is
// big or encrypted, libdeflate unpacks the rest and takes the CRCs.

#include "archive/ArchiveReader.h"
#include "archive/ReadBack.h"

#include <QFile>

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
    int code = 0;
    zip_t *handle = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!handle) {
        error = QStringLiteral("not a readable ZIP archive (%1)").arg(libzipError(code));
        return false;
    }
    m_archive.reset(handle);
    const zip_int64_t count = zip_get_num_entries(handle, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(handle, zip_uint64_t(i), ZIP_FL_ENC_GUESS, &stat) != 0 || !stat.name)
            continue;
        ArchiveItem item;
        item.index = i;
        item.name = QString::fromUtf8(stat.name);
        item.size = (stat.valid & ZIP_STAT_SIZE) ? qint64(stat.size) : 0;
        item.crc = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
        item.encrypted =
            (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE;
        const bool known = (stat.valid & ZIP_STAT_COMP_METHOD) && (stat.valid & ZIP_STAT_CRC) &&
                           (stat.valid & ZIP_STAT_COMP_SIZE);
        item.stored = known && stat.comp_method == ZIP_CM_STORE;
        item.deflated = known && stat.comp_method == ZIP_CM_DEFLATE;
        item.compressedSize = known ? qint64(stat.comp_size) : 0;
        m_items.append(item);
    }
    return true;
}

bool LibzipArchiveReader::read(const ArchiveItem &item,
                               const std::function<bool(QByteArrayView)> &piece,
                               QString &error) const {
    if (!m_archive) {
        error = QStringLiteral("no archive is open");
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
        for (;;) {
            const zip_int64_t got =
                zip_fread(file.get(), buffer.data(), zip_uint64_t(buffer.size()));
            if (got < 0) {
                // libzip checks the CRC of what it unpacks when the data ends.
                error = QString::fromUtf8(zip_file_strerror(file.get()));
                return false;
            }
            if (got == 0)
                return true;
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
