// mapzip inspect: what the browse command would show for each map.

#include "cli/Commands.h"
#include "cli/Console.h"

#include "intake/DefaultSceneries.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"
#include "intake/WizardState.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {
const char InspectHelp[] =
    "Usage: mapzip inspect [--defaults FILE] [--json] MAP...\n"
    "Reads each map as the wizard's browse button does and prints what its add list would\n"
    "show: sceneries not in the stock list, \"(!) \" in front of those missing on disk; then\n"
    "those of them that no prop shows, which the game never loads. A texture missing on disk\n"
    "is marked \"(!) \" too. A map with no game folder around it (no scenery-gfx folder\n"
    "beside or above it) gets a warning, and so does a map the game will not load, as a\n"
    "count is over the game's own limit.\n"
    "Control characters in the map's texts are shown escaped (\\n, \\x1b, ...).\n"
    "\n"
    "  --defaults FILE  stock scenery list (default: the program folder's)\n"
    "  --json           one JSON object per map and line: map, description, texture,\n"
    "                   gameFolder, sceneries, unused (the items of sceneries no prop\n"
    "                   shows), and files: for each scenery and the texture {\"name\": as\n"
    "                   the map writes it, \"found\": the file the game loads, relative to\n"
    "                   the game folder, or null}; refused: [{block, count, limit}], the\n"
    "                   counts the game will not load the map with; or map and error\n"
    "  -h, --help       this text\n"
    "\n"
    "Exit status: 0 every map read, 1 some map could not be read, 2 bad usage.\n";

QJsonObject fileObject(const QString &name, const ImageFile &file) {
    return {{QStringLiteral("name"), name},
            {QStringLiteral("found"), file.found() ? QJsonValue(file.relative) : QJsonValue()}};
}
} // namespace

int runInspect(const QStringList &args) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption defaultsOption(QStringLiteral("defaults"), QString(),
                                            QStringLiteral("FILE"));
    parser.addOptions({helpOption, jsonOption, defaultsOption});
    if (!parser.parse(QStringList{QStringLiteral("inspect")} + args)) {
        printErr(QStringLiteral("mapzip inspect: ") + parser.errorText() + QStringLiteral("\n\n") +
                 QLatin1String(InspectHelp));
        return ExitStatus::Usage;
    }
    if (parser.isSet(helpOption)) {
        printOut(QLatin1String(InspectHelp));
        return ExitStatus::Ok;
    }
    const QStringList maps = parser.positionalArguments();
    if (maps.isEmpty()) {
        printErr(QStringLiteral("mapzip inspect: no map given\n\n") + QLatin1String(InspectHelp));
        return ExitStatus::Usage;
    }
    const bool json = parser.isSet(jsonOption);

    WizardState state;
    const DefaultsLoadResult defaults =
        loadDefaultSceneries(defaultsPath(parser.value(defaultsOption)), state.DefaultSceneries);
    if (!defaults.warning.isEmpty())
        printErr(QStringLiteral("mapzip inspect: warning: ") + defaults.warning +
                 QLatin1Char('\n'));

    // Many maps of one game list its image folders once.
    GameFolderCache games;
    int status = ExitStatus::Ok;
    for (const QString &map : maps) {
        // Each map on its own, as in a freshly started window.
        WizardState mapState;
        mapState.DefaultSceneries = state.DefaultSceneries;
        const QString pathBoxText = QFileInfo(map).absoluteFilePath();
        QString path = pathBoxText;
        QStringList addList;
        QString error;
        IntakeDetails details;
        const bool ok = listStuff(mapState, path, pathBoxText, addList, error, &games, &details);
        if (!ok)
            status = ExitStatus::Failed;
        QStringList unused;
        for (const IntakeDetails::Scenery &scenery : std::as_const(details.sceneries)) {
            if (!scenery.used)
                unused << scenery.item;
        }
        if (ok && !details.inGameFolder)
            printErr(QStringLiteral("mapzip inspect: warning: %1: no game folder around the map "
                                    "(no scenery-gfx folder beside or above it), so every image "
                                    "counts as missing\n")
                         .arg(escapeControls(map)));
        if (ok && !details.refused.isEmpty())
            printErr(QStringLiteral("mapzip inspect: warning: %1: %2\n")
                         .arg(escapeControls(map), refusedSentence(details.refused)));

        if (json) {
            QJsonObject object{{QStringLiteral("map"), map}};
            if (ok) {
                QJsonArray files;
                for (const IntakeDetails::Scenery &scenery : std::as_const(details.sceneries))
                    files.append(fileObject(scenery.written, scenery.file));
                if (!mapState.TextureName.isEmpty())
                    files.append(fileObject(mapState.TextureName, details.texture));
                object.insert(QStringLiteral("description"), mapState.MapDescription);
                object.insert(QStringLiteral("texture"), mapState.TextureName);
                object.insert(QStringLiteral("gameFolder"), mapState.SoldatPath);
                object.insert(QStringLiteral("sceneries"), QJsonArray::fromStringList(addList));
                object.insert(QStringLiteral("unused"), QJsonArray::fromStringList(unused));
                object.insert(QStringLiteral("files"), files);
                object.insert(QStringLiteral("refused"), refusedJson(details.refused));
            } else {
                object.insert(QStringLiteral("error"), error);
            }
            printJsonLine(object);
            continue;
        }
        if (!ok) {
            printErr(QStringLiteral("mapzip inspect: ") + escapeControls(error) +
                     QLatin1Char('\n'));
            continue;
        }
        QString text = escapeControls(map) + QLatin1Char('\n');
        text += QStringLiteral("  Description: ") + escapeControls(mapState.MapDescription) +
                QLatin1Char('\n');
        // Marked as the lists mark a scenery the game folder lacks.
        const bool textureMissing = !mapState.TextureName.isEmpty() && !details.texture.found();
        text += QStringLiteral("  Texture:     ") + (textureMissing ? MissingMarker : QString()) +
                escapeControls(mapState.TextureName) + QLatin1Char('\n');
        text += QStringLiteral("  Game folder: ") +
                escapeControls(QDir::toNativeSeparators(mapState.SoldatPath)) + QLatin1Char('\n');
        text += QStringLiteral("  Sceneries to add (%1):\n").arg(addList.size());
        for (const QString &item : std::as_const(addList))
            text += QStringLiteral("    ") + escapeControls(item) + QLatin1Char('\n');
        text += QStringLiteral("  Not used by any prop (%1):\n").arg(unused.size());
        for (const QString &item : std::as_const(unused))
            text += QStringLiteral("    ") + escapeControls(item) + QLatin1Char('\n');
        printOut(text);
    }
    return status;
}
