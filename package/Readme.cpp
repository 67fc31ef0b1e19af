#include "package/Readme.h"

#include "intake/CodePage.h"
#include "package/ProgramInfo.h"
#include "package/Staging.h"

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

bool writeReadmeFile(const QString &programFolder, const WizardState &state) {
    QFile file(StagingPaths::under(programFolder).maps + QLatin1Char('/') + state.MapName +
               QStringLiteral("_ReadMe.txt"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    const QByteArray bytes = toCodePage(QString(state.NFO + CrLf));
    const bool written = file.write(bytes) == bytes.size();
    return file.flush() && written;
}
