#include "platform/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#ifdef Q_OS_WIN
#define NOMINMAX
#include <filesystem>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#endif

namespace platform {

namespace {

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

using Clock = std::chrono::steady_clock;

// Tries `attempt` until it says yes or no, or `waitMs` have passed; it says "not yet" with
// std::nullopt.
template <typename Attempt> bool retryFor(int waitMs, Attempt attempt) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (const std::optional<bool> result = attempt())
            return *result;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

std::filesystem::path nativePath(const QString &path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString systemText(const std::error_code &code) {
    return QString::fromLocal8Bit(code.message().c_str());
}

#ifdef Q_OS_WIN

bool openRegularFile(const QString &path, QFile &file, QString &error) {
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("not a regular file");
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool ownedByCurrentUser(const QString &) {
    return true;
}

bool syncToDisk(QFile &file, QString &error) {
    if (_commit(file.handle()) != 0) {
        error = systemError(errno);
        return false;
    }
    return true;
}

bool lockFile(QFile &file, int waitMs) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    return retryFor(waitMs, [handle]() -> std::optional<bool> {
        // One byte far beyond the data: Windows' locks also bar reading what they cover.
        OVERLAPPED place = {};
        place.OffsetHigh = 0x40000000;
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &place))
            return true;
        if (GetLastError() == ERROR_LOCK_VIOLATION)
            return std::nullopt;
        return false;
    });
}

Lock openLocked(const QString &path, int waitMs, QFile &file, QString &error) {
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile())) {
        error = QStringLiteral("is not a regular file");
        return Lock::Failed;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadWrite)) {
        error = file.errorString();
        return Lock::Failed;
    }
    return lockFile(file, waitMs) ? Lock::Taken : Lock::Held;
}

// Windows keeps an open file from being removed: what a dead run left stays.
bool lockLeftover(const QString &, QFile &) {
    return false;
}

bool isFileAt(const QFile &file, const QString &path) {
    return QFileInfo(file.fileName()) == QFileInfo(path);
}

bool openUnnamedFile(const QString &, QFile &) {
    return false;
}

bool nameFile(QFile &, const QString &, QString &error) {
    error = QStringLiteral("files cannot be given a second name here");
    return false;
}

bool renameOpenFile(QFile &file, const QString &from, const QString &to, QString &error) {
    file.close();
    std::error_code failure;
    std::filesystem::rename(std::filesystem::path(from.toStdWString()),
                            std::filesystem::path(to.toStdWString()), failure);
    if (failure)
        error = QString::fromStdString(failure.message());
    return !failure;
}

bool makePrivateFolder(const QString &path, QString &error) {
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink() || !QDir().mkdir(path)) {
        error = QStringLiteral("cannot be made");
        return false;
    }
    return true;
}

bool sameFileSystem(const QString &, const QString &) {
    return false;
}

void endWithThisProcess(QProcess &) {}

