#include "package/BuildCommand.h"

#include "archive/ArchiveReader.h"
#include "archive/MakeZip.h"
#include "archive/ReadBack.h"
#include "intake/FileNames.h"
#include "intake/MapReader.h"
#include "package/ArchiveCheck.h"
#include "package/Delivery.h"
#include "package/ErrorReasons.h"
#include "package/ProgramInfo.h"
#include "package/Readme.h"
#include "text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <limits>

namespace {

const QString IdleCaption = QStringLiteral("Make ZIP");
const QString BusyCaption = QStringLiteral("Generating ZIP Archive...");
const QString CrLf = QStringLiteral("\r\n");
constexpr int MaxLeftOutLines = 15;

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

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

void showPasswordMismatch(BuildHost &host) {
    host.showMessage(QStringLiteral("ERROR: Password Mismatch, please re-type your password."),
                     QStringLiteral("Password's Do Not Match!"), MessageIcon::Error);
}

void showSuccess(BuildHost &host, const QString &savedTo) {
    host.showDelivered(QStringLiteral("Congratulations! Your map has successfully been compiled.") +
                           CrLf + CrLf + QStringLiteral("Path: ") + savedTo + CrLf + CrLf +
                           QStringLiteral("Please do not remove the readme that was automatically "
                                          "generated."),
                       QStringLiteral("100% Complete"), MessageIcon::Information, savedTo);
}

// `refused`: why the game will not load the map, which outweighs any file it lacks.
void showLeftOut(BuildHost &host, const QString &savedTo, const QList<LeftOutFile> &leftOut,
                 const QString &refused) {
    QString text = (refused.isEmpty() ? QStringLiteral("Your map has been compiled, but the "
                                                       "archive lacks files the map needs.")
                                      : QStringLiteral("Your map has been compiled, but ") +
                                            refused + QLatin1Char('.')) +
                   CrLf + CrLf + QStringLiteral("Path: ") + savedTo;
    if (!leftOut.isEmpty())
        text += CrLf + CrLf + QStringLiteral("Left out:");
    for (qsizetype i = 0; i < leftOut.size() && i < MaxLeftOutLines; ++i)
        text += CrLf + leftOut[i].entry + QStringLiteral(": ") + leftOut[i].reason;
    if (leftOut.size() > MaxLeftOutLines)
        text += CrLf + QStringLiteral("and %1 more").arg(leftOut.size() - MaxLeftOutLines);
    host.showDelivered(text,
                       refused.isEmpty() ? QStringLiteral("Map Packed With Missing Files")
                                         : QStringLiteral("Map Packed, But The Game Refuses It"),
                       MessageIcon::Warning, savedTo);
}

// The reason first, in our words and naming the user's archive; then the code as it always
// read. The engine's own lines, which name the staged archive, stay under the details.
void showErrorCode(BuildHost &host, int code, const QString &archive) {
    const QString number = QString::number(code);
    host.showMessage(errorCodeReason(code, archive) + CrLf + CrLf +
                         QStringLiteral("There was an error creating your ZIP file :'(. Please "
                                        "write down this code (") +
                         number +
                         QStringLiteral("). Please refer to readme.txt to see what error you "
                                        "are getting."),
                     QStringLiteral("Error Code ") + number + QLatin1Char('.'), MessageIcon::Error);
}

void describeSaveDialog(DialogRecord &record, const WizardState &state) {
    const QChar nul(u'\0');
    record.filter = QStringLiteral("Zip Archive (*.zip)") + nul + QStringLiteral("*.zip") + nul +
                    QStringLiteral("Server Map Archive (*.smap)") + nul + QStringLiteral("*.smap") +
                    nul + QStringLiteral("All Files (*.*)") + nul + QStringLiteral("*.*") + nul +
                    nul;
    record.defaultExt = QStringLiteral(".zip");
    // Replacing a file the user chose must be a decision, never an accident.
    record.flags = DialogFlags::OverwritePrompt | DialogFlags::HideReadOnly |
                   DialogFlags::Explorer | DialogFlags::LongNames;
    record.title = QStringLiteral("Save ZIP Map Archive...");
    record.initialDir = state.SaveFolder.isEmpty() ? defaultMapsFolder() : state.SaveFolder;
    record.file = state.MapName + QStringLiteral(".zip");
}

QString savePathFrom(const FileChoice &choice) {
    if (choice.Cancelled)
        return {};
    QString path = choice.Folder;
    for (int i = 0; i < choice.NameCount && i < choice.FileNames.size(); ++i)
        path += choice.FileNames.at(i);
    return path;
}

// The add list a map gives: its scenery names that are not stock ones, lower-cased, in order
// (as listStuff lists them, without markers).
QStringList addListNames(const MapFileContents &map, const DefaultSceneryTable &stock) {
    QStringList names;
    for (QString name : map.sceneryNames) {
        if (!name.isEmpty() && !CheckSc(name, stock))
            names << name;
    }
    return names;
}

// The same names, whatever their order, their markers and the list they stand in.
bool sameNames(QStringList a, QStringList b) {
    for (QStringList *list : {&a, &b}) {
        for (QString &item : *list)
            item = withoutMarker(item);
        list->sort();
    }
    return a == b;
}

bool readStagedMap(const QString &staged, const QString &mapPath, MapFileContents &map,
                   QString &error) {
    QFile file(staged);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(shown(staged), file.errorString());
        return false;
    }
    return readMapFrom(file, shown(mapPath), map, error);
}

