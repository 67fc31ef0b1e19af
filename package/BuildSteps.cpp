#include "package/BuildSteps.h"

#include "archive/ArchiveReader.h"
#include "archive/MakeZip.h"
#include "archive/ReadBack.h"
#include "intake/FileNames.h"
#include "intake/GameLimits.h"
#include "package/ArchiveCheck.h"
#include "package/ErrorReasons.h"
#include "package/ProgramInfo.h"
#include "package/Readme.h"
#include "text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <chrono>
#include <limits>

namespace {

const QString IdleCaption = QStringLiteral("Make ZIP");
const QString BusyCaption = QStringLiteral("Generating ZIP Archive...");
const QString CrLf = QStringLiteral("\r\n");
constexpr int MaxLeftOutLines = 15;
constexpr std::chrono::milliseconds ServeEvery(50);

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
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

// The lines of the left-out box: the first fifteen files, then how many more.
QString leftOutLines(const QList<LeftOutFile> &leftOut) {
    QString text;
    for (qsizetype i = 0; i < leftOut.size() && i < MaxLeftOutLines; ++i)
        text += CrLf + leftOut[i].entry + QStringLiteral(": ") + leftOut[i].reason;
    if (leftOut.size() > MaxLeftOutLines)
        text += CrLf + QStringLiteral("and %1 more").arg(leftOut.size() - MaxLeftOutLines);
    return text;
}

// Why a written archive is refused, from its findings.
QString refusalOf(const ArchiveFindings &found) {
    if (!found.error.isEmpty())
        return found.error;
    if (!found.unsafe.isEmpty())
        return found.unsafe.first() + QStringLiteral(": unsafe name");
    return found.badEntries.first().first + QStringLiteral(": ") + found.badEntries.first().second;
}

} // namespace

// The entry point the window and mapzip call: the build, step by step.
BuildResult cmdGO_Click(WizardState &state, BuildHost &host, BuildContext &context) {
    BuildSteps build(state, host, context);
    return build.run({
        &BuildSteps::checkInputs,
        &BuildSteps::goBusy,
        &BuildSteps::prepareStaging,
        &BuildSteps::chooseTarget,
        &BuildSteps::stageMapFile,
        &BuildSteps::confirmMap,
        &BuildSteps::stageImageFiles,
        &BuildSteps::checkTarget,
        &BuildSteps::writeReadme,
        &BuildSteps::runEngine,
        &BuildSteps::checkWrittenArchive,
        &BuildSteps::confirmSnapshots,
        &BuildSteps::judgeArchive,
        &BuildSteps::deliver,
    });
}

BuildSteps::BuildSteps(WizardState &state, BuildHost &host, BuildContext &context)
    : m_state(state), m_host(host), m_context(context), m_inputs(host.buildInputs()) {}

BuildSteps::~BuildSteps() {
    stopDelivery();
}

BuildResult BuildSteps::run(std::initializer_list<Step> steps) {
    StepResult last;
    bool gaps = false;
    for (const Step step : steps) {
        last = (this->*step)();
        if (last.status == StepStatus::Gaps) {
            gaps = true;
            last = StepResult::done();
        }
        if (last.status != StepStatus::Done)
            break;
        // Once the archive is in place it is the user's: what comes after a stop is reported.
        if (m_busy && step != &BuildSteps::deliver && m_host.stopRequested()) {
            last = StepResult::stopped();
            break;
        }
    }
    finish(last, gaps);
    return m_result;
}

void BuildSteps::finish(const StepResult &last, bool gaps) {
    stopDelivery();
    const bool delivered = last.status == StepStatus::Done;
    const BuildEnd end = !delivered                    ? last.end
                         : !m_result.refused.isEmpty() ? BuildEnd::RefusedByGame
                         : gaps                        ? BuildEnd::PackedWithMissing
                                                       : BuildEnd::Succeeded;
    m_result.end = end;
    m_result.outcome = outcomeOf(end);
    if (m_busy)
        m_host.setBuildButton(true, IdleCaption);
    m_host.showBuildMessage(delivered ? buildMessage(end, m_state.rSaveTo, m_result.refused, 0,
                                                     m_result.notes, leftOutLines(m_result.leftOut))
                                      : buildMessage(end, last.file, last.reason, m_state.retcode));
}

