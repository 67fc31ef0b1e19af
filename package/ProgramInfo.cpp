#include "package/ProgramInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString readmeCreditLine() {
    constexpr int inner = 50;
    const QString credit = (AuthorName + QStringLiteral(", ") + WebAddress).left(inner);
    const int left = (inner - credit.size()) / 2;
    const int right = inner - credit.size() - left;
    return QLatin1Char('|') + QString(left, QLatin1Char(' ')) + credit +
           QString(right, QLatin1Char(' ')) + QLatin1Char('|');
}

QString defaultMapsFolder() {
    const QString home = QDir::homePath();
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // The game's usual places on Linux, the per-user ones first.
    const QStringList candidates = {
        dataHome + QStringLiteral("/Soldat/maps"),
        dataHome + QStringLiteral("/soldat/maps"),
        home + QStringLiteral("/.soldat/maps"),
        home + QStringLiteral("/Soldat/maps"),
        QStringLiteral("/usr/share/games/soldat/maps"),
        QStringLiteral("/usr/local/share/games/soldat/maps"),
    };
    for (const QString &folder : candidates) {
        if (QFileInfo(folder).isDir())
            return QDir::cleanPath(folder) + QLatin1Char('/');
    }
    return home.endsWith(QLatin1Char('/')) ? home : home + QLatin1Char('/');
}
