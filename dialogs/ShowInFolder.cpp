#include "dialogs/ShowInFolder.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef MAPZIP_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace {

// Asks the file manager to show `file` selected. True when it took the request.
bool selectInFileManager(const QString &file) {
#ifdef MAPZIP_HAVE_DBUS
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() ||
        !bus.interface()->isServiceRegistered(service).value())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
    // A short wait: the window must not hang on a file manager that does not answer.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
#else
    Q_UNUSED(file);
    return false;
#endif
}

} // namespace

bool openOnDesktop(const QUrl &url, std::function<void()> failedLater) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (!opener.isEmpty()) {
        // No parent: a file manager xdg-open runs must outlive the window, and a QProcess
        // ends its process when it is deleted. It deletes itself once xdg-open has ended.
        auto *process = new QProcess;
        process->setProgram(opener);
        process->setArguments({url.toString(QUrl::FullyEncoded)});
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        QObject::connect(process, &QProcess::finished, process,
                         [process, failedLater](int code, QProcess::ExitStatus status) {
                             if ((code != 0 || status != QProcess::NormalExit) && failedLater)
                                 failedLater();
                             process->deleteLater();
                         });
        process->start();
        if (process->waitForStarted())
            return true;
        delete process;
        return false;
    }
#endif
    Q_UNUSED(failedLater);
    return QDesktopServices::openUrl(url);
}

void showInFolder(const QString &file, const DesktopOpener &openUrl,
                  const std::function<void()> &notShown) {
    const QString absolute = QFileInfo(file).absoluteFilePath();
    if (selectInFileManager(absolute))
        return;
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(absolute).absolutePath());
    if ((!openUrl || !openUrl(folder, notShown)) && notShown)
        notShown();
}
