#include "package/Staging.h"

#include "intake/FileNames.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"
#include "package/FileCopy.h"
#include "platform/Platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

using platform::nativePath;
using platform::systemText;

QString shown(const QString &path) {
    return QDir::toNativeSeparators(path);
}

QString fromNative(const fs::path &path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

// Removes `path` and, for a real folder, everything in it; a link is removed, not followed.
// False, with `error` naming the path and the cause, when something could not be removed.
bool removeEntry(const QString &path, QString &error) {
    std::error_code code;
    fs::remove_all(nativePath(path), code);
    if (code)
        error = QStringLiteral("%1: %2").arg(shown(path), systemText(code));
    return !code;
}

// Empties `folder`, keeping the folder itself; what cannot be listed or removed fails it.
bool emptyFolder(const QString &folder, QString &error) {
    std::error_code code;
    for (fs::directory_iterator it(nativePath(folder), code), end; !code && it != end;
         it.increment(code)) {
        if (!removeEntry(fromNative(it->path()), error))
            return false;
    }
    if (code)
        error = QStringLiteral("%1: %2").arg(shown(folder), systemText(code));
    return !code;
}

// Makes `path` a real folder that only the user may enter, replacing a file or link there.
bool makeFolder(const QString &path, QString &error) {
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return true;
    if ((info.exists() || info.isSymLink()) && !removeEntry(path, error))
        return false;
    QString why;
    if (platform::makePrivateFolder(path, why))
        return true;
    error = QStringLiteral("%1: %2").arg(shown(path), why);
    return false;
}

// Links `source` to `target` where the file system allows it. True with `linked` false when
// it does not, and nothing is at `target` then.
bool linkFile(const QString &source, const QString &target, qint64 size, bool &linked,
              QString &error) {
    std::error_code linkError;
    fs::create_hard_link(nativePath(source), nativePath(target), linkError);
    linked = false;
    if (linkError)
        return true;
    // A link names the source's data; make sure it did not land on something else.
    const QFileInfo staged(target);
    linked = !staged.isSymLink() && staged.isFile() && staged.size() == size;
    if (!linked && !QFile::remove(target)) {
        error = QStringLiteral("%1 cannot be removed").arg(shown(target));
        return false;
    }
    return true;
}

// Stages `source` at `target`: a hard link where `mayLink` and the file system allow one, a
// copy of one state of it otherwise (copySnapshot); either once the file was left alone. The
// source is opened first, so a file that cannot be read is never staged and nothing waits on a
// FIFO. A copy asks `keepGoing` before each MiB. `staged` is the state of the source that was
// staged: a change after it is caught by confirmCopies(), and for a link also by the check of
// the written archive against it.
bool stageFile(const QString &source, const QString &target, bool mayLink, qint64 &size,
               qint64 &modified, QString &error, const std::function<bool()> &keepGoing,
               std::optional<platform::FileStamp> &staged) {
    QFile in;
    if (!platform::openRegularFile(source, in, error))
        return false;
    platform::FileStamp state;
    bool linked = false;
    if (mayLink &&
        (!waitUntilQuiet(in, state, error) || !linkFile(source, target, state.size, linked, error)))
        return false;
    if (!linked && !copySnapshot(in, target, error, keepGoing, &state))
        return false;
    staged = state;
    size = state.size;
    modified = state.modifiedNs / 1'000'000'000;
    return true;
}

} // namespace

ArchiveFormat formatForPath(const QString &archivePath) {
    return archivePath.endsWith(QStringLiteral(".smap"), Qt::CaseInsensitive) ? ArchiveFormat::Smap
                                                                              : ArchiveFormat::Zip;
}

