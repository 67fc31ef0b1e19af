#include "intake/FileNames.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFile>
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

QString findFolderIgnoringCase(const QString &parent, const QString &name, QString *error) {
    const QDir dir(parent);
    if (QFileInfo(dir.filePath(name)).isDir())
        return dir.filePath(name);
    QList<platform::FolderEntry> entries;
    QString why;
    if (!platform::listFolder(parent, entries, why)) {
        if (error && QFileInfo::exists(parent))
            *error = why;
        return {};
    }
    // Among names that differ only in case, the first in byte order, as a sorted listing has it.
    QString found;
    for (const platform::FolderEntry &entry : std::as_const(entries)) {
        if (entry.name.compare(name, Qt::CaseInsensitive) != 0 ||
            (!found.isEmpty() && entry.name >= found))
            continue;
        if (entry.kind == platform::FolderEntry::Kind::Folder ||
            (entry.kind == platform::FolderEntry::Kind::Link &&
             QFileInfo(dir.filePath(entry.name)).isDir()))
            found = entry.name;
    }
    return found.isEmpty() ? QString() : dir.filePath(found);
}

bool isInsideFolder(const QString &path, const QString &folder) {
    if (folder.isEmpty())
        return false;
    // A root ("/", "C:/") is the one canonical folder that ends with '/'.
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}
