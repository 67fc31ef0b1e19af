// mapzip verify: does an archive hold everything its maps need, as the game would look for it?

#include "cli/Commands.h"
#include "cli/Console.h"

#include "archive/ArchiveReader.h"
#include "intake/DefaultSceneries.h"
#include "intake/FileNames.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"
#include "package/Staging.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <memory>
#include <optional>

namespace {

const char VerifyHelp[] =
    "Usage: mapzip verify ARCHIVE... [--game DIR] [--defaults FILE] [--json]\n"
    "Checks each ZIP or server map archive (.smap), made by mapzip or not: every map in its\n"
    "maps folder must find in the archive each scenery that is not a stock one, and its\n"
    "texture, the way the game looks them up (name lower-cased, first as .png, then as\n"
    "written; letter case ignored) in scenery-gfx and textures. In a .smap those folder\n"
    "names must be lower case, as the game matches them exactly; in a ZIP any case will do.\n"
    "A missing readme (maps/<map>_ReadMe.txt), entries no map uses, and entries that are\n"
    "encrypted or cannot be read are reported too.\n"
    "\n"
    "  --game DIR       the game folder the archive is meant for: its own images count\n"
    "  --defaults FILE  stock scenery list (default: the program folder's)\n"
    "  --json           one JSON object per archive and line: archive, status, maps,\n"
    "                   missing [{map, kind, name}], unused, badEntries [{entry, problem}];\n"
    "                   or archive, status and error\n"
    "  -h, --help       this text\n"
    "\n"
    "Exit status: 0 every archive holds what its maps need; 3 something is missing or\n"
    "unreadable; 1 some archive could not be read at all; 2 bad usage.\n";

const QString Prefix = QStringLiteral("mapzip verify: ");
constexpr qint64 MapSizeLimit = 64 * 1024 * 1024;

struct Missing {
    QString map;  // the map entry, or empty for the archive as a whole
    QString kind; // scenery, texture, readme, map
    QString name; // as the map writes it, or the entry looked for
};

struct Findings {
    QString error; // the archive could not be read
    QStringList maps;
    QList<Missing> missing;
    QStringList unused;
    QList<std::pair<QString, QString>> badEntries; // entry, problem
    int status() const {
        if (!error.isEmpty())
            return ExitStatus::Failed;
        return missing.isEmpty() && badEntries.isEmpty() ? ExitStatus::Ok : ExitStatus::Incomplete;
    }
};

// An image folder of the archive: the entries directly in it, by name.
struct EntryFolder {
    ImageNameIndex names;
    QHash<QString, QString> entries; // stored name -> entry
};

class ArchiveCheck {
public:
    ArchiveCheck(const DefaultSceneryTable &defaults, const GameFolder *game)
        : m_defaults(defaults), m_game(game) {}

