#include "platform/Platform.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <QFileInfo>
#include <csignal>
#include <io.h>
#else
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#endif

namespace platform {

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
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

#else

namespace {
QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}
} // namespace

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

#endif

namespace {
volatile std::sig_atomic_t g_interrupt = 0;

extern "C" void recordInterrupt(int signal) {
    g_interrupt = signal;
    // The next one ends the process the usual way.
    std::signal(signal, SIG_DFL);
}
} // namespace

void catchInterrupts() {
    std::signal(SIGINT, recordInterrupt);
    std::signal(SIGTERM, recordInterrupt);
#ifdef SIGHUP
    std::signal(SIGHUP, recordInterrupt);
#endif
}

int caughtInterrupt() {
    return g_interrupt;
}

void prepareForLargeBuffers() {
#if defined(__GLIBC__)
    static std::once_flag once;
    std::call_once(once, [] {
        // Blocks up to 64 MiB come from one pool shared by all threads instead of mappings of
        // their own, and the pool is only given back when 256 MiB lie free at its top: what
        // one thread frees, the next one reuses without faulting it in again.
        mallopt(M_MMAP_THRESHOLD, 64 << 20);
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        mallopt(M_ARENA_MAX, 1);
#if defined(MADV_HUGEPAGE)
        // The next 16 MiB of the pool, where a build's buffers go, are backed by 2 MiB pages
        // where the system allows it: one fault for each instead of 512. Growing the pool and
        // handing the block back at once leaves the advice on that address range.
        constexpr std::uintptr_t LargePage = 2u << 20;
        constexpr std::size_t Advised = 16u << 20;
        if (void *block = std::malloc(Advised + LargePage)) {
            const std::uintptr_t start =
                (reinterpret_cast<std::uintptr_t>(block) + LargePage - 1) & ~(LargePage - 1);
            ::madvise(reinterpret_cast<void *>(start), Advised, MADV_HUGEPAGE);
            std::free(block);
        }
#endif
    });
#endif
}

} // namespace platform
