#include "intake/FileNames.h"

#include <QDir>
#include <QFileInfo>

bool isPlainFileName(const QString &name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() == 0)
            return false;
    }
    return true;
}

QString findFolderIgnoringCase(const QString &parent, const QString &name) {
    const QDir dir(parent);
    if (QFileInfo(dir.filePath(name)).isDir())
        return dir.filePath(name);
    const QStringList folders =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString &folder : folders) {
        if (folder.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(folder);
    }
    return {};
}

bool isInsideFolder(const QString &path, const QString &folder) {
    if (folder.isEmpty())
        return false;
    // A root ("/", "C:/") is the one canonical folder that ends with '/'.
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}
