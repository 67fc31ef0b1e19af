#include "dialogs/ShowInFolder.h"

#include <QFileInfo>

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

bool showInFolder(const QString &file, const std::function<bool(const QUrl &)> &openUrl) {
    const QString absolute = QFileInfo(file).absoluteFilePath();
    if (selectInFileManager(absolute))
        return true;
    return openUrl && openUrl(QUrl::fromLocalFile(QFileInfo(absolute).absolutePath()));
}