StagingPaths StagingPaths::under(const QString &stagingFolder, ArchiveFormat format,
                                 const GameFolderNames &game) {
    StagingPaths paths;
    const QStringList own = {game.maps, game.scenery, game.textures};
    const bool lowerCase = format == ArchiveFormat::Smap ||
                           std::any_of(own.begin(), own.end(), [](const QString &name) {
                               return !name.isEmpty() && name == name.toLower();
                           });
    auto named = [&](const QString &gameName, const QString &name) {
        if (format == ArchiveFormat::Smap)
            return name.toLower();
        if (!gameName.isEmpty())
            return gameName;
        return lowerCase ? name.toLower() : name;
    };
    paths.mapsFolder = named(game.maps, QStringLiteral("Maps"));
    paths.sceneryFolder = named(game.scenery, QStringLiteral("Scenery-gfx"));
    paths.texturesFolder = named(game.textures, QStringLiteral("Textures"));
    paths.edgesFolder = paths.texturesFolder + QStringLiteral("/edges");
    paths.root = stagingFolder + QStringLiteral("/TEMP");
    paths.maps = paths.root + QLatin1Char('/') + paths.mapsFolder;
    paths.scenery = paths.root + QLatin1Char('/') + paths.sceneryFolder;
    paths.textures = paths.root + QLatin1Char('/') + paths.texturesFolder;
    paths.edges = paths.root + QLatin1Char('/') + paths.edgesFolder;
    return paths;
}

void fullCleanup(const QString &stagingFolder) {
    QDirIterator it(stagingFolder + QStringLiteral("/TEMP"),
                    QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::remove(it.next());
}

bool buildCleanup(const QString &stagingFolder, ArchiveFormat format, const QString &keepFileName,
                  QString &error, const GameFolderNames &game) {
    const StagingPaths paths = StagingPaths::under(stagingFolder, format, game);
    if (!makeFolder(paths.root, error))
        return false;
    const QStringList layout = {paths.mapsFolder, paths.sceneryFolder, paths.texturesFolder};
    // Whatever else lies in TEMP would be packed with the build's own files: what cannot be
    // listed or removed fails the build.
    std::error_code code;
    for (fs::directory_iterator it(nativePath(paths.root), code), end; !code && it != end;
         it.increment(code)) {
        const QString path = fromNative(it->path());
        const QString name = QFileInfo(path).fileName();
        const fs::file_type type = it->symlink_status(code).type();
        if (code)
            break;
        if (type == fs::file_type::regular && !keepFileName.isEmpty() && name == keepFileName)
            continue;
        const bool emptied = type == fs::file_type::directory && layout.contains(name)
                                 ? emptyFolder(path, error)
                                 : removeEntry(path, error);
        if (!emptied)
            return false;
    }
    if (code) {
        error = QStringLiteral("%1: %2").arg(shown(paths.root), systemText(code));
        return false;
    }
    for (const QString &folder : {paths.maps, paths.scenery, paths.textures}) {
        if (!makeFolder(folder, error))
            return false;
    }
    return true;
}

bool checkStagingTree(const QString &stagingFolder, QString &error) {
    const QString root = stagingFolder + QStringLiteral("/TEMP");
    QStringList parts;
    if (QFileInfo(root).exists() || QFileInfo(root).isSymLink()) {
        parts << root;
        const QFileInfoList entries = QDir(root).entryInfoList(QDir::Dirs | QDir::Hidden |
                                                               QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &entry : entries)
            parts << entry.filePath();
    }
    for (const QString &part : std::as_const(parts)) {
        const QFileInfo info(part);
        QString problem;
        if (info.isSymLink())
            problem = QStringLiteral("is a link");
        else if (!info.isDir())
            problem = QStringLiteral("is not a folder");
        else if (!platform::ownedByCurrentUser(part))
            problem = QStringLiteral("belongs to another user");
        else if (info.permissions() & QFileDevice::WriteOther)
            problem = QStringLiteral("may be written by everybody");
        if (!problem.isEmpty()) {
            error = QStringLiteral("the staging folder %1 %2; choose another --staging folder")
                        .arg(shown(part), problem);
            return false;
        }
    }
    return true;
}

namespace {

// A run's lock files lie beside TEMP: nothing in TEMP may stay out of the archive. A private
// folder's has a name of its own, so that a folder the user named is never taken for one.
const QString StagingLockName = QStringLiteral("staging.lock");
const QString PrivateLockName = QStringLiteral("private-staging.lock");

// Locks `path` for this run and writes the run's process number into it: a lock file with a
// number was locked by a run, one without may be a run's that is just starting.
platform::Lock lockForRun(const QString &path, int waitMs, QFile &file, QString &error) {
    const platform::Lock lock = platform::openLocked(path, waitMs, file, error);
    if (lock != platform::Lock::Taken)
        return lock;
    const QByteArray mark = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    if (!file.resize(0) || file.write(mark) != mark.size() || !file.flush()) {
        error = file.errorString();
        file.close();
        return platform::Lock::Failed;
    }
    return lock;
}

// Removes a private staging folder: the tree first and the lock file last, so that a run
// killed on the way leaves a folder that the next run still knows as ours.
// A second try removes what a passing failure of the system kept the first from removing.
void removeStagingFolder(const QString &folder) {
    QString unused; // nobody to tell: the next run removes what stays
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (removeEntry(folder + QStringLiteral("/TEMP"), unused) && removeEntry(folder, unused))
            return;
    }
}

bool isRunMark(const QByteArray &content) {
    static const QRegularExpression number(QStringLiteral("^[0-9]+\n$"));
    return number.match(QString::fromLatin1(content)).hasMatch();
}

} // namespace

