#include "BufferedArchive.h"

#include "FileSelection.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

namespace zip32 {
namespace {

// Our temporary file's name is the archive's with '.' and a random number of this many hex
// digits; libzip's own had six letters or digits.
constexpr std::size_t TemporaryDigits = 8;
constexpr std::size_t LibzipTemporaryLength = 6;

// Large enough that writing costs a system call per MiB, small beside the workers' memory.
constexpr std::size_t BufferSize = 1u << 20;

class BufferedFile {
public:
    BufferedFile(zip_source_t *file, std::filesystem::path path)
        : m_file(file), m_path(std::move(path)) {
        zip_error_init(&m_error);
    }
    ~BufferedFile() {
        if (m_out)
            rollbackWrite(); // never committed: nothing is left behind
        zip_source_free(m_file);
        zip_error_fini(&m_error);
    }
    BufferedFile(const BufferedFile &) = delete;
    BufferedFile &operator=(const BufferedFile &) = delete;

    static zip_int64_t callback(void *self, void *data, zip_uint64_t length,
                                zip_source_cmd_t command) {
        return static_cast<BufferedFile *>(self)->serve(data, length, command);
    }

private:
    zip_int64_t serve(void *data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t serveWriting(void *data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t beginWrite();
    zip_int64_t commitWrite();
    void rollbackWrite();
    zip_int64_t write(const unsigned char *data, std::size_t length);
    zip_int64_t seekWrite(void *data, zip_uint64_t length);
    bool flush();
    // The new file's write of `length` bytes at `at`, straight through.
    bool writeOut(std::uint64_t at, const unsigned char *data, std::size_t length);
    zip_int64_t fileFailed(); // takes over the file source's error
    zip_int64_t result(int status) { return status < 0 ? fileFailed() : 0; }
    zip_int64_t failed(int code, int system = errno) {
        zip_error_set(&m_error, code, system);
        return -1;
    }

    zip_source_t *m_file; // libzip's file source, for reading an earlier archive
    std::filesystem::path m_path;
    zip_error_t m_error;
    FilePtr m_out;                // the new archive while it is written
    std::filesystem::path m_temp; // its name beside m_path
    std::uint64_t m_outAt = 0;    // where m_out stands
    // The bytes written since the last write to m_out: m_used of them, from the file's
    // offset m_start; the next write goes to m_start + m_at.
    std::unique_ptr<unsigned char[]> m_buffer;
    std::uint64_t m_start = 0, m_end = 0; // m_end: the size of the file being written
    std::size_t m_used = 0, m_at = 0;
};

zip_int64_t BufferedFile::serve(void *data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_BEGIN_WRITE,
            ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_WRITE,
            ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE,
            ZIP_SOURCE_ACCEPT_EMPTY, -1);
    case ZIP_SOURCE_OPEN:
        return result(zip_source_open(m_file));
    case ZIP_SOURCE_READ: {
        const zip_int64_t got = zip_source_read(m_file, data, length);
        return got < 0 ? fileFailed() : got;
    }
    case ZIP_SOURCE_CLOSE:
        return result(zip_source_close(m_file));
    case ZIP_SOURCE_STAT:
        if (length < sizeof(zip_stat_t) || zip_source_stat(m_file, static_cast<zip_stat_t *>(data)))
            return fileFailed();
        return sizeof(zip_stat_t);
    case ZIP_SOURCE_SEEK: {
        auto *seek = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &m_error);
        return seek ? result(zip_source_seek(m_file, seek->offset, seek->whence)) : -1;
    }
    case ZIP_SOURCE_TELL: {
        const zip_int64_t at = zip_source_tell(m_file);
        return at < 0 ? fileFailed() : at;
    }
    case ZIP_SOURCE_ACCEPT_EMPTY:
        return 0; // as libzip's file source: an empty file is no archive
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&m_error, data, length);
    case ZIP_SOURCE_FREE:
        delete this;
        return 0;
    default:
        return serveWriting(data, length, command);
    }
}

zip_int64_t BufferedFile::serveWriting(void *data, zip_uint64_t length, zip_source_cmd_t command) {
    switch (command) {
    case ZIP_SOURCE_BEGIN_WRITE:
        return beginWrite();
    case ZIP_SOURCE_WRITE:
        return write(static_cast<const unsigned char *>(data), static_cast<std::size_t>(length));
    case ZIP_SOURCE_SEEK_WRITE:
        return seekWrite(data, length);
    case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(m_start + m_at);
    case ZIP_SOURCE_COMMIT_WRITE:
        return commitWrite();
    case ZIP_SOURCE_ROLLBACK_WRITE:
        rollbackWrite();
        return 0;
    case ZIP_SOURCE_REMOVE: {
        std::error_code error;
        if (!std::filesystem::remove(m_path, error) && error) {
            zip_error_set(&m_error, ZIP_ER_REMOVE, error.value());
            return -1;
        }
        return 0;
    }
    default:
        zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_int64_t BufferedFile::beginWrite() {
    if (!m_buffer)
        m_buffer.reset(new (std::nothrow) unsigned char[BufferSize]);
    if (!m_buffer)
        return failed(ZIP_ER_MEMORY, 0);
    m_start = m_end = m_used = m_at = m_outAt = 0;
    // A name beside the target that nothing has yet; a dead run's is removed with its staging.
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !m_out; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%0*x", int(TemporaryDigits),
                      static_cast<unsigned>(random()));
        m_temp = m_path;
        m_temp += suffix;
        m_out = createNewFile(m_temp);
        if (!m_out && errno != EEXIST)
            break;
    }
    return m_out ? 0 : failed(ZIP_ER_TMPOPEN);
}

