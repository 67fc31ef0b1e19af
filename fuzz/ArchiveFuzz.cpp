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

namespace {

// The reader opens files by name: each input goes to one temporary file.
ArchiveFindings check(const uint8_t *data, size_t size, const ArchiveCheckOptions &options) {
    static QTemporaryFile file;
    if (!file.isOpen() && !file.open())
        std::abort();
    file.resize(0);
    file.seek(0);
    if (file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size) ||
        !file.flush())
        std::abort();
    const std::unique_ptr<ArchiveReader> reader(mapzipCreateArchiveReader());
    ArchiveFindings findings = checkArchive(*reader, file.fileName(), options);
    for (const ArchiveItem &item : reader->items()) {
        if (item.size < 0 || item.compressedSize < 0)
            std::abort(); // an impossible size was let through
    }
    return findings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    DefaultSceneryTable stock;
    ArchiveCheckOptions options;
    options.stock = &stock;
    check(data, size, options);
    return 0;
}

// For the seed replay: the verdict on one input.
QString describeInput(const QString &name, const QByteArray &bytes, const QStringList &) {
    DefaultSceneryTable stock;
    ArchiveCheckOptions options;
    options.stock = &stock;
    const ArchiveFindings findings =
        check(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()), options);
    const QString verdict = !findings.error.isEmpty()    ? QStringLiteral("refused")
                            : !findings.unsafe.isEmpty() ? QStringLiteral("unsafe")
                            : findings.complete()        ? QStringLiteral("complete")
                                                         : QStringLiteral("incomplete");
    return name + QLatin1Char('|') + verdict;
}