StepResult BuildSteps::checkInputs() {
    // Only the map that was read is packed: its lists are the ones on the pages. A click is
    // never left without an answer.
    if (m_state.MapPath.isEmpty() || m_inputs.pathText != m_state.MapPath)
        return StepResult::failed(BuildEnd::MapNotRead, m_inputs.pathText);
    if (m_inputs.chkPass == 1 && m_inputs.password != m_inputs.password2)
        return StepResult::failed(BuildEnd::PasswordMismatch);
    if (m_inputs.chkPass == 1 && m_inputs.password.isEmpty())
        return StepResult::failed(BuildEnd::NoPassword);
    // The readme and the archive comment are the game's code page: what it lacks would be lost.
    if (const QString lacking = charactersLacking(m_inputs.comment); !lacking.isEmpty()) {
        QStringList named;
        for (const char32_t c : lacking.toUcs4())
            named << QString::fromUcs4(&c, 1);
        return StepResult::failed(BuildEnd::CommentNotPossible, {},
                                  named.join(QStringLiteral(", ")));
    }
    m_mapName = mapNameFromPath(m_inputs.pathText);
    if (!isPlainFileName(m_mapName))
        return StepResult::failed(BuildEnd::NoMapFile, m_inputs.pathText);
    return loadTools();
}

StepResult BuildSteps::loadTools() {
    // Nothing is staged for an engine that cannot run,
    if (!m_context.binding.load()) {
        m_host.showMessage(m_context.binding.engineMissingMessage(), EngineMissingTitle,
                           MessageIcon::None);
        return engineError(ZipEngineNotLoaded, QString());
    }
    // nor for an archive that could not be checked after writing.
    if (QString why; !loadReadBackLibrary(why))
        return StepResult::failed(BuildEnd::CheckUnavailable, {}, why);
    return StepResult::done();
}

StepResult BuildSteps::engineError(int code, const QString &archive) {
    m_state.retcode = qint16(code);
    return StepResult::failed(BuildEnd::EngineError, archive, errorCodeReason(code, archive));
}

StepResult BuildSteps::goBusy() {
    m_host.setBuildButton(false, BusyCaption);
    m_busy = true;
    return StepResult::done();
}

StepResult BuildSteps::prepareStaging() {
    m_state.MapName = m_mapName;
    // The archive's folders are named as the game's own, so that it unpacks into them.
    m_gameFolders =
        m_state.SoldatPath.isEmpty() ? GameFolderNames() : gameFolderNames(m_state.SoldatPath);
    return cleanStaging(ArchiveFormat::Zip);
}

StepResult BuildSteps::cleanStaging(ArchiveFormat format) {
    // This map's earlier staged archive stays for the update and freshen switches; the engine
    // replaces it only with a complete new one, and only a checked one is ever delivered.
    QString error;
    if (!buildCleanup(m_context.stagingFolder, format, m_state.MapName + QStringLiteral(".zip"),
                      error, m_gameFolders))
        return StepResult::failed(BuildEnd::StagingFolderError, m_context.stagingFolder, error);
    return StepResult::done();
}

StepResult BuildSteps::chooseTarget() {
    describeSaveDialog(m_context.dialog, m_state);
    m_state.rSaveTo = savePathFrom(m_host.PromptSaveFile(m_context.dialog));
    if (m_state.rSaveTo.isEmpty())
        return StepResult::failed(BuildEnd::Cancelled);
    m_state.SaveFolder = QFileInfo(m_state.rSaveTo).absolutePath();
    m_result.format = formatForPath(m_state.rSaveTo);
    m_zip = m_inputs.zip;
    if (m_result.format == ArchiveFormat::Smap) {
        if (const StepResult settled = settleServerMap(); settled.status != StepStatus::Done)
            return settled;
    }
    return checkTargetEarly();
}

StepResult BuildSteps::settleServerMap() {
    if (m_inputs.chkPass == 1)
        return StepResult::failed(BuildEnd::ServerMapPassword);
    // The game finds the map by the archive's own name.
    const QString archiveName = QFileInfo(m_state.rSaveTo).completeBaseName();
    if (archiveName != m_mapName)
        m_result.notes << QStringLiteral("The map is stored as maps/%1.pms, the name the game "
                                         "looks for in %2.")
                              .arg(archiveName, QFileInfo(m_state.rSaveTo).fileName());
    m_state.MapName = archiveName;
    if (m_zip.chkJunk == 1)
        m_result.notes << QStringLiteral("\"Junk Directories\" does not apply to server map "
                                         "archives and was ignored.");
    if (m_zip.chkRecurse != 1)
        m_result.notes << QStringLiteral("\"Recursive Mode\" off does not apply to server map "
                                         "archives and was ignored.");
    m_zip.chkJunk = 0;
    m_zip.chkRecurse = 1;
    return cleanStaging(ArchiveFormat::Smap);
}

