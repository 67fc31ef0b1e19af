#include "archive/MakeZip.h"

#include "archive/ArchiveHost.h"
#include "archive/ZipBinding.h"

#include <limits>

namespace {

// A check box counts as checked only with the value 1; anything else reaches the engine as 0.
qint16 checkBoxFlag(int value) {
    return value == 1 ? 1 : 0;
}

bool fitsInt16(int value) {
    return value >= std::numeric_limits<qint16>::min() &&
           value <= std::numeric_limits<qint16>::max();
}

} // namespace

bool MakeZip(WizardState &state, ZipRequest &request, ZipBinding &binding,
             const ZipSettings &settings, const QString &stagingFolder, ArchiveHost &host,
             QString &error) {
    host.clearOutput();
    request.DateFilter = QString();
    request.JunkPathsFlag = checkBoxFlag(settings.chkJunk);
    request.RecurseFlag = checkBoxFlag(settings.chkRecurse);
    request.UpdateFlag = checkBoxFlag(settings.chkUpdate);
    request.FreshenFlag = checkBoxFlag(settings.chkFreshen);

    if (settings.compressionLevel.isEmpty()) {
        error = QStringLiteral("No compression level is selected.");
        return false;
    }
    const int levelChar = settings.compressionLevel.front().unicode();
    if (!fitsInt16(levelChar)) {
        error = QStringLiteral("The compression level \"%1\" is not a level.")
                    .arg(settings.compressionLevel);
        return false;
    }
    request.LevelChar = static_cast<qint16>(levelChar);

    request.EncryptFlag = checkBoxFlag(settings.chkPass);
    request.CommentFlag = checkBoxFlag(settings.chkComment);
    request.FileCount = 1;
    request.EntryTime = settings.entryTime;
    request.Threads = settings.threads;
    request.RootFolder = stagingFolder + QStringLiteral("/TEMP");
    request.ArchiveName = state.MapName + QStringLiteral(".zip");
    request.FileSpecs[0] = QStringLiteral("*.*");

    const int result = binding.RunZip(request, host);
    if (!fitsInt16(result)) {
        error = QStringLiteral("The archive engine returned %1, which is not a result code.")
                    .arg(result);
        return false;
    }
    state.retcode = static_cast<qint16>(result);
    return true;
}