// The files the archive lacks, named as the lists name them, each with why: it could not be
// staged, the user excluded it, freshen adds nothing new, or else it is simply not there.
QList<LeftOutFile> gapsOf(const QList<ArchiveFindings::Missing> &missing,
                          const QList<LeftOutFile> &notStaged, const QStringList &excluded,
                          bool freshen, const StagingPaths &paths) {
    QHash<QString, QString> reasons;
    for (const LeftOutFile &file : notStaged)
        reasons.insert(file.entry.toCaseFolded(), file.reason);
    QSet<QString> excludedNames;
    for (const QString &item : excluded)
        excludedNames.insert(withoutMarker(item));
    QList<LeftOutFile> gaps;
    for (const ArchiveFindings::Missing &gap : missing) {
        const bool scenery = gap.kind == QLatin1String("scenery");
        const QString entry = scenery ? paths.sceneryFolder + QLatin1Char('/') + gap.name.toLower()
                              : gap.kind == QLatin1String("texture")
                                  ? paths.texturesFolder + QLatin1Char('/') + gap.name
                              : gap.kind == QLatin1String("edge texture")
                                  ? paths.edgesFolder + QLatin1Char('/') + gap.name
                                  : gap.name;
        QString reason = reasons.value(entry.toCaseFolded());
        if (reason.isEmpty() && scenery && excludedNames.contains(gap.name.toLower()))
            reason = QStringLiteral("excluded");
        else if (reason.isEmpty() && freshen)
            reason = QStringLiteral("not in the earlier archive, and \"Overwrite Only\" adds no "
                                    "files");
        else if (reason.isEmpty())
            reason = QStringLiteral("not in the archive");
        gaps.append({entry, reason});
    }
    return gaps;
}

// The sceneries that could not be staged and that no drawn prop of `map` shows: the game never
// loads them, so they are no gap.
QList<LeftOutFile> notUsedOf(const QList<LeftOutFile> &notStaged, const MapFileContents &map,
                             const StagingPaths &paths) {
    const QSet<QString> used = sceneriesInUse(map);
    const QString folder = paths.sceneryFolder + QLatin1Char('/');
    QList<LeftOutFile> notUsed;
    for (const LeftOutFile &file : notStaged) {
        if (file.entry.startsWith(folder) && !used.contains(file.entry.mid(folder.size())))
            notUsed.append(file);
    }
    return notUsed;
}

} // namespace

QStringList applyExcludes(const QStringList &excludes, QStringList &addList,
                          QStringList &excludeList) {
    QStringList unmatched;
    for (const QString &name : excludes) {
        bool found = false;
        for (qsizetype i = 0; i < addList.size();) {
            if (withoutMarker(addList.at(i)) == withoutMarker(name)) {
                excludeList << addList.takeAt(i);
                found = true;
            } else {
                ++i;
            }
        }
        if (!found)
            unmatched << name;
    }
    return unmatched;
}