StepResult BuildSteps::checkTargetEarly() {
    // Said at once: a big scenery is not staged and compressed for a target that cannot be.
    QString error;
    if (!checkDeliveryTarget(m_state.rSaveTo, {m_state.MapPath}, error))
        return StepResult::failed(BuildEnd::TargetRefused, m_state.rSaveTo, error);
    if (!checkTargetFolder(QFileInfo(m_state.rSaveTo).absolutePath(), error))
        return StepResult::failed(BuildEnd::TargetFolderUnusable, m_state.rSaveTo, error);
    return StepResult::done();
}

StepResult BuildSteps::stageMapFile() {
    m_fill.addList = m_inputs.addList;
    m_fill.soldatPath = m_state.SoldatPath;
    m_fill.mapPath = m_state.MapPath;
    m_fill.stagedMapName = m_state.MapName;
    m_fill.withTexture = m_inputs.chkTexture == 1;
    // Without folders it would take the texture's own name, and unpack over the texture.
    m_fill.withEdgeTexture = m_zip.chkJunk != 1;
    m_fill.format = m_result.format;
    m_fill.gameFolders = m_gameFolders;
    m_fill.stopRequested = [this] { return m_host.stopRequested(); };
    if (!stageMap(m_context.stagingFolder, m_fill, m_staged))
        return StepResult::failed(
            BuildEnd::MapNotPacked, m_staged.failedFile,
            QStringLiteral("%1: %2").arg(m_staged.failedFile, m_staged.failure));
    return StepResult::done();
}

StepResult BuildSteps::confirmMap() {
    // What is built is the staged copy: its lists must be the ones the pages show.
    QString error;
    if (!readStagedMap(m_staged.staged.constFirst().path, m_state.MapPath, m_map, error))
        return StepResult::failed(BuildEnd::MapNotPacked, m_state.MapPath, error);
    QStringList sceneries = addListNames(m_map, m_state.DefaultSceneries);
    m_excluded = m_inputs.excludeList;
    if (m_map.texture != m_state.TextureName ||
        !sameNames(sceneries, m_inputs.addList + m_inputs.excludeList)) {
        if (!m_host.packChangedMap())
            return StepResult::failed(BuildEnd::MapChanged, m_state.MapPath);
        m_result.notes << QStringLiteral("The map changed on disk after it was read; it was "
                                         "packed as it is now.");
        m_excluded.clear();
        applyExcludes(m_inputs.excludeList, sceneries, m_excluded);
        m_fill.addList = sceneries;
    }
    m_state.TextureName = m_map.texture;
    m_state.MapDescription = m_map.description;
    m_fill.textureName = m_map.texture;
    return StepResult::done();
}

StepResult BuildSteps::stageImageFiles() {
    stageImages(m_context.stagingFolder, m_fill, m_staged);
    if (m_staged.stopped)
        return StepResult::stopped();
    if (m_staged.failed())
        return StepResult::failed(BuildEnd::FileNotPacked, m_staged.failedFile, m_staged.failure);
    return StepResult::done();
}

StepResult BuildSteps::checkTarget() {
    QStringList sources;
    for (const StagedFile &file : std::as_const(m_staged.staged))
        sources << file.source;
    QString error;
    if (!checkDeliveryTarget(m_state.rSaveTo, sources, error))
        return StepResult::failed(BuildEnd::TargetRefused, m_state.rSaveTo, error);
    return StepResult::done();
}

StepResult BuildSteps::writeReadme() {
    GenerateNFO(m_state, m_inputs.comment, m_staged.sceneriesStaged, int(m_excluded.size()));
    m_paths = StagingPaths::under(m_context.stagingFolder, m_result.format, m_gameFolders);
    const QString readme = readmePath(m_paths, m_state);
    QString error;
    if (!writeReadmeFile(readme, m_state, error))
        return StepResult::failed(BuildEnd::ReadmeNotWritten, readme, error);
    m_files = m_staged.staged;
    m_files.append({m_paths.mapsFolder + QLatin1Char('/') + QFileInfo(readme).fileName(), readme,
                    readme, QFileInfo(readme).size()});
    return StepResult::done();
}

