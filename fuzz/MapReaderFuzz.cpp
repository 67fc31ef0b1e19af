// Fuzz target for the map file reader: any bytes must give contents or a clear error,
// never a crash, a hang or undefined behaviour.

#include "intake/DefaultSceneries.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"

#include <QBuffer>
#include <QStringList>
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
    if (contents.sceneryNames.size() > 32767 || contents.description.size() > 38 ||
        contents.texture.size() > 24)
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

// For the seed replay, with the fixture GAME_FOLDER and DEFAULTS as arguments: one line per
// input, "name|error" or "name|description|texture|item;item;..." against that game folder.
QString describeInput(const QString &name, const QByteArray &bytes, const QStringList &arguments) {
    static const GameFolder game(arguments.value(0));
    static const DefaultSceneryTable stock = [&] {
        DefaultSceneryTable table;
        loadDefaultSceneries(arguments.value(1), table);
        return table;
    }();
    QByteArray copy = bytes;
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    MapFileContents contents;
    QString error;
    if (!readMapFrom(device, name, contents, error))
        return name + QStringLiteral("|error");
    auto clean = [](QString text) {
        for (QChar &c : text) {
            if (c.unicode() < 0x20 || c == QLatin1Char('|') || c == QLatin1Char(';'))
                c = QLatin1Char('?');
        }
        return text;
    };
    QStringList items;
    for (QString scenery : std::as_const(contents.sceneryNames)) {
        if (scenery.isEmpty() || CheckSc(scenery, stock))
            continue;
        items << clean(game.scenery(scenery).found() ? scenery : MissingMarker + scenery);
    }
    return name + QLatin1Char('|') + clean(contents.description) + QLatin1Char('|') +
           clean(contents.texture) + QLatin1Char('|') + items.join(QLatin1Char(';'));
}