bool stampOf(const QFile &file, FileStamp &stamp, QString &error) {
    BY_HANDLE_FILE_INFORMATION info = {};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) {
        error = QStringLiteral("the file's state cannot be read");
        return false;
    }
    auto nanoseconds = [](const FILETIME &time) {
        const qint64 ticks = qint64(quint64(time.dwHighDateTime) << 32 | time.dwLowDateTime);
        return (ticks - 116444736000000000LL) * 100; // from 1601 in 100 ns to 1970 in ns
    };
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = quint64(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    stamp.size = qint64(quint64(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
    stamp.modifiedNs = nanoseconds(info.ftLastWriteTime);
    stamp.changedNs = stamp.modifiedNs;
    return true;
}

qint64 fileClockNow() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const qint64 ticks = qint64(quint64(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    return (ticks - 116444736000000000LL) * 100;
}

#else

bool openRegularFile(const QString &path, QFile &file, QString &error) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError(errno);
        return false;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        error = systemError(errno);
        ::close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? QStringLiteral("is a folder, not a file")
                                      : QStringLiteral("not a regular file");
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool ownedByCurrentUser(const QString &path) {
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid == ::geteuid();
}

bool syncToDisk(QFile &file, QString &error) {
    if (!file.flush() || ::fsync(file.handle()) != 0) {
        error = systemError(errno);
        return false;
    }
    return true;
}

namespace {

// 0 when the lock on `fd` was taken within `waitMs`, otherwise the system's reason (EWOULDBLOCK:
// another process holds it).
int flockFor(int fd, int waitMs) {
    int reason = 0;
    retryFor(waitMs, [fd, &reason]() -> std::optional<bool> {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            reason = 0;
            return true;
        }
        reason = errno;
        if (reason == EWOULDBLOCK || reason == EINTR)
            return std::nullopt;
        return false;
    });
    return reason;
}

// `fd` opened by `mode` into `file`, which then owns it.
bool adopt(int fd, QIODevice::OpenMode mode, QFile &file) {
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

} // namespace

bool lockFile(QFile &file, int waitMs) {
    return flockFor(file.handle(), waitMs) == 0;
}

Lock openLocked(const QString &path, int waitMs, QFile &file, QString &error) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno == ELOOP ? QStringLiteral("is a link") : systemError(errno);
        return Lock::Failed;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = QStringLiteral("is not a regular file");
        ::close(fd);
        return Lock::Failed;
    }
    if (!adopt(fd, QIODevice::ReadWrite, file)) {
        error = file.errorString();
        return Lock::Failed;
    }
    const int reason = flockFor(fd, waitMs);
    if (reason == 0)
        return Lock::Taken;
    if (reason == EWOULDBLOCK)
        return Lock::Held;
    error = systemError(reason);
    file.close();
    return Lock::Failed;
}

bool lockLeftover(const QString &path, QFile &file) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    // Locked, the name must still be the file's: it may have been removed and made anew.
    if (!adopt(fd, QIODevice::ReadOnly, file))
        return false;
    if (isFileAt(file, path))
        return true;
    file.close();
    return false;
}

bool isFileAt(const QFile &file, const QString &path) {
    struct stat open, named;
    return ::fstat(file.handle(), &open) == 0 &&
           ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

bool openUnnamedFile(const QString &folder, QFile &file) {
#if defined(O_TMPFILE)
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    return fd >= 0 && adopt(fd, QIODevice::ReadWrite | QIODevice::Unbuffered, file);
#else
    Q_UNUSED(folder);
    Q_UNUSED(file);
    return false;
#endif
}

bool nameFile(QFile &file, const QString &path, QString &error) {
    const QByteArray name = QFile::encodeName(path);
#if defined(__linux__)
    // Through /proc, as anybody may; by the handle itself where /proc is missing, as the
    // superuser may.
    const QByteArray handle = "/proc/self/fd/" + QByteArray::number(file.handle());
    if (::linkat(AT_FDCWD, handle.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno == ENOENT &&
        ::linkat(file.handle(), "", AT_FDCWD, name.constData(), AT_EMPTY_PATH) == 0)
        return true;
#else
    if (!file.fileName().isEmpty() &&
        ::link(QFile::encodeName(file.fileName()).constData(), name.constData()) == 0)
        return true;
#endif
    error = systemError(errno);
    return false;
}

bool renameOpenFile(QFile &, const QString &from, const QString &to, QString &error) {
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    error = systemError(errno);
    return false;
}

bool makePrivateFolder(const QString &path, QString &error) {
    if (::mkdir(QFile::encodeName(path).constData(), 0700) == 0)
        return true;
    error = systemError(errno);
    return false;
}

bool sameFileSystem(const QString &a, const QString &b) {
    struct stat first, second;
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev;
}

bool stampOf(const QFile &file, FileStamp &stamp, QString &error) {
    struct stat info = {};
    if (::fstat(file.handle(), &info) != 0) {
        error = systemError(errno);
        return false;
    }
    stamp.device = quint64(info.st_dev);
    stamp.inode = quint64(info.st_ino);
    stamp.size = qint64(info.st_size);
#if defined(__APPLE__)
    stamp.modifiedNs = qint64(info.st_mtimespec.tv_sec) * 1000000000 + info.st_mtimespec.tv_nsec;
    stamp.changedNs = qint64(info.st_ctimespec.tv_sec) * 1000000000 + info.st_ctimespec.tv_nsec;
#else
    stamp.modifiedNs = qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.changedNs = qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
#endif
    return true;
}

qint64 fileClockNow() {
    struct timespec now = {};
#if defined(CLOCK_REALTIME_COARSE)
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now); // what Linux stamps changes with
#else
    ::clock_gettime(CLOCK_REALTIME, &now);
#endif
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void endWithThisProcess(QProcess &process) {
#if defined(__linux__)
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        // Until it runs the new program, the child has this process's handlers: with the
        // system's own, a termination that comes now ends it.
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        ::sigaction(SIGTERM, &standard, nullptr);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::raise(SIGTERM); // this process ended before the request was set up
    });
#else
    Q_UNUSED(process);
#endif
}