    Findings run(const QString &path) {
        Findings findings;
        // Opening a FIFO or device would wait or read forever.
        const QFileInfo info(path);
        if (!info.isFile()) {
            findings.error = info.exists() ? QStringLiteral("not a regular file")
                                           : QStringLiteral("no such file");
            return findings;
        }
        const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(findings.error);
        if (!reader || !reader->open(path, findings.error))
            return findings;
        const bool server = formatForPath(path) == ArchiveFormat::Smap;
        // The game matches a server archive's folder names exactly.
        auto isFolder = [server](const QString &folder, const QString &lower) {
            return server ? folder == lower : folder.compare(lower, Qt::CaseInsensitive) == 0;
        };

        QList<std::pair<QString, QByteArray>> mapData;
        QHash<QString, QString> topFiles; // "folder/name" folded -> entry, for readmes
        QStringList files;
        for (const ArchiveItem &item : reader->items()) {
            if (item.name.endsWith(QLatin1Char('/')))
                continue;
            files << item.name;
            const qsizetype slash = item.name.indexOf(QLatin1Char('/'));
            const bool oneLevel = slash > 0 && item.name.indexOf(QLatin1Char('/'), slash + 1) < 0;
            const QString folder = oneLevel ? item.name.left(slash) : QString();
            const QString name = oneLevel ? item.name.mid(slash + 1) : QString();
            const bool isMap = oneLevel &&
                               folder.compare(QLatin1String("maps"), Qt::CaseInsensitive) == 0 &&
                               name.endsWith(QLatin1String(".pms"), Qt::CaseInsensitive);
            if (item.encrypted) {
                findings.badEntries.append({item.name, QStringLiteral("encrypted")});
                continue;
            }
            // Every entry is read whole, so damaged data shows.
            QByteArray data;
            QString error;
            const bool read = isMap ? reader->readAll(item, data, MapSizeLimit, error)
                                    : reader->read(
                                          item, [](QByteArrayView) { return true; }, error);
            if (!read) {
                findings.badEntries.append({item.name, QStringLiteral("unreadable: ") + error});
                continue;
            }
            if (oneLevel)
                topFiles.insert(item.name.toCaseFolded(), item.name);
            if (isMap) {
                mapData.append({item.name, data});
            } else if (oneLevel && isFolder(folder, QStringLiteral("scenery-gfx"))) {
                m_scenery.names.add(name);
                m_scenery.entries.insert(name, item.name);
            } else if (oneLevel && isFolder(folder, QStringLiteral("textures"))) {
                m_textures.names.add(name);
                m_textures.entries.insert(name, item.name);
            }
        }

        QSet<QString> used;
        for (const auto &[entry, data] : std::as_const(mapData)) {
            findings.maps << entry;
            used.insert(entry);
            checkMap(entry, data, topFiles, findings, used);
        }
        if (mapData.isEmpty() && findings.badEntries.isEmpty())
            findings.missing.append(
                {QString(), QStringLiteral("map"), QStringLiteral("maps/*.pms")});
        if (server) {
            // The server hands the archive out under its name, and the game opens that map.
            const QString expected = QStringLiteral("maps/") + QFileInfo(path).completeBaseName() +
                                     QStringLiteral(".pms");
            if (!files.contains(expected))
                findings.missing.append({QString(), QStringLiteral("map"), expected});
        }
        for (const QString &file : std::as_const(files)) {
            const bool bad = std::any_of(findings.badEntries.cbegin(), findings.badEntries.cend(),
                                         [&](const auto &b) { return b.first == file; });
            if (!used.contains(file) && !bad)
                findings.unused << file;
        }
        return findings;
    }

private:
    void checkMap(const QString &entry, const QByteArray &data,
                  const QHash<QString, QString> &topFiles, Findings &findings,
                  QSet<QString> &used) {
        QBuffer buffer;
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        MapFileContents map;
        QString error;
        if (!readMapFrom(buffer, entry, map, error)) {
            findings.badEntries.append({entry, QStringLiteral("unreadable: ") + error});
            return;
        }
        const qsizetype slash = entry.indexOf(QLatin1Char('/'));
        const QString base = entry.mid(slash + 1).chopped(4);
        const QString readme = entry.left(slash + 1) + base + QStringLiteral("_ReadMe.txt");
        const auto readmeEntry = topFiles.constFind(readme.toCaseFolded());
        if (readmeEntry == topFiles.constEnd())
            findings.missing.append({entry, QStringLiteral("readme"), readme});
        else
            used.insert(*readmeEntry);

        QSet<QString> looked;
        for (const QString &written : std::as_const(map.sceneryNames)) {
            QString name = written;
            if (written.isEmpty() || CheckSc(name, m_defaults) || looked.contains(name))
                continue;
            looked.insert(name);
            if (!find(m_scenery, written, &GameFolder::scenery, used))
                findings.missing.append({entry, QStringLiteral("scenery"), written});
        }
        if (!map.texture.isEmpty() && !find(m_textures, map.texture, &GameFolder::texture, used))
            findings.missing.append({entry, QStringLiteral("texture"), map.texture});
    }

    // The game's lookup over the archive and, where given, the game folder: the first name
    // tried that either holds wins.
    bool find(const EntryFolder &folder, const QString &written,
              ImageFile (GameFolder::*inGame)(const QString &) const, QSet<QString> &used) const {
        if (!isPlainFileName(written))
            return false;
        for (const QString &candidate : gameImageCandidates(written)) {
            const QString stored = folder.names.find(candidate);
            if (!stored.isEmpty()) {
                used.insert(folder.entries.value(stored));
                return true;
            }
            if (m_game && (m_game->*inGame)(candidate).found())
                return true;
        }
        return false;
    }