zip_int64_t BufferedFile::commitWrite() {
    if (!flush())
        return -1;
    m_buffer.reset();
    const bool closed = std::fclose(m_out.release()) == 0;
    if (!closed) {
        const int cause = errno;
        rollbackWrite();
        return failed(ZIP_ER_WRITE, cause);
    }
    std::error_code error;
    std::filesystem::rename(m_temp, m_path, error);
    if (error) {
        rollbackWrite();
        return failed(ZIP_ER_RENAME, error.value());
    }
    return 0;
}

void BufferedFile::rollbackWrite() {
    m_buffer.reset();
    m_out.reset();
    std::error_code unused;
    if (!m_temp.empty())
        std::filesystem::remove(m_temp, unused);
    m_temp.clear();
}

bool BufferedFile::writeOut(std::uint64_t at, const unsigned char *data, std::size_t length) {
    if (at != m_outAt) {
#ifdef _WIN32
        const bool moved = _fseeki64(m_out.get(), static_cast<__int64>(at), SEEK_SET) == 0;
#else
        const bool moved = fseeko(m_out.get(), static_cast<off_t>(at), SEEK_SET) == 0;
#endif
        if (!moved) {
            failed(ZIP_ER_SEEK);
            return false;
        }
        m_outAt = at;
    }
    if (std::fwrite(data, 1, length, m_out.get()) != length) {
        failed(ZIP_ER_WRITE);
        return false;
    }
    m_outAt += length;
    return true;
}

zip_int64_t BufferedFile::write(const unsigned char *data, std::size_t length) {
    if (length > BufferSize - m_at) {
        if (!flush())
            return -1;
        if (length >= BufferSize) { // as big as the buffer: straight through
            if (!writeOut(m_start, data, length))
                return -1;
            m_start += length;
            m_end = std::max(m_end, m_start);
            return static_cast<zip_int64_t>(length);
        }
    }
    std::memcpy(m_buffer.get() + m_at, data, length);
    m_at += length;
    m_used = std::max(m_used, m_at);
    m_end = std::max(m_end, m_start + m_at);
    return static_cast<zip_int64_t>(length);
}

zip_int64_t BufferedFile::seekWrite(void *data, zip_uint64_t length) {
    auto *seek = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &m_error);
    if (!seek)
        return -1;
    const std::int64_t base = seek->whence == SEEK_SET   ? 0
                              : seek->whence == SEEK_CUR ? static_cast<std::int64_t>(m_start + m_at)
                                                         : static_cast<std::int64_t>(m_end);
    const std::int64_t target = base + seek->offset;
    if (seek->whence < SEEK_SET || seek->whence > SEEK_END || target < 0) {
        zip_error_set(&m_error, ZIP_ER_INVAL, 0);
        return -1;
    }
    const auto to = static_cast<std::uint64_t>(target);
    if (to >= m_start && to <= m_start + m_used) { // within what is held: no call
        m_at = static_cast<std::size_t>(to - m_start);
        return 0;
    }
    if (!flush())
        return -1;
    m_start = to; // the next write goes there
    return 0;
}

bool BufferedFile::flush() {
    if (m_used > 0 && !writeOut(m_start, m_buffer.get(), m_used))
        return false;
    m_start += m_at; // the next write goes to m_at
    m_used = m_at = 0;
    return true;
}

zip_int64_t BufferedFile::fileFailed() {
    const zip_error_t *cause = zip_source_error(m_file);
    zip_error_set(&m_error, zip_error_code_zip(cause), zip_error_code_system(cause));
    return -1;
}

} // namespace

bool isTemporaryArchiveName(std::string_view name, std::string_view archiveName) {
    if (!name.starts_with(archiveName) || name.size() <= archiveName.size() ||
        name[archiveName.size()] != '.')
        return false;
    const std::string_view suffix = name.substr(archiveName.size() + 1);
    const auto all = [suffix](auto test) {
        return std::all_of(suffix.begin(), suffix.end(), test);
    };
    if (suffix.size() == TemporaryDigits)
        return all([](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    return suffix.size() == LibzipTemporaryLength && all([](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

zip_source_t *bufferedArchiveFile(const std::filesystem::path &path, zip_error_t *error) {
    zip_source_t *file = zip_source_file_create(utf8Path(path).c_str(), 0, -1, error);
    if (!file)
        return nullptr;
    auto *buffered = new (std::nothrow) BufferedFile(file, path);
    if (!buffered) {
        zip_source_free(file);
        zip_error_set(error, ZIP_ER_MEMORY, 0);
        return nullptr;
    }
    zip_source_t *source = zip_source_function_create(&BufferedFile::callback, buffered, error);
    if (!source)
        delete buffered;
    return source;
}

} // namespace zip32