#endif

namespace {

std::atomic<int> g_interrupt = 0;
std::atomic<bool> g_catching = false;
std::atomic<bool> g_ignoring = false;
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

bool isClosedPipe(int signal) {
#ifdef SIGPIPE
    return signal == SIGPIPE;
#else
    Q_UNUSED(signal);
    return false;
#endif
}

extern "C" void onInterrupt(int signal) {
#ifdef Q_OS_WIN
    std::signal(signal, onInterrupt); // Windows resets the handler before calling it
#endif
    if (g_ignoring.load())
        return;
    if (g_catching.load()) {
        const int seen = g_interrupt.load();
        const bool pipe = isClosedPipe(signal);
        // The first interrupt counts; a closed pipe only until a real one comes.
        if (seen == 0 || (isClosedPipe(seen) && !pipe))
            g_interrupt.store(signal);
        // The run's result may have been settled meanwhile: then the signal does not count.
        if (g_ignoring.load()) {
            g_interrupt.store(0);
            return;
        }
        // Read again after the store: stopCatchingInterrupts() either sees the signal, or it
        // has finished, and the signal ends the process here.
        if (g_catching.load() && (pipe || seen != signal))
            return;
    }
    std::_Exit(128 + signal);
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        const int interrupts[] = {SIGINT, SIGTERM,
#ifdef SIGHUP
                                  SIGHUP,
#endif
#ifdef SIGPIPE
                                  SIGPIPE
#endif
        };
        for (const int signal : interrupts) {
#ifdef Q_OS_WIN
            if (std::signal(signal, onInterrupt) == SIG_IGN)
                std::signal(signal, SIG_IGN);
#else
            struct sigaction current = {};
            if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
                continue;
            struct sigaction handler = {};
            handler.sa_handler = onInterrupt;
            sigemptyset(&handler.sa_mask);
            handler.sa_flags = SA_RESTART; // the program's calls go on; it looks for the stop
            ::sigaction(signal, &handler, nullptr);
#endif
        }
    });
}

} // namespace

void exitOnInterrupt() {
    g_catching.store(false);
    installHandlers();
}

void catchInterrupts() {
    installHandlers();
    g_catching.store(true);
}

int caughtInterrupt() {
    return g_interrupt.load();
}

void ignoreInterrupts() {
    // First the flag, then the record: a handler that stored its signal after the clearing
    // sees the flag and clears it itself.
    g_ignoring.store(true);
    g_interrupt.store(0);
}

int stopCatchingInterrupts() {
    g_catching.store(false);
    return g_interrupt.load();
}

#if defined(MADV_HUGEPAGE)
constexpr std::uintptr_t LargePage = 2u << 20;
#endif