    const DefaultSceneryTable &m_defaults;
    const GameFolder *m_game;
    EntryFolder m_scenery;
    EntryFolder m_textures;
};

void printPlain(const QString &archive, const Findings &findings) {
    const QString shown = escapeControls(archive);
    if (!findings.error.isEmpty()) {
        printErr(Prefix + shown + QStringLiteral(": ") + findings.error + QLatin1Char('\n'));
        return;
    }
    QString text;
    for (const Missing &missing : findings.missing) {
        text += shown + QStringLiteral(": ");
        if (!missing.map.isEmpty())
            text += escapeControls(missing.map) + QStringLiteral(": ");
        text += QStringLiteral("missing ") + missing.kind + QLatin1Char(' ') +
                escapeControls(missing.name) + QLatin1Char('\n');
    }
    for (const auto &[entry, problem] : findings.badEntries)
        text += shown + QStringLiteral(": ") + escapeControls(entry) + QStringLiteral(": ") +
                escapeControls(problem) + QLatin1Char('\n');
    for (const QString &entry : findings.unused)
        text +=
            shown + QStringLiteral(": unused entry ") + escapeControls(entry) + QLatin1Char('\n');
    const int problems = int(findings.missing.size() + findings.badEntries.size());
    text += shown + (problems == 0 ? QStringLiteral(": ok, %1 map(s)\n").arg(findings.maps.size())
                                   : QStringLiteral(": incomplete, %1 problem(s)\n").arg(problems));
    printOut(text);
}

void printJson(const QString &archive, const Findings &findings) {
    QJsonObject object{{QStringLiteral("archive"), archive},
                       {QStringLiteral("status"), findings.status()}};
    if (!findings.error.isEmpty()) {
        object.insert(QStringLiteral("error"), findings.error);
        printJsonLine(object);
        return;
    }
    QJsonArray missing;
    for (const Missing &m : findings.missing)
        missing.append(
            QJsonObject{{QStringLiteral("map"), m.map.isEmpty() ? QJsonValue() : QJsonValue(m.map)},
                        {QStringLiteral("kind"), m.kind},
                        {QStringLiteral("name"), m.name}});
    QJsonArray bad;
    for (const auto &[entry, problem] : findings.badEntries)
        bad.append(
            QJsonObject{{QStringLiteral("entry"), entry}, {QStringLiteral("problem"), problem}});
    object.insert(QStringLiteral("maps"), QJsonArray::fromStringList(findings.maps));
    object.insert(QStringLiteral("missing"), missing);
    object.insert(QStringLiteral("unused"), QJsonArray::fromStringList(findings.unused));
    object.insert(QStringLiteral("badEntries"), bad);
    printJsonLine(object);
}

} // namespace

int runVerify(const QStringList &args) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption gameOption(QStringLiteral("game"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption defaultsOption(QStringLiteral("defaults"), QString(),
                                            QStringLiteral("FILE"));
    parser.addOptions({helpOption, jsonOption, gameOption, defaultsOption});
    auto usage = [](const QString &problem) {
        printErr(Prefix + problem + QStringLiteral("\n\n") + QLatin1String(VerifyHelp));
        return ExitStatus::Usage;
    };
    if (!parser.parse(QStringList{QStringLiteral("verify")} + args))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        printOut(QLatin1String(VerifyHelp));
        return ExitStatus::Ok;
    }
    const QStringList archives = parser.positionalArguments();
    if (archives.isEmpty())
        return usage(QStringLiteral("no archive given"));
    std::optional<GameFolder> game;
    if (parser.isSet(gameOption)) {
        const QString dir = parser.value(gameOption);
        if (!QFileInfo(dir).isDir())
            return usage(QStringLiteral("the game folder %1 is not a folder").arg(dir));
        game.emplace(QFileInfo(dir).absoluteFilePath());
    }
    DefaultSceneryTable defaults;
    const DefaultsLoadResult loaded =
        loadDefaultSceneries(defaultsPath(parser.value(defaultsOption)), defaults);
    if (!loaded.warning.isEmpty())
        printErr(Prefix + QStringLiteral("warning: ") + loaded.warning + QLatin1Char('\n'));

    int status = ExitStatus::Ok;
    for (const QString &archive : archives) {
        ArchiveCheck check(defaults, game ? &*game : nullptr);
        const Findings findings = check.run(archive);
        if (parser.isSet(jsonOption))
            printJson(archive, findings);
        else
            printPlain(archive, findings);
        status = ExitStatus::worse(status, findings.status());
    }
    return status;
}