StepResult BuildSteps::runEngine() {
    m_reproducible = m_zip.chkUpdate != 1 && m_zip.chkFreshen != 1;
    if (m_reproducible && m_staged.newestModified > 0 &&
        m_staged.newestModified <= std::numeric_limits<quint32>::max())
        m_zip.entryTime = quint32(m_staged.newestModified);
    QString error;
    if (!MakeZip(m_state, m_context.request, m_context.binding, m_zip, m_context.stagingFolder,
                 m_host, error))
        return engineError(ZipRequestFailed, m_state.rSaveTo);
    for (const QString &note : std::as_const(m_result.notes))
        m_host.appendOutput(note + QLatin1Char('\n'));
    // A stop asked for during the engine's last callback still stops: nothing is delivered.
    if (m_host.stopRequested())
        return StepResult::stopped();
    if (m_state.retcode != 0)
        return engineError(m_state.retcode, m_state.rSaveTo);
    m_stagedArchive = m_paths.root + QLatin1Char('/') + m_context.request.ArchiveName;
    return StepResult::done();
}

StepResult BuildSteps::checkWrittenArchive() {
    if (m_context.afterArchiveWritten)
        m_context.afterArchiveWritten(m_stagedArchive);
    VerifyRequest check;
    check.archive = m_stagedArchive;
    check.password = m_inputs.chkPass == 1 ? toCodePage(m_inputs.password) : QByteArray();
    check.files = m_files;
    check.junkPaths = m_zip.chkJunk == 1;
    check.compareContent = m_reproducible;
    check.expectEveryFile = m_zip.chkFreshen != 1;
    m_password = check.password;
    // The delivery's copy, hash and sync run while the archive is checked and judged; only a
    // checked archive is renamed into place. The window is served meanwhile, and may stop it.
    m_prepared = std::async(std::launch::async, [this] {
        return m_delivery.prepare(m_stagedArchive, m_state.rSaveTo, m_deliveryError,
                                  [this] { return !m_stopping; });
    });
    QString error;
    if (verifyStagedArchive(check, m_notInArchive, error, [this] { return keepGoing(); }))
        return StepResult::done();
    stopDelivery(); // nothing will be delivered: the copy need not go on
    if (m_host.stopRequested())
        return StepResult::stopped();
    return StepResult::failed(BuildEnd::CheckFailed, m_state.rSaveTo, error);
}

StepResult BuildSteps::confirmSnapshots() {
    if (confirmCopies(m_staged))
        return StepResult::done();
    stopDelivery();
    return StepResult::failed(BuildEnd::FileNotPacked, m_staged.failedFile, m_staged.failure);
}

StepResult BuildSteps::judgeArchive() {
    // The verdict is the archive's own, by the rule mapzip verify applies to any archive.
    ArchiveCheckOptions needs;
    needs.stock = &m_state.DefaultSceneries;
    needs.format = m_result.format;
    needs.serverMapName = m_state.MapName;
    needs.flat = m_zip.chkJunk == 1;
    needs.withTexture = m_inputs.chkTexture == 1;
    needs.edgeTextureRequired = m_staged.edgeTextureExpected;
    needs.readEveryEntry = false; // read whole and compared just now
    needs.password = m_password;
    ArchiveFindings found;
    if (const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(found.error))
        found = checkArchive(*reader, m_stagedArchive, needs);
    if (found.refused() || !found.badEntries.isEmpty())
        return StepResult::failed(BuildEnd::CheckFailed, m_state.rSaveTo, refusalOf(found));
    m_result.leftOut =
        gapsOf(found.missing, m_staged.leftOut, m_excluded, !m_notInArchive.isEmpty(), m_paths);
    m_result.notUsed = notUsedOf(m_staged.leftOut, m_map, m_paths);
    // A map the game refuses loads nothing of what the archive holds.
    if (!found.refusedByGame.isEmpty())
        m_result.refused = refusedSentence(found.refusedByGame.constFirst().second);
    return m_result.leftOut.isEmpty() && m_result.refused.isEmpty() ? StepResult::done()
                                                                    : StepResult::gaps();
}

StepResult BuildSteps::deliver() {
    while (m_prepared.wait_for(ServeEvery) != std::future_status::ready)
        keepGoing();
    const bool ready = m_prepared.get();
    // The last moment a stop counts: once renamed into place, the archive is the user's.
    if (m_host.stopRequested())
        return StepResult::stopped();
    if (!ready || !m_delivery.commit(m_deliveryError))
        return StepResult::failed(BuildEnd::NotSaved, m_state.rSaveTo, m_deliveryError);
    m_result.sha1 = m_delivery.sha1();
    return StepResult::done();
}

bool BuildSteps::keepGoing() {
    m_host.processPendingEvents();
    if (m_host.stopRequested())
        m_stopping = true;
    return !m_stopping;
}

void BuildSteps::stopDelivery() {
    if (!m_prepared.valid())
        return;
    m_stopping = true;
    while (m_prepared.wait_for(ServeEvery) != std::future_status::ready)
        m_host.processPendingEvents();
    m_prepared.get();
}
