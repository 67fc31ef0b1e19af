// "Show in Folder" against a file manager on a private session bus of the test's own.

#include "dialogs/ShowInFolder.h"
#include "DialogTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A file manager that records what it is asked to show.
class FakeFileManager : public QDBusVirtualObject {
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        calls << message.member() + QLatin1Char(' ') +
                     message.arguments().value(0).toStringList().join(QLatin1Char(','));
        return connection.send(message.createReply());
    }
    QStringList calls;
};

TEST(ShowInFolder, SelectsTheArchiveWhereAFileManagerOffersItElseOpensItsFolder) {
    testApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcess daemon;
    daemon.start(QStringLiteral("dbus-daemon"),
                 {QStringLiteral("--session"), QStringLiteral("--nofork"),
                  QStringLiteral("--print-address=1"),
                  QStringLiteral("--address=unix:path=") + dir.filePath(QStringLiteral("bus"))});
    ASSERT_TRUE(daemon.waitForReadyRead(10000)) << "dbus-daemon (scripts/setup installs it)";
    // Before the program's first use of the session bus, which is then this one.
    qputenv("DBUS_SESSION_BUS_ADDRESS", daemon.readLine().trimmed());

    const QString archive = dir.filePath(QStringLiteral("out/Viet archive.zip"));
    QList<QUrl> opened;
    auto openUrl = [&](const QUrl &url) {
        opened << url;
        return true;
    };
    EXPECT_TRUE(showInFolder(archive, openUrl)) << "no file manager on the bus";
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(dir.filePath(QStringLiteral("out")))});

    FakeFileManager manager;
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(
        bus.registerVirtualObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    EXPECT_TRUE(showInFolder(archive, openUrl));
    EXPECT_EQ(manager.calls,
              QStringList{QStringLiteral("ShowItems ") + QUrl::fromLocalFile(archive).toString()});
    EXPECT_EQ(opened.size(), 1) << "the file manager took it";

    bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    daemon.kill();
    daemon.waitForFinished();
}

} // namespace
