// Runs the fuzz target once on every file of the seed corpus, so the corpus is replayed by an
// ordinary test without libFuzzer, and compares each file's reading with what is known of it
// (known.txt beside the corpus): for the real maps their description, texture, add list against
// the fixture game folder, counts of polygons and props and the sceneries no prop shows, for
// the rest whether they read at all.
//
// Usage: map_reader_replay CORPUS KNOWN GAME_FOLDER DEFAULTS [--record]
// --record prints the known lines for the corpus as it reads now, for a new seed.

#include "intake/DefaultSceneries.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

// One line per corpus file: "name|error" or
// "name|description|texture|item;item;...|polygons props|unused;unused;...".
QString describe(const QString &name, const QByteArray &bytes, const DefaultSceneryTable &stock,
                 const GameFolder &game) {
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
    QStringList unused;
    const QSet<QString> used = sceneriesInUse(contents);
    for (QString scenery : std::as_const(contents.sceneryNames)) {
        if (scenery.isEmpty() || CheckSc(scenery, stock))
            continue;
        items << clean(game.scenery(scenery).found() ? scenery : MissingMarker + scenery);
        if (!used.contains(scenery))
            unused << items.constLast();
    }
    return name + QLatin1Char('|') + clean(contents.description) + QLatin1Char('|') +
           clean(contents.texture) + QLatin1Char('|') + items.join(QLatin1Char(';')) +
           QStringLiteral("|%1 %2|").arg(contents.polygons.size()).arg(contents.props.size()) +
           unused.join(QLatin1Char(';'));
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 5) {
        std::fprintf(stderr,
                     "usage: map_reader_replay CORPUS KNOWN GAME_FOLDER DEFAULTS [--record]\n");
        return 2;
    }
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const QString knownFile = QString::fromLocal8Bit(argv[2]);
    const GameFolder game(QString::fromLocal8Bit(argv[3]));
    DefaultSceneryTable stock;
    loadDefaultSceneries(QString::fromLocal8Bit(argv[4]), stock);
    const bool record = argc > 5 && QByteArray(argv[5]) == "--record";

    QMap<QString, QString> known;
    for (const QString &line : QString::fromUtf8(readAll(knownFile)).split(QLatin1Char('\n'))) {
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            known.insert(line.section(QLatin1Char('|'), 0, 0), line);
    }

    const QStringList names = QDir(corpus).entryList(QDir::Files, QDir::Name);
    int failures = 0;
    for (const QString &name : names) {
        const QByteArray bytes = readAll(corpus + QLatin1Char('/') + name);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()),
                               static_cast<size_t>(bytes.size()));
        const QString seen = describe(name, bytes, stock, game);
        if (record) {
            std::printf("%s\n", seen.toUtf8().constData());
        } else if (known.value(name) != seen) {
            std::fprintf(stderr, "%s\n  known: %s\n  read:  %s\n", qPrintable(name),
                         qPrintable(known.value(name, QStringLiteral("(nothing known)"))),
                         qPrintable(seen));
            ++failures;
        }
    }
    std::printf("replayed %lld inputs, %d differ from what is known\n",
                static_cast<long long>(names.size()), failures);
    return names.isEmpty() || failures > 0 ? 1 : 0;
}
