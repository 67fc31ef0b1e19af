// Finds and loads the read-back library; the program's side of ArchiveReader and Sha1.

#include "archive/ArchiveReader.h"
#include "archive/ProgramFolder.h"
#include "archive/ReadBack.h"
#include "archive/Sha1.h"
#include "archive/ZipBinding.h"

#include <QFileInfo>
#include <QLibrary>

#include <mutex>

namespace {

struct Loaded {
    CreateArchiveReaderFunction createReader = nullptr;
    CreateSha1Function createSha1 = nullptr;
    QString error; // why it could not be loaded
};

std::mutex g_mutex;
QString g_folder;
Loaded g_loaded; // once loaded, for the rest of the run

// The library, loaded on the first call from any thread. A failure is not kept: a library put
// back in place meanwhile is found on the next call. A library file that is damaged is never
// handed to the system's loader, which could crash on it.
Loaded readBack() {
    std::lock_guard lock(g_mutex);
    if (g_loaded.createReader)
        return g_loaded;
    Loaded loaded;
    const QString folder = g_folder.isEmpty() ? programFolder() : g_folder;
    const QString file = libraryFileFor(folder + QStringLiteral("/mapzip_readback"));
    QString why;
    if (!QFileInfo::exists(file)) {
        why = QStringLiteral("it is missing");
    } else if (isLoadableLibraryFile(file, why)) {
        // Never unloaded (QLibrary does not unload when it goes): its objects may be in use.
        QLibrary library(file);
        if (library.load()) {
            loaded.createReader = reinterpret_cast<CreateArchiveReaderFunction>(
                library.resolve(CreateArchiveReaderSymbol));
            loaded.createSha1 =
                reinterpret_cast<CreateSha1Function>(library.resolve(CreateSha1Symbol));
            if (!loaded.createReader || !loaded.createSha1)
                why = QStringLiteral("it lacks its entry points");
        } else {
            why = library.errorString();
        }
    }
    if (!why.isEmpty()) {
        loaded = {};
        loaded.error = QStringLiteral("the read-back library %1 cannot be used: %2").arg(file, why);
        return loaded;
    }
    g_loaded = loaded;
    return loaded;
}

} // namespace

void setReadBackFolder(const QString &folder) {
    std::lock_guard lock(g_mutex);
    g_folder = folder;
}

bool loadReadBackLibrary(QString &error) {
    error = readBack().error;
    return error.isEmpty();
}

namespace {
// A new object from one of the library's entry points, or null with `error` set.
template <typename Object, typename Function>
std::unique_ptr<Object> createWith(Function Loaded::*entryPoint, QString &error) {
    const Loaded library = readBack();
    if (!(library.*entryPoint)) {
        error = library.error;
        return nullptr;
    }
    return std::unique_ptr<Object>((library.*entryPoint)());
}
} // namespace

std::unique_ptr<ArchiveReader> ArchiveReader::create(QString &error) {
    return createWith<ArchiveReader>(&Loaded::createReader, error);
}

std::unique_ptr<Sha1> Sha1::create(QString &error) {
    return createWith<Sha1>(&Loaded::createSha1, error);
}