StagingLock::StagingLock() = default;
StagingLock::~StagingLock() = default;

bool StagingLock::lock(const QString &stagingFolder, int waitMs, QString &error) {
    if (!QDir().mkpath(stagingFolder)) {
        error = QStringLiteral("the staging folder %1 cannot be created").arg(shown(stagingFolder));
        return false;
    }
    m_lock = std::make_unique<QFile>();
    m_path = stagingFolder + QLatin1Char('/') + StagingLockName;
    QString why;
    const platform::Lock lock = lockForRun(m_path, waitMs, *m_lock, why);
    if (lock == platform::Lock::Taken)
        return true;
    const qint64 holder =
        lock == platform::Lock::Held ? m_lock->readLine(32).trimmed().toLongLong() : 0;
    if (holder > 0)
        error = QStringLiteral("staging folder in use by process %1").arg(holder);
    else
        error = QStringLiteral("the staging folder %1 cannot be locked%2")
                    .arg(shown(stagingFolder),
                         why.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(why));
    m_lock.reset();
    return false;
}

void StagingLock::unlock() {
    m_lock.reset();
}

QString StagingLock::fileName() const {
    return m_lock ? m_path : QString();
}

namespace {
const QString TakenByCleanUp = QStringLiteral("it was removed by another process as it was made");
} // namespace

PrivateStagingFolder::PrivateStagingFolder(const QString &prefix) {
    // A clean-up of another run takes a folder that is just being made for the remains of a
    // run killed while starting, and removes it: the next attempt makes another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (makeLocked(prefix))
            return;
        if (m_dir && !m_dir->isValid())
            return;
        const bool taken = m_dir && !QFileInfo::exists(m_dir->path());
        remove();
        if (!taken)
            return;
        m_error.clear();
    }
    m_error = TakenByCleanUp;
}

bool PrivateStagingFolder::makeLocked(const QString &prefix) {
    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QLatin1Char('/') + prefix +
                                            QStringLiteral("-XXXXXX"));
    if (!m_dir->isValid())
        return false;
    // A clean-up may hold the new lock file for a moment: this run waits, and then finds
    // whether the file is still the folder's.
    const QString lockPath = m_dir->path() + QLatin1Char('/') + PrivateLockName;
    m_lock = std::make_unique<QFile>();
    const platform::Lock lock = lockForRun(lockPath, 2000, *m_lock, m_error);
    if (lock == platform::Lock::Taken && platform::isFileAt(*m_lock, lockPath))
        return true;
    if (lock == platform::Lock::Held)
        m_error = QStringLiteral("its lock is held by another process");
    else if (lock == platform::Lock::Taken)
        m_error = TakenByCleanUp;
    return false;
}

PrivateStagingFolder::~PrivateStagingFolder() {
    remove();
}

bool PrivateStagingFolder::isValid() const {
    return m_dir && m_dir->isValid() && m_lock;
}

QString PrivateStagingFolder::path() const {
    return m_dir ? m_dir->path() : QString();
}

QString PrivateStagingFolder::errorString() const {
    return !m_error.isEmpty() ? m_error : m_dir ? m_dir->errorString() : QString();
}

void PrivateStagingFolder::remove() {
    // Removed while still locked, so that no clean-up takes it for a dead run's meanwhile.
    if (m_dir) {
        removeStagingFolder(m_dir->path());
        m_dir->setAutoRemove(false);
    }
    m_dir.reset();
    m_lock.reset();
}

