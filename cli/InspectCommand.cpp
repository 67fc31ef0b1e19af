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

struct InspectOptions {
    QStringList maps;
    QString defaults;
    bool json = false;
};

// Reads the command line into `options`; -1 to go on, or the exit status to end with.
int parseInspect(const QStringList &args, InspectOptions &options) {
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
    options.maps = parser.positionalArguments();
    if (options.maps.isEmpty()) {
        printErr(QStringLiteral("mapzip inspect: no map given\n\n") + QLatin1String(InspectHelp));
        return ExitStatus::Usage;
    }
    options.json = parser.isSet(jsonOption);
    options.defaults = parser.value(defaultsOption);
    return -1;
}

// One map as the browse command reads it.
struct InspectedMap {
    QString map; // as given
    bool ok = false;
    QString error;
    WizardState state;
    QStringList addList;
    QStringList unused; // items of the add list no prop shows
    IntakeDetails details;
};

InspectedMap inspectMap(const QString &map, const DefaultSceneryTable &defaults,
                        GameFolderCache &games) {
    // Each map on its own, as in a freshly started window.
    InspectedMap inspected;
    inspected.map = map;
    inspected.state.DefaultSceneries = defaults;
    const QString pathBoxText = QFileInfo(map).absoluteFilePath();
    QString path = pathBoxText;
    inspected.ok = listStuff(inspected.state, path, pathBoxText, inspected.addList, inspected.error,
                             &games, &inspected.details);
    for (const IntakeDetails::Scenery &scenery : std::as_const(inspected.details.sceneries)) {
        if (!scenery.used)
            inspected.unused << scenery.item;
    }
    return inspected;
}

void warnAbout(const InspectedMap &inspected) {
    if (!inspected.ok)
        return;
    if (!inspected.details.inGameFolder)
        printErr(QStringLiteral("mapzip inspect: warning: %1: no game folder around the map "
                                "(no scenery-gfx folder beside or above it), so every image "
                                "counts as missing\n")
                     .arg(escapeControls(inspected.map)));
    if (!inspected.details.refused.isEmpty())
        printErr(
            QStringLiteral("mapzip inspect: warning: %1: %2\n")
                .arg(escapeControls(inspected.map), refusedSentence(inspected.details.refused)));
}

QJsonObject jsonOf(const InspectedMap &inspected) {
    QJsonObject object{{QStringLiteral("map"), inspected.map}};
    if (!inspected.ok) {
        object.insert(QStringLiteral("error"), inspected.error);
        return object;
    }
    const WizardState &state = inspected.state;
    QJsonArray files;
    for (const IntakeDetails::Scenery &scenery : std::as_const(inspected.details.sceneries))
        files.append(fileObject(scenery.written, scenery.file));
    if (!state.TextureName.isEmpty())
        files.append(fileObject(state.TextureName, inspected.details.texture));
    object.insert(QStringLiteral("description"), state.MapDescription);
    object.insert(QStringLiteral("texture"), state.TextureName);
    object.insert(QStringLiteral("gameFolder"), state.SoldatPath);
    object.insert(QStringLiteral("sceneries"), QJsonArray::fromStringList(inspected.addList));
    object.insert(QStringLiteral("unused"), QJsonArray::fromStringList(inspected.unused));
    object.insert(QStringLiteral("files"), files);
    object.insert(QStringLiteral("refused"), refusedJson(inspected.details.refused));
    return object;
}

QString textOf(const InspectedMap &inspected) {
    const WizardState &state = inspected.state;
    QString text = escapeControls(inspected.map) + QLatin1Char('\n');
    text += QStringLiteral("  Description: ") + escapeControls(state.MapDescription) +
            QLatin1Char('\n');
    // Marked as the lists mark a scenery the game folder lacks.
    const bool textureMissing = !state.TextureName.isEmpty() && !inspected.details.texture.found();
    text += QStringLiteral("  Texture:     ") + (textureMissing ? MissingMarker : QString()) +
            escapeControls(state.TextureName) + QLatin1Char('\n');
    text += QStringLiteral("  Game folder: ") +
            escapeControls(QDir::toNativeSeparators(state.SoldatPath)) + QLatin1Char('\n');
    text += QStringLiteral("  Sceneries to add (%1):\n").arg(inspected.addList.size());
    for (const QString &item : std::as_const(inspected.addList))
        text += QStringLiteral("    ") + escapeControls(item) + QLatin1Char('\n');
    text += QStringLiteral("  Not used by any prop (%1):\n").arg(inspected.unused.size());
    for (const QString &item : std::as_const(inspected.unused))
        text += QStringLiteral("    ") + escapeControls(item) + QLatin1Char('\n');
    return text;
}

} // namespace

int runInspect(const QStringList &args) {
    InspectOptions options;
    if (const int status = parseInspect(args, options); status >= 0)
        return status;
    DefaultSceneryTable defaults;
    const DefaultsLoadResult loaded =
        loadDefaultSceneries(defaultsPath(options.defaults), defaults);
    if (!loaded.warning.isEmpty())
        printErr(QStringLiteral("mapzip inspect: warning: ") + loaded.warning + QLatin1Char('\n'));

    // Many maps of one game list its image folders once.
    GameFolderCache games;
    int status = ExitStatus::Ok;
    for (const QString &map : std::as_const(options.maps)) {
        const InspectedMap inspected = inspectMap(map, defaults, games);
        if (!inspected.ok)
            status = ExitStatus::Failed;
        warnAbout(inspected);
        if (options.json)
            printJsonLine(jsonOf(inspected));
        else if (!inspected.ok)
            printErr(QStringLiteral("mapzip inspect: ") + escapeControls(inspected.error) +
                     QLatin1Char('\n'));
        else
            printOut(textOf(inspected));
    }
    return status;
}
