#include "archive/ArchiveReader.h"

#include <QFile>

#include <zip.h>

struct ArchiveReader::Archive {
    struct Closer {
        void operator()(zip_t *archive) const { zip_discard(archive); }
    };
    std::unique_ptr<zip_t, Closer> handle;
};

namespace {
struct EntryCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

QString libzipError(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}
} // namespace

ArchiveReader::ArchiveReader() = default;
ArchiveReader::~ArchiveReader() = default;

bool ArchiveReader::open(const QString &path, QString &error) {
    m_items.clear();
    m_archive.reset();
    int code = 0;
    zip_t *handle = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!handle) {
        error = QStringLiteral("not a readable ZIP archive (%1)").arg(libzipError(code));
        return false;
    }
    m_archive = std::make_unique<Archive>();
    m_archive->handle.reset(handle);
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
        m_items.append(item);
    }
    return true;
}

void ArchiveReader::setPassword(const QByteArray &password) {
    m_password = password;
}

bool ArchiveReader::read(const ArchiveItem &item, const std::function<bool(QByteArrayView)> &piece,
                         QString &error) const {
    if (!m_archive) {
        error = QStringLiteral("no archive is open");
        return false;
    }
    zip_t *archive = m_archive->handle.get();
    std::unique_ptr<zip_file_t, EntryCloser> file(
        item.encrypted ? zip_fopen_index_encrypted(archive, zip_uint64_t(item.index), 0,
                                                   m_password.constData())
                       : zip_fopen_index(archive, zip_uint64_t(item.index), 0));
    if (!file) {
        error = QString::fromUtf8(zip_strerror(archive));
        return false;
    }
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const zip_int64_t got = zip_fread(file.get(), buffer.data(), zip_uint64_t(buffer.size()));
        if (got < 0) {
            // libzip checks the CRC when the data ends: a damaged entry fails here.
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

bool ArchiveReader::readAll(const ArchiveItem &item, QByteArray &data, qint64 limit,
                            QString &error) const {
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