namespace {

// The names in the folder `folder` that begin with one of `prefixes` + "-".
QStringList namesStartingWith(const QString &folder, const QStringList &prefixes) {
    std::vector<std::string> starts;
    for (const QString &prefix : prefixes)
        starts.push_back(QFile::encodeName(prefix + QLatin1Char('-')).toStdString());
    return platform::namesIn(folder, [&](std::string_view name) {
        return std::any_of(starts.begin(), starts.end(),
                           [&](const std::string &start) { return name.starts_with(start); });
    });
}

// Whether `name` is one of `prefixes`, "-" and six letters or digits, as QTemporaryDir makes
// them.
bool isOurFolderName(const QString &name, const QStringList &prefixes) {
    const auto alphanumeric = [](QChar c) { return c.unicode() < 128 && c.isLetterOrNumber(); };
    return std::any_of(prefixes.begin(), prefixes.end(), [&](const QString &prefix) {
        return name.size() == prefix.size() + 7 && name.startsWith(prefix + QLatin1Char('-')) &&
               std::all_of(name.end() - 6, name.end(), alphanumeric);
    });
}

} // namespace

void PrivateStagingFolder::removeAbandoned(const QStringList &prefixes) {
    const QString temp = QDir::tempPath();
    for (const QString &name : namesStartingWith(temp, prefixes)) {
        const QFileInfo folder(temp + QLatin1Char('/') + name);
        if (!isOurFolderName(name, prefixes) || folder.isSymLink() || !folder.isDir() ||
            !platform::ownedByCurrentUser(folder.filePath()))
            continue;
        removeIfAbandoned(folder.filePath());
    }
}

void PrivateStagingFolder::removeIfAbandoned(const QString &folder) {
    // Held while the folder goes: its run is gone, and no other clean-up starts on it. A run
    // writes its number first of all: a lock file without one, alone in its folder, is what a
    // run killed while starting left, as is an empty folder. A run starting meanwhile finds
    // its folder gone and makes another.
    const QString lockPath = folder + QLatin1Char('/') + PrivateLockName;
    QFile lock;
    if (platform::lockLeftover(lockPath, lock)) {
        const QByteArray mark = lock.read(32);
        const auto everything = [](std::string_view) { return true; };
        const bool alone = platform::namesIn(folder, everything) == QStringList{PrivateLockName};
        if (isRunMark(mark) || (mark.isEmpty() && alone))
            removeStagingFolder(folder);
    } else if (!QFileInfo::exists(lockPath)) {
        QDir().rmdir(folder); // only while it is empty
    }
}