void adviseLargePages(void *data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t start = (begin + LargePage - 1) & ~(LargePage - 1);
    const std::uintptr_t end = (begin + size) & ~(LargePage - 1);
    if (start < end)
        ::madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

void prepareForLargeBuffers() {
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks below 128 MiB (a decoded image of 4096 x 4096 pixels takes 64 MiB and a few
        // bytes) come from one pool shared by all threads instead of mappings of their own,
        // and the pool is only given back when 256 MiB lie free at its top: what one thread
        // frees, the next one reuses without faulting it in again.
        mallopt(M_MMAP_THRESHOLD, 128 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        mallopt(M_ARENA_MAX, 1);
#if defined(MADV_HUGEPAGE)
        // The next 16 MiB of the pool, where a build's buffers go, are backed by 2 MiB pages
        // where the system allows it. Growing the pool and handing the block back at once
        // leaves the advice on that address range.
        constexpr std::size_t Advised = 16u << 20;
        if (void *block = std::malloc(Advised + LargePage)) {
            adviseLargePages(block, Advised + LargePage);
            std::free(block);
        }
#endif
    });
#endif
}

namespace {

// What a listing gives for each entry: its name in the file system's encoding, and its kind,
// worked out only when asked for (where the listing does not tell, it takes a closer look).
using EntryVisitor =
    std::function<void(std::string_view name, const std::function<FolderEntry::Kind()> &kind)>;

#ifdef Q_OS_WIN
bool visitFolder(const QString &folder, const EntryVisitor &visit, QString &error) {
    namespace fs = std::filesystem;
    std::error_code code;
    for (fs::directory_iterator it(nativePath(folder), code), end; !code && it != end;
         it.increment(code)) {
        const QByteArray encoded =
            QString::fromStdWString(it->path().filename().wstring()).toUtf8();
        visit(std::string_view(encoded.constData(), std::size_t(encoded.size())), [&] {
            std::error_code typeError;
            return it->is_symlink(typeError)        ? FolderEntry::Kind::Link
                   : it->is_regular_file(typeError) ? FolderEntry::Kind::File
                   : it->is_directory(typeError)    ? FolderEntry::Kind::Folder
                                                    : FolderEntry::Kind::Other;
        });
    }
    if (code)
        error = systemText(code);
    return !code;
}
#else
FolderEntry::Kind kindOf(DIR *dir, const dirent *entry) {
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
        // Some file systems leave the type to a closer look. One that cannot be looked at
        // counts as a file: opening it then names the cause.
        struct stat info = {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return FolderEntry::Kind::File;
        type = S_ISLNK(info.st_mode) ? DT_LNK
               : S_ISREG(info.st_mode) ? DT_REG
               : S_ISDIR(info.st_mode) ? DT_DIR
                                       : DT_UNKNOWN;
    }
    switch (type) {
    case DT_REG:
        return FolderEntry::Kind::File;
    case DT_DIR:
        return FolderEntry::Kind::Folder;
    case DT_LNK:
        return FolderEntry::Kind::Link;
    default:
        return FolderEntry::Kind::Other;
    }
}

bool visitFolder(const QString &folder, const EntryVisitor &visit, QString &error) {
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(QFile::encodeName(folder).constData()),
                                                   ::closedir);
    if (!dir) {
        error = systemError(errno);
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry)
            break;
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..")
            visit(name, [&] { return kindOf(dir.get(), entry); });
    }
    if (errno != 0) {
        error = systemError(errno);
        return false;
    }
    return true;
}
#endif

// A name as visitFolder gives it (UTF-8 on Windows, whose names are UTF-16) as text.
QString decodedName(std::string_view name) {
#ifdef Q_OS_WIN
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
#else
    return QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())));
#endif
}

} // namespace

QStringList namesIn(const QString &folder, const std::function<bool(std::string_view)> &wanted) {
    QStringList names;
    QString unused;
    visitFolder(
        folder,
        [&](std::string_view name, const auto &) {
            if (wanted(name))
                names << decodedName(name);
        },
        unused);
    return names;
}

bool listFolder(const QString &folder, QList<FolderEntry> &entries, QString &error) {
    return visitFolder(
        folder,
        [&](std::string_view name, const std::function<FolderEntry::Kind()> &kind) {
            entries.append({decodedName(name), kind()});
        },
        error);
}

} // namespace platform
