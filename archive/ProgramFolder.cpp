#include "archive/ProgramFolder.h"

#include "archive/ZipBinding.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString programFolderFor(const QString &executableFolder) {
    const QString own = QDir::cleanPath(executableFolder);
    if (QFileInfo::exists(libraryFileFor(own + QStringLiteral("/zip32"))))
        return own;
    const QString installed = QDir::cleanPath(own + QLatin1Char('/') + InstalledProgramFolder);
    return QFileInfo(installed).isDir() ? installed : own;
}

QString programFolder() {
    return programFolderFor(QCoreApplication::applicationDirPath());
}
