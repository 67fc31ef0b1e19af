#include "package/ErrorReasons.h"

#include <QDir>

namespace {

// What went wrong, by code; readme.txt explains each code at length.
QString causeOf(int code) {
    switch (code) {
    case -1:
        return QStringLiteral("the archive engine could not be started");
    case -2:
        return QStringLiteral("the request for the archive engine could not be put together "
                              "(is a compression level selected?)");
    case -3:
        return QStringLiteral("the password is longer than 255 characters");
    case -4:
        return QStringLiteral("the password holds a character that a ZIP password cannot carry");
    case 3:
        return QStringLiteral("the earlier archive that \"Update Files Only\" or \"Overwrite "
                              "Only\" builds on is damaged or not a ZIP archive");
    case 4:
        return QStringLiteral("the computer ran out of memory");
    case 5:
        return QStringLiteral("the archive engine met an internal error");
    case 9:
        return QStringLiteral("the build was cancelled");
    case 10:
        return QStringLiteral("the finished archive could not be moved into place in the "
                              "staging folder");
    case 11:
        return QStringLiteral("a file to pack could not be read");
    case 12:
        return QStringLiteral("there was nothing to pack, or nothing new to update or freshen");
    case 14:
        return QStringLiteral("the archive could not be written in the staging folder (is the "
                              "disk full?)");
    case 15:
        return QStringLiteral("the archive could not be created in the staging folder under %1")
            .arg(QDir::toNativeSeparators(QDir::tempPath()));
    case 16:
        return QStringLiteral("the archive engine was given settings it cannot use");
    case 17:
        return QStringLiteral("with \"Junk Directories\" two files would get the same name");
    case 18:
        return QStringLiteral("\"Password\" is ticked, but no password was given");
    default:
        return QStringLiteral("the archive engine failed");
    }
}

} // namespace

QString errorCodeReason(int code, const QString &archive) {
    const QString cause = causeOf(code);
    if (archive.isEmpty())
        return QStringLiteral("No archive was made: %1.").arg(cause);
    return QStringLiteral("%1 was not made: %2.").arg(QDir::toNativeSeparators(archive), cause);
}