QString mapNameFromPath(const QString &pathText) {
    const qsizetype separator = lastSeparator(pathText);
    if (separator < 0)
        return {};
    QString fileName = pathText.mid(separator + 1);
    fileName.remove(QLatin1Char('\r'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

BuildResult cmdGO_Click(WizardState &state, BuildHost &host, BuildContext &context) {
    const BuildInputs inputs = host.buildInputs();
    BuildResult result;

    // Only the map that was read is packed: its lists are the ones on the pages. A click is
    // never left without an answer.
    if (state.MapPath.isEmpty() || inputs.pathText != state.MapPath) {
        host.showMessage(QStringLiteral("The map %1 has not been read. Choose the map with '...' "
                                        "first.")
                             .arg(shown(inputs.pathText)),
                         QStringLiteral("Map Not Read"), MessageIcon::Error);
        return result;
    }
    if (inputs.chkPass == 1 && inputs.password != inputs.password2) {
        showPasswordMismatch(host);
        result.outcome = BuildOutcome::PasswordMismatch;
        return result;
    }
    if (inputs.chkPass == 1 && inputs.password.isEmpty()) {
        host.showMessage(QStringLiteral("ERROR: No password given, please type your password or "
                                        "untick \"Password\"."),
                         QStringLiteral("No Password!"), MessageIcon::Error);
        return result;
    }
    // The readme and the archive comment are the game's code page: what it lacks would be lost.
    if (const QString lacking = charactersLacking(inputs.comment); !lacking.isEmpty()) {
        QStringList shownLacking;
        for (const char32_t c : lacking.toUcs4())
            shownLacking << QString::fromUcs4(&c, 1);
        host.showMessage(QStringLiteral("Nothing was built: the comment holds characters that "
                                        "the readme and the archive comment cannot hold "
                                        "(Windows-1252 has no %1). Write the comment without "
                                        "them.")
                             .arg(shownLacking.join(QStringLiteral(", "))),
                         QStringLiteral("Comment Not Possible"), MessageIcon::Error);
        return result;
    }
    const QString mapName = mapNameFromPath(inputs.pathText);
    if (!isPlainFileName(mapName)) {
        host.showMessage(QStringLiteral("The map path %1 does not name a map file. Choose the "
                                        "map file on the first page.")
                             .arg(inputs.pathText),
                         QStringLiteral("No Map File"), MessageIcon::Error);
        return result;
    }
    // Nothing is staged for an engine that cannot run.
    if (!context.binding.load()) {
        host.showMessage(context.binding.engineMissingMessage(), EngineMissingTitle,
                         MessageIcon::None);
        state.retcode = ZipEngineNotLoaded;
        result.outcome = BuildOutcome::Failed;
        showErrorCode(host, state.retcode, QString());
        return result;
    }
    // Nor for an archive that could not be checked after writing.
    if (QString why; !loadReadBackLibrary(why)) {
        host.showMessage(QStringLiteral("Nothing was built: %1.").arg(why),
                         QStringLiteral("Archive Check Unavailable"), MessageIcon::Error);
        result.outcome = BuildOutcome::Failed;
        return result;
    }

    host.setBuildButton(false, BusyCaption);
    auto finish = [&](BuildOutcome outcome) {
        host.setBuildButton(true, IdleCaption);
        result.outcome = outcome;
        return result;
    };
    auto fail = [&](const QString &text, const QString &title) {
        finish(BuildOutcome::Failed);
        host.showMessage(text, title, MessageIcon::Error);
        return result;
    };

    state.MapName = mapName;
    QString error;
    // The archive's folders are named as the game's own, so that it unpacks into them.
    const GameFolderNames gameFolders =
        state.SoldatPath.isEmpty() ? GameFolderNames() : gameFolderNames(state.SoldatPath);
    // This map's earlier staged archive stays for the update and freshen switches; the engine
    // replaces it only with a complete new one, and only a checked one is ever delivered.
    if (!buildCleanup(context.stagingFolder, ArchiveFormat::Zip, mapName + QStringLiteral(".zip"),
                      error, gameFolders))
        return fail(error, QStringLiteral("Staging Folder Error"));

    describeSaveDialog(context.dialog, state);
    state.rSaveTo = savePathFrom(host.PromptSaveFile(context.dialog));
    if (state.rSaveTo.isEmpty())
        return finish(BuildOutcome::Cancelled);
    state.SaveFolder = QFileInfo(state.rSaveTo).absolutePath();

    result.format = formatForPath(state.rSaveTo);
    ZipSettings zip = inputs.zip;
    if (result.format == ArchiveFormat::Smap) {
        if (inputs.chkPass == 1)
            return fail(QStringLiteral("A server map archive (.smap) cannot have a password: the "
                                       "game cannot open an encrypted archive. Untick "
                                       "\"Password\", or save it as a ZIP archive."),
                        QStringLiteral("No Password For Server Maps"));
        // The game finds the map by the archive's own name.
        const QString archiveName = QFileInfo(state.rSaveTo).completeBaseName();
        if (archiveName != mapName)
            result.notes << QStringLiteral("The map is stored as maps/%1.pms, the name the game "
                                           "looks for in %2.")
                                .arg(archiveName, QFileInfo(state.rSaveTo).fileName());
        state.MapName = archiveName;
        if (zip.chkJunk == 1)
            result.notes << QStringLiteral("\"Junk Directories\" does not apply to server map "
                                           "archives and was ignored.");
        if (zip.chkRecurse != 1)
            result.notes << QStringLiteral("\"Recursive Mode\" off does not apply to server map "
                                           "archives and was ignored.");
        zip.chkJunk = 0;
        zip.chkRecurse = 1;
        if (!buildCleanup(context.stagingFolder, result.format,
                          state.MapName + QStringLiteral(".zip"), error, gameFolders))
            return fail(error, QStringLiteral("Staging Folder Error"));
    }

    FillInputs fill;
    fill.addList = inputs.addList;
    fill.soldatPath = state.SoldatPath;
    fill.mapPath = state.MapPath;
    fill.stagedMapName = state.MapName;
    fill.withTexture = inputs.chkTexture == 1;
    // Without folders it would take the texture's own name, and unpack over the texture.
    fill.withEdgeTexture = zip.chkJunk != 1;
    fill.format = result.format;
    fill.gameFolders = gameFolders;
    fill.stopRequested = [&host] { return host.stopRequested(); };
    FillReport staged;
    if (!stageMap(context.stagingFolder, fill, staged))
        return fail(QStringLiteral("The map file could not be packed, so nothing was built: %1.")
                        .arg(staged.mapError),
                    QStringLiteral("Map Not Packed"));
    // What is built is the staged copy: its lists must be the ones the pages show.
    MapFileContents map;
    if (!readStagedMap(staged.staged.constFirst().path, state.MapPath, map, error))
        return fail(QStringLiteral("The map file could not be packed, so nothing was built: %1.")
                        .arg(error),
                    QStringLiteral("Map Not Packed"));
    QStringList sceneries = addListNames(map, state.DefaultSceneries);
    QStringList excluded = inputs.excludeList;
    if (map.texture != state.TextureName ||
        !sameNames(sceneries, inputs.addList + inputs.excludeList)) {
        if (!host.packChangedMap()) {
            finish(BuildOutcome::MapChanged);
            host.showMessage(QStringLiteral("The map %1 has changed on disk since it was read, so "
                                            "nothing was built. Its lists are read again now: "
                                            "check them, then press \"Make ZIP\" again.")
                                 .arg(shown(state.MapPath)),
                             QStringLiteral("Map Changed"), MessageIcon::Warning);
            return result;
        }
        result.notes << QStringLiteral("The map changed on disk after it was read; it was "
                                       "packed as it is now.");
        excluded.clear();
        applyExcludes(inputs.excludeList, sceneries, excluded);
        fill.addList = sceneries;
    }
    state.TextureName = map.texture;
    state.MapDescription = map.description;
    fill.textureName = map.texture;
    stageImages(context.stagingFolder, fill, staged);
    if (staged.stopped)
        return finish(BuildOutcome::Stopped);
    QStringList sources;
    for (const StagedFile &file : std::as_const(staged.staged))
        sources << file.source;
    if (!checkDeliveryTarget(state.rSaveTo, sources, error))
        return fail(QStringLiteral("Nothing was built: the archive cannot be saved to %1, as it "
                                   "%2.")
                        .arg(shown(state.rSaveTo), error),
                    QStringLiteral("Archive Not Saved"));

    GenerateNFO(state, inputs.comment, staged.sceneriesStaged, int(excluded.size()));
    const StagingPaths paths =
        StagingPaths::under(context.stagingFolder, result.format, gameFolders);
    const QString readme = readmePath(paths, state);
    if (!writeReadmeFile(readme, state, error))
        return fail(QStringLiteral("The readme %1 could not be written: %2. Nothing was built.")
                        .arg(shown(readme), error),
                    QStringLiteral("Readme Not Written"));
    QList<StagedFile> files = staged.staged;
    files.append({paths.mapsFolder + QLatin1Char('/') + QFileInfo(readme).fileName(), readme,
                  readme, QFileInfo(readme).size()});

    const bool reproducible = zip.chkUpdate != 1 && zip.chkFreshen != 1;
    if (reproducible && staged.newestModified > 0 &&
        staged.newestModified <= std::numeric_limits<quint32>::max())
        zip.entryTime = quint32(staged.newestModified);

    if (!MakeZip(state, context.request, context.binding, zip, context.stagingFolder, host,
                 error)) {
        state.retcode = ZipRequestFailed;
        finish(BuildOutcome::Failed);
        showErrorCode(host, ZipRequestFailed, state.rSaveTo);
        return result;
    }
    for (const QString &note : std::as_const(result.notes))
        host.appendOutput(note + QLatin1Char('\n'));
    // A stop asked for during the engine's last callback still stops: nothing is delivered.
    if (host.stopRequested())
        return finish(BuildOutcome::Stopped);
    if (state.retcode != 0) {
        finish(BuildOutcome::Failed);
        showErrorCode(host, state.retcode, state.rSaveTo);
        return result;
    }

    const QString stagedArchive = paths.root + QLatin1Char('/') + context.request.ArchiveName;
    if (context.afterArchiveWritten)
        context.afterArchiveWritten(stagedArchive);
    VerifyRequest check;
    check.archive = stagedArchive;
    check.password = inputs.chkPass == 1 ? toCodePage(inputs.password) : QByteArray();
    check.files = files;
    check.junkPaths = zip.chkJunk == 1;
    check.compareContent = reproducible;
    check.expectEveryFile = zip.chkFreshen != 1;
    // The delivery's copy, hash and sync run while the archive is checked; only a checked
    // archive is renamed into place. The window is served meanwhile, and may stop it all.
    std::atomic<bool> stopping = false; // read by the delivery's thread
    const std::function<bool()> keepGoing = [&host, &stopping] {
        host.processPendingEvents();
        if (host.stopRequested())
            stopping = true;
        return !stopping;
    };
    PendingDelivery delivery;
    QString deliveryError;
    std::future<bool> prepared = std::async(std::launch::async, [&] {
        return delivery.prepare(stagedArchive, state.rSaveTo, deliveryError,
                                [&stopping] { return !stopping; });
    });
    QStringList notInArchive;
    const bool checked = verifyStagedArchive(check, notInArchive, error, keepGoing);
    if (!checked)
        stopping = true; // nothing will be delivered: the copy need not go on
    while (prepared.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
        keepGoing();
    const bool ready = prepared.get();
    if (host.stopRequested())
        return finish(BuildOutcome::Stopped);
    if (!checked)
        return fail(QStringLiteral("The archive did not pass its check after writing, so it was "
                                   "not saved: %1. Any file that was at %2 before is unchanged.")
                        .arg(error, shown(state.rSaveTo)),
                    QStringLiteral("Archive Check Failed"));
    // The verdict is the archive's own, by the rule mapzip verify applies to any archive.
    ArchiveCheckOptions needs;
    needs.stock = &state.DefaultSceneries;
    needs.format = result.format;
    needs.serverMapName = state.MapName;
    needs.flat = zip.chkJunk == 1;
    needs.withTexture = inputs.chkTexture == 1;
    needs.edgeTextureRequired = staged.edgeTextureExpected;
    needs.readEveryEntry = false; // read whole and compared just now
    needs.password = check.password;
    ArchiveFindings found;
    if (const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(found.error))
        found = checkArchive(*reader, stagedArchive, needs);
    if (found.refused() || !found.badEntries.isEmpty()) {
        const QString why = !found.error.isEmpty() ? found.error
                            : !found.unsafe.isEmpty()
                                ? found.unsafe.first() + QStringLiteral(": unsafe name")
                                : found.badEntries.first().first + QStringLiteral(": ") +
                                      found.badEntries.first().second;
        return fail(QStringLiteral("The archive did not pass its check after writing, so it was "
                                   "not saved: %1. Any file that was at %2 before is unchanged.")
                        .arg(why, shown(state.rSaveTo)),
                    QStringLiteral("Archive Check Failed"));
    }
    result.leftOut =
        gapsOf(found.missing, staged.leftOut, excluded, !notInArchive.isEmpty(), paths);
    result.notUsed = notUsedOf(staged.leftOut, map, paths);
    if (!found.refusedByGame.isEmpty())
        result.refused = refusedSentence(found.refusedByGame.constFirst().second);

    if (!ready || !delivery.commit(deliveryError))
        return fail(QStringLiteral("The archive could not be saved to %1: %2. Any file that was "
                                   "there before is unchanged.")
                        .arg(shown(state.rSaveTo), deliveryError),
                    QStringLiteral("Archive Not Saved"));
    result.sha1 = delivery.sha1();

    if (result.leftOut.isEmpty() && result.refused.isEmpty()) {
        finish(BuildOutcome::Succeeded);
        showSuccess(host, state.rSaveTo);
    } else {
        finish(BuildOutcome::PackedWithMissing);
        showLeftOut(host, state.rSaveTo, result.leftOut, result.refused);
    }
    return result;
}
