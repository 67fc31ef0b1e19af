// Fuzz target for the map file reader: any bytes must give contents or a clear error,
// never a crash, a hang or undefined behaviour.

#include "intake/DefaultSceneries.h"
#include "intake/FileNames.h"
#include "intake/MapReader.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);

    MapFileContents contents;
    QString error;
    if (!readMapFrom(device, QStringLiteral("fuzz.pms"), contents, error)) {
        if (error.isEmpty())
            std::abort(); // a failure must always say why
        return 0;
    }
    // Nothing is made for records that are not there.
    const auto records = [](qsizetype count, qsizetype size) { return qint64(count) * size; };
    if (contents.sceneryNames.size() > 32767 || contents.description.size() > 38 ||
        contents.texture.size() > 24 || contents.version != MapFormatVersion ||
        records(contents.polygons.size(), 121) + records(contents.props.size(), 44) +
                records(contents.sceneryNames.size(), 55) >
            qint64(size))
        std::abort();
    const QSet<QString> used = sceneriesInUse(contents);
    if (used.size() > contents.sceneryNames.size())
        std::abort();

    DefaultSceneryTable table;
    table.append(QStringLiteral("pond.bmp"));
    for (QString name : std::as_const(contents.sceneryNames)) {
        if (name.size() > 50)
            std::abort();
        CheckSc(name, table);
        isPlainFileName(name);
    }
    return 0;
}
