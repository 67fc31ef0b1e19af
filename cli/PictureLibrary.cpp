// Finds and loads the picture library; mapzip's side of MapPictureMaker.

#include "cli/PictureLibrary.h"

#include "archive/ProgramFolder.h"
#include "archive/ZipBinding.h"

#include <QFileInfo>
#include <QLibrary>

std::unique_ptr<MapPictureMaker> MapPictureMaker::create(QString &error) {
    const QString file = libraryFileFor(programFolder() + QStringLiteral("/mapzip_picture"));
    QString why;
    if (!QFileInfo::exists(file)) {
        why = QStringLiteral("it is missing");
    } else if (isLoadableLibraryFile(file, why)) { // a damaged file could crash the loader
        // Never unloaded (QLibrary does not unload when it goes): the maker's code lives there.
        QLibrary library(file);
        if (!library.load()) {
            why = library.errorString();
        } else if (const auto create = reinterpret_cast<CreateMapPictureMakerFunction>(
                       library.resolve(CreateMapPictureMakerSymbol))) {
            return std::unique_ptr<MapPictureMaker>(create());
        } else {
            why = QStringLiteral("it lacks its entry point");
        }
    }
    error = QStringLiteral("the picture library %1 cannot be used: %2").arg(file, why);
    return nullptr;
}
