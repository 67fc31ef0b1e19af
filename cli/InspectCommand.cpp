// mapzip inspect: what the browse command would show for each map.

#include "cli/Commands.h"

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
#include <QTextStream>

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
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption defaultsOption(QStringLiteral("defaults"), QString(),
                                            QStringLiteral("FILE"));
    parser.addOptions({helpOption, jsonOption, defaultsOption});
    if (!parser.parse(QStringList{QStringLiteral("inspect")} + args)) {
        err << "mapzip inspect: " << parser.errorText() << "\n\n" << InspectHelp;
        return 2;
    }
    if (parser.isSet(helpOption)) {
        out << InspectHelp;
        return 0;
    }
    const QStringList maps = parser.positionalArguments();
    if (maps.isEmpty()) {
        err << "mapzip inspect: no map given\n\n" << InspectHelp;
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
        err << "mapzip inspect: warning: " << defaults.warning << '\n';

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
            out << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
            continue;
        }
        if (!ok) {
            out.flush();
            err << "mapzip inspect: " << error << '\n';
            err.flush();
            continue;
        }
        out << map << '\n'
            << "  Description: " << mapState.MapDescription << '\n'
            << "  Texture:     " << mapState.TextureName << '\n'
            << "  Game folder: " << QDir::toNativeSeparators(mapState.SoldatPath) << '\n'
            << "  Sceneries to add (" << addList.size() << "):\n";
        for (const QString &item : std::as_const(addList))
            out << "    " << item << '\n';
        out.flush();
    }
    return status;
}
