// Fuzz target for the read-back library's archive reader and the archive check that build and
// verify share: any bytes must give findings or a clear error, never a crash, a hang or
// undefined behaviour.

#include "archive/ArchiveReader.h"
#include "package/ArchiveCheck.h"

#include <QTemporaryFile>
#include <cstdint>
#include <cstdlib>
#include <memory>

// The reader's entry point, linked in: the fuzzer sees the library's own code.
extern "C" ArchiveReader *mapzipCreateArchiveReader();

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The reader opens files by name: each input goes to one temporary file.
    static QTemporaryFile file;
    if ((!file.isOpen() && !file.open()) || !file.resize(0) || !file.seek(0) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size) ||
        !file.flush())
        std::abort();
    const std::unique_ptr<ArchiveReader> reader(mapzipCreateArchiveReader());
    DefaultSceneryTable stock;
    ArchiveCheckOptions options;
    options.stock = &stock;
    checkArchive(*reader, file.fileName(), options);
    for (const ArchiveItem &item : reader->items()) {
        if (item.size < 0 || item.compressedSize < 0)
            std::abort(); // an impossible size was let through
    }
    return 0;
}

#ifdef MAPZIP_ARCHIVE_REPLAY
// Without libFuzzer: runs the target once on every file of the seed corpus given.
#include <QDir>
#include <cstdio>

int main(int argc, char *argv[]) {
    const QDir corpus(QString::fromLocal8Bit(argc > 1 ? argv[1] : ""));
    const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
    for (const QString &name : names) {
        QFile input(corpus.filePath(name));
        const QByteArray bytes = input.open(QIODevice::ReadOnly) ? input.readAll() : QByteArray();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                               size_t(bytes.size()));
    }
    std::printf("replayed %lld inputs\n", static_cast<long long>(names.size()));
    return names.isEmpty() ? 1 : 0;
}
#endif
