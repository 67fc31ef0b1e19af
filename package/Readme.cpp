#include "package/Readme.h"

#include "package/ProgramInfo.h"
#include "package/Staging.h"
#include "text/CodePage.h"

#include <QFile>

namespace {
const QString CrLf = QStringLiteral("\r\n");
const QString BoxEdge = QLatin1Char('+') + QString(50, QLatin1Char('-')) + QLatin1Char('+');
} // namespace

void GenerateNFO(WizardState &state, const QString &comment, int addCount, int excludeCount) {
    const QStringList lines = {
        QStringLiteral("Map Name: ") + state.MapName,
        QStringLiteral("Map Description: ") + state.MapDescription,
        QStringLiteral("Authors Notes: ") + comment,
        QStringLiteral("Sceneries Added: ") + QString::number(addCount) + QLatin1Char('/') +
            QString::number(excludeCount),
        BoxEdge,
        QStringLiteral("| Compiled using ") + ProgramName + QStringLiteral(" V") +
            QString::number(ProgramVersionMajor) + QLatin1Char('.') +
            QString::number(ProgramVersionMinor) + QStringLiteral(" |"),
        readmeCreditLine(),
        QLatin1Char('|') + QString(50, QLatin1Char(' ')) + QLatin1Char('|'),
        QStringLiteral("|         Please do not remove this README.        |"),
        BoxEdge,
    };
    state.NFO = lines.join(CrLf);
}

QString GetNFO(const WizardState &state) {
    return state.NFO;
}

QString readmePath(const StagingPaths &paths, const WizardState &state) {
    return paths.maps + QLatin1Char('/') + state.MapName + QStringLiteral("_ReadMe.txt");
}

bool writeReadmeFile(const QString &path, const WizardState &state, QString &error) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = file.errorString();
        return false;
    }
    // The game's code page, unless the map's name or description holds characters it lacks:
    // then UTF-8, which keeps them, marked as such for editors by a byte-order mark.
    const QString text = state.NFO + CrLf;
    const bool fits = charactersLacking(text).isEmpty();
    const QByteArray bytes = fits               ? toCodePage(text)
                             : file.size() == 0 ? QByteArray("\xEF\xBB\xBF") + text.toUtf8()
                                                : text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        error = file.errorString();
        return false;
    }
    return true;
}
