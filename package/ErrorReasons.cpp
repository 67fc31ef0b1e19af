#include "package/ErrorReasons.h"

#include "archive/ZipBinding.h"
#include "zip32.h"

#include <QDir>

namespace {

// What went wrong, by code; readme.txt explains each code at length.
QString causeOf(int code) {
    switch (code) {
    case ZipEngineNotLoaded:
        return QStringLiteral("the archive engine could not be started");
    case ZipRequestFailed:
        return QStringLiteral("the request for the archive engine could not be put together "
                              "(is a compression level selected?)");
    case ZipPasswordTooLong:
        return QStringLiteral("the password is longer than 255 characters");
    case ZipPasswordNotEncodable:
        return QStringLiteral("the password holds a character that a ZIP password cannot carry");
    case ZE_FORM:
        return QStringLiteral("the earlier archive that \"Update Files Only\" or \"Overwrite "
                              "Only\" builds on is damaged or not a ZIP archive");
    case ZE_MEM:
        return QStringLiteral("the computer ran out of memory");
    case ZE_LOGIC:
        return QStringLiteral("the archive engine met an internal error");
    case ZE_ABORT:
        return QStringLiteral("the build was cancelled");
    case ZE_TEMP:
        return QStringLiteral("the finished archive could not be moved into place in the "
                              "staging folder");
    case ZE_READ:
        return QStringLiteral("a file to pack could not be read");
    case ZE_NONE:
        return QStringLiteral("there was nothing to pack, or nothing new to update or freshen");
    case ZE_WRITE:
        return QStringLiteral("the archive could not be written in the staging folder (is the "
                              "disk full?)");
    case ZE_CREAT:
        return QStringLiteral("the archive could not be created in the staging folder under %1")
            .arg(QDir::toNativeSeparators(QDir::tempPath()));
    case ZE_PARMS:
        return QStringLiteral("the archive engine was given settings it cannot use");
    case ZE_DUPNAME:
        return QStringLiteral("with \"Junk Directories\" two files would get the same name");
    case ZE_NOPASSWORD:
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