namespace {

// Stages `source` as `name` in one of the tree's folders and records it in `report`. A failure
// that is no stop is the build's: FillReport::failedFile and failure say which and why.
bool stageInto(FillReport &report, const QString &source, const QString &folder,
               const QString &folderPath, const QString &name, bool mayLink,
               const std::function<bool()> &keepGoing = {}) {
    StagedFile file;
    file.entry = folder + QLatin1Char('/') + name;
    file.path = folderPath + QLatin1Char('/') + name;
    file.source = source;
    qint64 modified = 0;
    QString error;
    if (!stageFile(source, file.path, mayLink, file.size, modified, error, keepGoing,
                   file.stagedFrom)) {
        if (!report.stopped)
            report.fail(source, error);
        return false;
    }
    report.newestModified = std::max(report.newestModified, modified);
    report.staged.append(file);
    return true;
}

// The file the game loads for an image, looked up in `game` (none: nothing is found).
ImageFile lookUpImage(const GameFolder *game, const QString &name, bool scenery) {
    if (!game) {
        ImageFile none;
        none.reason =
            isPlainFileName(name) ? ImageMissing::NotInGameFolder : ImageMissing::NotPlainName;
        return none;
    }
    return scenery ? game->scenery(name) : game->texture(name);
}

// The sceneries of the add list, each file once. False when the fill failed or stopped.
bool stageSceneries(const StagingPaths &paths, const FillInputs &inputs, const GameFolder *game,
                    FillReport &report, const std::function<bool()> &keepGoing) {
    QSet<QString> stagedSceneries;
    for (const QString &entry : inputs.addList) {
        if (!keepGoing())
            return false;
        const QString name = withoutMarker(entry);
        const ImageFile image = lookUpImage(game, name, true);
        if (!image.found()) {
            report.leftOut.append({paths.sceneryFolder + QLatin1Char('/') + name, image.reason});
            continue;
        }
        if (stagedSceneries.contains(image.storedName))
            continue; // named twice, or two names the game resolves to one file
        if (!stageInto(report, image.target, paths.sceneryFolder, paths.scenery, image.storedName,
                       true, keepGoing))
            return false;
        stagedSceneries.insert(image.storedName);
    }
    report.sceneriesStaged = int(stagedSceneries.size());
    return true;
}

// The texture and, where the game has one and it is wanted, its edge texture.
void stageTextures(const StagingPaths &paths, const FillInputs &inputs, const GameFolder *game,
                   FillReport &report, const std::function<bool()> &keepGoing) {
    const ImageFile image = lookUpImage(game, inputs.textureName, false);
    if (!image.found())
        report.leftOut.append(
            {paths.texturesFolder + QLatin1Char('/') + inputs.textureName, image.reason});
    else if (!stageInto(report, image.target, paths.texturesFolder, paths.textures,
                        image.storedName, true, keepGoing))
        return;

    const ImageFile edge =
        game && inputs.withEdgeTexture ? game->edgeTexture(inputs.textureName) : ImageFile();
    // A link out of the game folder is an image the game has and we do not take.
    report.edgeTextureExpected = edge.found() || edge.reason == ImageMissing::LinkOutOfGameFolder;
    if (!report.edgeTextureExpected || !keepGoing())
        return;
    if (!edge.found()) {
        report.leftOut.append(
            {paths.edgesFolder + QLatin1Char('/') + inputs.textureName, edge.reason});
        return;
    }
    QString error;
    if (!makeFolder(paths.edges, error))
        report.fail(paths.edges, error);
    else
        stageInto(report, edge.target, paths.edgesFolder, paths.edges, edge.storedName, true,
                  keepGoing);
}

} // namespace

void FillReport::fail(const QString &file, const QString &reason) {
    failedFile = QDir::toNativeSeparators(file);
    failure = reason;
}

bool confirmCopies(FillReport &report) {
    for (const StagedFile &file : std::as_const(report.staged)) {
        QString error;
        if (file.stagedFrom && !stillAsCopied(file.source, *file.stagedFrom, file.path, error)) {
            report.fail(file.source, error);
            return false;
        }
    }
    return true;
}

bool stageMap(const QString &stagingFolder, const FillInputs &inputs, FillReport &report) {
    const StagingPaths paths =
        StagingPaths::under(stagingFolder, inputs.format, inputs.gameFolders);
    const QString mapName =
        inputs.stagedMapName +
        (inputs.format == ArchiveFormat::Smap ? QStringLiteral(".pms") : QStringLiteral(".PMS"));
    if (!isPlainFileName(mapName)) {
        report.fail(mapName, QStringLiteral("not a plain file name"));
        return false;
    }
    // A copy, never a link: the map may be saved again while the build runs.
    return stageInto(report, inputs.mapPath, paths.mapsFolder, paths.maps, mapName, false);
}

void stageImages(const QString &stagingFolder, const FillInputs &inputs, FillReport &report) {
    const StagingPaths paths =
        StagingPaths::under(stagingFolder, inputs.format, inputs.gameFolders);
    // A big image copied to another file system stops within a MiB, not only between files.
    const std::function<bool()> keepGoing = [&] {
        if (inputs.stopRequested && inputs.stopRequested())
            report.stopped = true;
        return !report.stopped;
    };
    const std::unique_ptr<GameFolder> game =
        inputs.soldatPath.isEmpty() ? nullptr : std::make_unique<GameFolder>(inputs.soldatPath);
    // A folder that could not be read hides what the game has: that is no gap.
    if (game && !game->listingError().isEmpty()) {
        report.fail(game->unlistedFolder(), game->listingError());
        return;
    }
    if (stageSceneries(paths, inputs, game.get(), report, keepGoing) && inputs.withTexture &&
        !inputs.textureName.isEmpty() && keepGoing())
        stageTextures(paths, inputs, game.get(), report, keepGoing);
}
