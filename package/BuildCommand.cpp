#include "package/BuildCommand.h"

#include "intake/MapReader.h"
#include "package/ProgramInfo.h"
#include "package/Readme.h"
#include "package/Staging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString IdleCaption = QStringLiteral("Make ZIP");
const QString BusyCaption = QStringLiteral("Generating ZIP Archive...");
const QString CrLf = QStringLiteral("\r\n");

bool isSeparator(QChar c) {
#ifdef Q_OS_WIN
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
#else
    return c == QLatin1Char('/');
#endif
}

qsizetype lastSeparator(const QString &text) {
    for (qsizetype i = text.size() - 1; i >= 0; --i) {
        if (isSeparator(text.at(i)))
            return i;
    }
    return -1;
}

void showPasswordMismatch(BuildHost &host) {
    host.showMessage(QStringLiteral("ERROR: Password Mismatch, please re-type your password."),
                     QStringLiteral("Password's Do Not Match!"), MessageIcon::Error);
}

void showSuccess(BuildHost &host, const QString &savedTo) {
    host.showMessage(QStringLiteral("Congratulations! Your map has successfully been compiled.") +
                         CrLf + CrLf + QStringLiteral("Path: ") + savedTo + CrLf + CrLf +
                         QStringLiteral("Please do not remove the readme that was automatically "
                                        "generated."),
                     QStringLiteral("100% Complete"), MessageIcon::Information);
}

void showErrorCode(BuildHost &host, int code) {
    const QString number = QString::number(code);
    host.showMessage(QStringLiteral("There was an error creating your ZIP file :'(. Please write "
                                    "down this code (") +
                         number +
                         QStringLiteral("). Please refer to readme.txt to see what error you "
                                        "are getting."),
                     QStringLiteral("Error Code ") + number + QLatin1Char('.'), MessageIcon::Error);
}

void describeSaveDialog(DialogRecord &record) {
    const QChar nul(u'\0');
    record.filter = QStringLiteral("Zip Archive (*.zip)") + nul + QStringLiteral("*.zip") + nul +
                    QStringLiteral("All Files (*.*)") + nul + QStringLiteral("*.*") + nul + nul;
    record.defaultExt = QStringLiteral(".zip");
    record.flags = DialogFlags::HideReadOnly | DialogFlags::Explorer | DialogFlags::LongNames;
    record.title = QStringLiteral("Save ZIP Map Archive...");
    record.initialDir = defaultMapsFolder();
}

QString savePathFrom(const FileChoice &choice) {
    if (choice.Cancelled)
        return {};
    QString path = choice.Folder;
    for (int i = 0; i < choice.NameCount && i < choice.FileNames.size(); ++i)
        path += choice.FileNames.at(i);
    path.remove(QLatin1Char('\n'));
    path.remove(QLatin1Char('\r'));
    return path;
}

} // namespace

QString mapNameFromPath(const QString &pathText) {
    const qsizetype separator = lastSeparator(pathText);
    if (separator < 0)
        return {};
    QString fileName = pathText.mid(separator + 1);
    fileName.remove(QLatin1Char('\r'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

bool deliverArchive(const QString &stagedArchive, const QString &target, QString &error) {
    QFile source(stagedArchive);
    if (!source.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("the staged archive %1 cannot be read (%2)")
                    .arg(QDir::toNativeSeparators(stagedArchive), source.errorString());
        return false;
    }
    // Written beside the target and renamed into place, so that a failure leaves whatever
    // file was there before untouched.
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly)) {
        error = out.errorString();
        return false;
    }
    char buffer[64 * 1024];
    for (;;) {
        const qint64 got = source.read(buffer, sizeof buffer);
        if (got < 0) {
            error = source.errorString();
            out.cancelWriting();
            return false;
        }
        if (got == 0)
            break;
        if (out.write(buffer, got) != got) {
            error = out.errorString();
            out.cancelWriting();
            return false;
        }
    }
    if (!out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}

BuildOutcome cmdGO_Click(WizardState &state, BuildHost &host, BuildContext &context) {
    const BuildInputs inputs = host.buildInputs();

    if (lastSeparator(inputs.pathText) < 0)
        return BuildOutcome::NotStarted;
    if (inputs.chkPass == 1 && inputs.password != inputs.password2) {
        showPasswordMismatch(host);
        return BuildOutcome::PasswordMismatch;
    }
    const QString mapName = mapNameFromPath(inputs.pathText);
    if (!isPlainFileName(mapName)) {
        host.showMessage(QStringLiteral("The map path %1 does not name a map file. Choose the "
                                        "map file on the first page.")
                             .arg(inputs.pathText),
                         QStringLiteral("No Map File"), MessageIcon::Error);
        return BuildOutcome::NotStarted;
    }

    host.setBuildButton(false, BusyCaption);
    auto finish = [&host](BuildOutcome outcome) {
        host.setBuildButton(true, IdleCaption);
        return outcome;
    };

    state.MapName = mapName;
    GenerateNFO(state, inputs.comment, int(inputs.addList.size()), int(inputs.excludeList.size()));

    // This map's earlier staged archive stays for the update and freshen switches; the engine
    // replaces it only with a complete new one, and only a successful run is ever delivered.
    const QString stagedArchiveName = state.MapName + QStringLiteral(".zip");
    QString error;
    if (!buildCleanup(context.programFolder, stagedArchiveName, error)) {
        const BuildOutcome outcome = finish(BuildOutcome::Failed);
        host.showMessage(error, QStringLiteral("Staging Folder Error"), MessageIcon::Error);
        return outcome;
    }

    describeSaveDialog(context.dialog);
    state.rSaveTo = savePathFrom(host.PromptSaveFile(context.dialog));
    if (state.rSaveTo.isEmpty())
        return finish(BuildOutcome::Cancelled);

    FillInputs fill;
    fill.addList = inputs.addList;
    fill.soldatPath = state.SoldatPath;
    fill.textureName = state.TextureName;
    fill.mapName = state.MapName;
    fill.mapPath = inputs.pathText;
    fill.withTexture = inputs.chkTexture == 1;
    fillStaging(context.programFolder, fill);
    writeReadmeFile(context.programFolder, state);

    if (!MakeZip(state, context.request, context.binding, inputs.zip, context.programFolder, host,
                 error)) {
        state.retcode = ZipRequestFailed;
        const BuildOutcome outcome = finish(BuildOutcome::Failed);
        showErrorCode(host, ZipRequestFailed);
        return outcome;
    }
    if (state.retcode != 0) {
        const BuildOutcome outcome = finish(BuildOutcome::Failed);
        showErrorCode(host, state.retcode);
        return outcome;
    }

    const QString stagedArchive =
        StagingPaths::under(context.programFolder).root + QLatin1Char('/') + stagedArchiveName;
    if (!deliverArchive(stagedArchive, state.rSaveTo, error)) {
        const BuildOutcome outcome = finish(BuildOutcome::Failed);
        host.showMessage(QStringLiteral("The archive could not be saved to %1: %2. Any file "
                                        "that was there before is unchanged.")
                             .arg(QDir::toNativeSeparators(state.rSaveTo), error),
                         QStringLiteral("Archive Not Saved"), MessageIcon::Error);
        return outcome;
    }
    const BuildOutcome outcome = finish(BuildOutcome::Succeeded);
    showSuccess(host, state.rSaveTo);
    return outcome;
}
