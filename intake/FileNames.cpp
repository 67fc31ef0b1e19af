#include "intake/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>

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
    namespace fs = std::filesystem;
    const QDir dir(parent);
    if (QFileInfo(dir.filePath(name)).isDir())
        return dir.filePath(name);
    // Among names that differ only in case, the first in byte order, as a sorted listing has it.
    QString found;
    std::error_code code;
    for (fs::directory_iterator it(fs::path(QFile::encodeName(parent).toStdString()), code), end;
         !code && it != end; it.increment(code)) {
        const QString entry =
            QFile::decodeName(QByteArray::fromStdString(it->path().filename().native()));
        std::error_code typeError;
        if (entry.compare(name, Qt::CaseInsensitive) == 0 && it->is_directory(typeError) &&
            (found.isEmpty() || entry < found))
            found = entry;
    }
    if (code && code != std::errc::no_such_file_or_directory && error)
        *error = QString::fromLocal8Bit(code.message().c_str());
    return found.isEmpty() ? QString() : dir.filePath(found);
}

bool isInsideFolder(const QString &path, const QString &folder) {
    if (folder.isEmpty())
        return false;
    // A root ("/", "C:/") is the one canonical folder that ends with '/'.
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.size() > prefix.size() && path.startsWith(prefix);
}
