// mapzip inspect: what the browse command would show for each map.

#include "cli/Commands.h"
#include "cli/Console.h"

#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"
#include "intake/WizardState.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const char InspectHelp[] =
    "Usage: mapzip inspect [--defaults FILE] [--json] MAP...\n"
    "Reads each map as the wizard's browse button does and prints what its add list would\n"
    "show: sceneries not in the stock list, \"(!) \" in front of those missing on disk.\n"
    "\n"
    "  --defaults FILE  stock scenery list (default: defaults.txt beside mapzip)\n"
    "  --json           one JSON object per map and line: map, description, texture,\n"
    "                   gameFolder, sceneries; or map and error\n"
    "  -h, --help       this text\n"
    "\n"
    "Exit status: 0 every map read, 1 some map could not be read, 2 bad usage.\n";
}

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
        return 2;
    }
    if (parser.isSet(helpOption)) {
        printOut(QLatin1String(InspectHelp));
        return 0;
    }
    const QStringList maps = parser.positionalArguments();
    if (maps.isEmpty()) {
        printErr(QStringLiteral("mapzip inspect: no map given\n\n") + QLatin1String(InspectHelp));
        return 2;
    }
    const bool json = parser.isSet(jsonOption);

    WizardState state;
    const QString defaultsPath =
        parser.isSet(defaultsOption)
            ? parser.value(defaultsOption)
            : QCoreApplication::applicationDirPath() + QStringLiteral("/defaults.txt");
    const DefaultsLoadResult defaults = loadDefaultSceneries(defaultsPath, state.DefaultSceneries);
    if (!defaults.warning.isEmpty())
        printErr(QStringLiteral("mapzip inspect: warning: ") + defaults.warning +
                 QLatin1Char('\n'));

    int status = 0;
    for (const QString &map : maps) {
        // Each map on its own, as in a freshly started window.
        WizardState mapState;
        mapState.DefaultSceneries = state.DefaultSceneries;
        const QString pathBoxText = QFileInfo(map).absoluteFilePath();
        QString path = pathBoxText;
        QStringList addList;
        QString error;
        const bool ok = listStuff(mapState, path, pathBoxText, addList, error);
        if (!ok)
            status = 1;

        if (json) {
            QJsonObject object{{QStringLiteral("map"), map}};
            if (ok) {
                object.insert(QStringLiteral("description"), mapState.MapDescription);
                object.insert(QStringLiteral("texture"), mapState.TextureName);
                object.insert(QStringLiteral("gameFolder"), mapState.SoldatPath);
                object.insert(QStringLiteral("sceneries"), QJsonArray::fromStringList(addList));
            } else {
                object.insert(QStringLiteral("error"), error);
            }
            printOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                     QLatin1Char('\n'));
            continue;
        }
        if (!ok) {
            printErr(QStringLiteral("mapzip inspect: ") + error + QLatin1Char('\n'));
            continue;
        }
        QString text = map + QLatin1Char('\n');
        text += QStringLiteral("  Description: ") + mapState.MapDescription + QLatin1Char('\n');
        text += QStringLiteral("  Texture:     ") + mapState.TextureName + QLatin1Char('\n');
        text += QStringLiteral("  Game folder: ") + QDir::toNativeSeparators(mapState.SoldatPath) +
                QLatin1Char('\n');
        text += QStringLiteral("  Sceneries to add (%1):\n").arg(addList.size());
        for (const QString &item : std::as_const(addList))
            text += QStringLiteral("    ") + item + QLatin1Char('\n');
        printOut(text);
    }
    return status;
}
