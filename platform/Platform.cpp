#include "platform/Platform.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <QFileInfo>
#include <csignal>
#include <io.h>
#else
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
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

} // namespace platform
