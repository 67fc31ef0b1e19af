#include "package/Staging.h"

#include "intake/MapReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

StagingPaths StagingPaths::under(const QString &programFolder) {
    StagingPaths paths;
    paths.root = programFolder + QStringLiteral("/TEMP");
    paths.maps = paths.root + QStringLiteral("/Maps");
    paths.scenery = paths.root + QStringLiteral("/Scenery-gfx");
    paths.textures = paths.root + QStringLiteral("/Textures");
    return paths;
}

namespace {

// Deletes every file (not folder) directly in `folder` except `keep`. Failures are ignored:
// a file that stays simply goes into the next archive.
void deleteFilesIn(const QString &folder, const QString &keep = QString()) {
    QDir dir(folder);
    if (!dir.exists())
        return;
    const QStringList names =
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        if (!keep.isEmpty() && name == keep)
            continue;
        QFile::remove(dir.filePath(name));
    }
}

bool makeFolder(const QString &path, QString &error) {
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink()) {
        error = QStringLiteral("The staging folder %1 cannot be created: a file of that name is "
                               "in the way.")
                    .arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!QDir().mkpath(path) || !QFileInfo(path).isDir()) {
        error = QStringLiteral("The staging folder %1 cannot be created. Check that its parent "
                               "folder exists, is writable and that the disk is not full.")
                    .arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

// The file `name` in `folder`, found ignoring letter case (an exact match wins); empty when
// there is none.
QString findFileIgnoringCase(const QString &folder, const QString &name) {
    const QString exact = folder + QLatin1Char('/') + name;
    if (QFileInfo(exact).isFile())
        return exact;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString &stored : names) {
        if (stored.compare(name, Qt::CaseInsensitive) == 0)
            return folder + QLatin1Char('/') + stored;
    }
    return {};
}

// Copies `source` over `target`. The copy gets the owner's read and write rights whatever the
// source had, so that the next clean-up can delete it.
bool copyReplacing(const QString &source, const QString &target, QString &error) {
    if (!QFileInfo(source).isFile()) {
        error = QStringLiteral("not found");
        return false;
    }
    if (QFileInfo::exists(target) && !QFile::remove(target)) {
        error = QStringLiteral("the staged copy cannot be replaced");
        return false;
    }
    QFile file(source);
    if (!file.copy(target)) {
        error = file.errorString();
        return false;
    }
    QFile::setPermissions(target,
                          QFile::permissions(target) | QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

} // namespace

void fullCleanup(const QString &programFolder) {
    const StagingPaths paths = StagingPaths::under(programFolder);
    deleteFilesIn(paths.root);
    deleteFilesIn(paths.maps);
    deleteFilesIn(paths.scenery);
    deleteFilesIn(paths.textures);
}

bool buildCleanup(const QString &programFolder, const QString &keepFileName, QString &error) {
    const StagingPaths paths = StagingPaths::under(programFolder);
    deleteFilesIn(paths.maps);
    deleteFilesIn(paths.scenery);
    deleteFilesIn(paths.textures);
    // Archives of other maps (or of this one, when it is not kept) must not be packed again.
    deleteFilesIn(paths.root, keepFileName);
    for (const QString &folder : {paths.root, paths.maps, paths.scenery, paths.textures}) {
        if (!makeFolder(folder, error))
            return false;
    }
    return true;
}

FillReport fillStaging(const QString &programFolder, const FillInputs &inputs) {
    const StagingPaths paths = StagingPaths::under(programFolder);
    FillReport report;
    QString error;
    // Without a game folder there is nothing to read the sceneries and texture from; an empty
    // path must not turn into a lookup in the current folder.
    const bool haveGame = !inputs.soldatPath.isEmpty();
    const QString sceneryGame =
        haveGame ? findFolderIgnoringCase(inputs.soldatPath, QStringLiteral("scenery-gfx"))
                 : QString();

    for (const QString &entry : inputs.addList) {
        if (entry.startsWith(MissingMarker)) {
            report.skipped << entry + QStringLiteral(": missing in the game folder");
        } else if (!isPlainFileName(entry)) {
            report.skipped << entry + QStringLiteral(": not a plain file name");
        } else if (sceneryGame.isEmpty()) {
            report.skipped << entry + QStringLiteral(": no scenery-gfx folder in the game folder");
        } else if (!copyReplacing(sceneryGame + QLatin1Char('/') + entry,
                                  paths.scenery + QLatin1Char('/') + entry, error)) {
            report.skipped << entry + QStringLiteral(": ") + error;
        } else {
            report.copied << QStringLiteral("Scenery-gfx/") + entry;
        }
    }

    const QString stagedMap = inputs.mapName + QStringLiteral(".PMS");
    if (!isPlainFileName(inputs.mapName)) {
        report.skipped << stagedMap + QStringLiteral(": not a plain file name");
    } else if (!copyReplacing(inputs.mapPath, paths.maps + QLatin1Char('/') + stagedMap, error)) {
        report.skipped << stagedMap + QStringLiteral(": ") + error;
    } else {
        report.copied << QStringLiteral("Maps/") + stagedMap;
    }

    if (inputs.withTexture) {
        const QString &texture = inputs.textureName;
        const QString textureGame =
            haveGame ? findFolderIgnoringCase(inputs.soldatPath, QStringLiteral("Textures"))
                     : QString();
        const QString source = textureGame.isEmpty() || !isPlainFileName(texture)
                                   ? QString()
                                   : findFileIgnoringCase(textureGame, texture);
        if (!isPlainFileName(texture)) {
            report.skipped << texture + QStringLiteral(": not a plain file name");
        } else if (source.isEmpty()) {
            report.skipped << texture + QStringLiteral(": not found in the Textures folder");
        } else if (!copyReplacing(source, paths.textures + QLatin1Char('/') + texture, error)) {
            report.skipped << texture + QStringLiteral(": ") + error;
        } else {
            report.copied << QStringLiteral("Textures/") + texture;
        }
    }
    return report;
}
