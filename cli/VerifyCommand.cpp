// mapzip verify: does an archive hold everything its maps need, as the game would look for it?

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Pack.h"

#include "archive/ArchiveReader.h"
#include "intake/DefaultSceneries.h"
#include "intake/FileNames.h"
#include "intake/GameFolder.h"
#include "package/ArchiveCheck.h"
#include "platform/Platform.h"
#include "text/CodePage.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include <filesystem>
#include <memory>
#include <optional>

namespace fs = std::filesystem;

namespace {

const char VerifyHelp[] =
    "Usage: mapzip verify ARCHIVE... [--game DIR] [--defaults FILE] [--password-stdin] [--json]\n"
    "Checks each ZIP or server map archive (.smap), made by mapzip or not: every map in its\n"
    "maps folder must find in the archive what the game loads for it: each scenery that one\n"
    "of its props shows and that is not a stock one, and its texture, the way the game looks\n"
    "them up (name lower-cased, first as .png, then as written; letter case ignored) in\n"
    "scenery-gfx and textures. Its edge texture (textures/edges/<texture>) counts as used\n"
    "when it is there; without one the game takes a default. In a .smap those folder names\n"
    "must be lower case, as the game matches them exactly; in a ZIP any case will do.\n"
    "A missing readme (maps/<map>_ReadMe.txt), entries no map uses (sceneries no prop shows\n"
    "among them), entries whose data is damaged and names that several entries share are\n"
    "reported too. An encrypted archive is checked by its entry names without a password\n"
    "(maps, readmes, unsafe names), and says that its content was not checked. An archive\n"
    "whose sizes lie (an entry that unpacks to more or fewer bytes than it claims, a data\n"
    "descriptor that contradicts the directory), whose entries share data or that unpacks to\n"
    "more than 1 GiB is refused, and so is one the system cannot read (the error is named);\n"
    "one with entry names that would unpack outside the game folder (\"..\", an absolute\n"
    "path, a backslash or a drive letter) is unsafe.\n"
    "A map with a count over the game's own limit (612 props, at most 500) is named: the\n"
    "game will not load it.\n"
    "\n"
    "  --game DIR        the game folder the archive is meant for: its own images count\n"
    "  --defaults FILE   stock scenery list (default: the program folder's)\n"
    "  --password-stdin  decrypt with the password on the first line of standard input\n"
    "                    (at most 4096 bytes) and check the content too\n"
    "  --json            one JSON object per archive and line: archive, status, maps,\n"
    "                    missing [{map, kind, name}], unused, badEntries [{entry, problem}],\n"
    "                    unchecked [entry] (encrypted, no password given), refused [{map,\n"
    "                    block, count, limit}] (the game will not load the map); or archive,\n"
    "                    status, error and (when unsafe) unsafe [entry]\n"
    "  -h, --help        this text\n"
    "\n"
    "Exit status: 0 every archive holds what its maps need (as far as it could be checked); 3\n"
    "something is missing or unreadable, or the game will not load a map; 1 some archive\n"
    "could not be read at all, was refused, is unsafe or does not open with the password\n"
    "given; 2 bad usage.\n";

const QString Prefix = QStringLiteral("mapzip verify: ");

int statusOf(const ArchiveFindings &findings) {
    if (findings.refused())
        return ExitStatus::Failed;
    return findings.complete() ? ExitStatus::Ok : ExitStatus::Incomplete;
}

ArchiveFindings check(const QString &path, ArchiveCheckOptions options) {
    ArchiveFindings findings;
    // Opening a FIFO or device would wait or read forever. What cannot be looked at (a link
    // loop, a folder that may not be entered) is named by the system's reason.
    std::error_code failure;
    const fs::file_status status = fs::status(platform::nativePath(path), failure);
    if (failure && status.type() != fs::file_type::not_found) {
        findings.error = platform::systemText(failure);
        return findings;
    }
    if (status.type() != fs::file_type::regular) {
        findings.error = fs::exists(status) ? QStringLiteral("not a regular file")
                                            : QStringLiteral("no such file");
        return findings;
    }
    const QFileInfo info(path);
    const std::unique_ptr<ArchiveReader> reader = ArchiveReader::create(findings.error);
    if (!reader)
        return findings;
    options.format = formatForPath(path);
    options.serverMapName = info.completeBaseName();
    return checkArchive(*reader, path, options);
}

void printPlain(const QString &archive, const ArchiveFindings &findings) {
    const QString shown = escapeControls(archive);
    if (!findings.error.isEmpty()) {
        printErr(Prefix + shown + QStringLiteral(": ") + findings.error + QLatin1Char('\n'));
        return;
    }
    if (!findings.unsafe.isEmpty()) {
        QString text;
        for (const QString &entry : findings.unsafe)
            text += Prefix + shown + QStringLiteral(": unsafe entry ") + escapeControls(entry) +
                    QStringLiteral(": it would be unpacked outside the game folder\n");
        printErr(text + Prefix + shown + QStringLiteral(": unsafe, not checked further\n"));
        return;
    }
    QString text;
    for (const ArchiveFindings::Missing &missing : findings.missing) {
        text += shown + QStringLiteral(": ");
        if (!missing.map.isEmpty())
            text += escapeControls(missing.map) + QStringLiteral(": ");
        text += QStringLiteral("missing ") + missing.kind + QLatin1Char(' ') +
                escapeControls(missing.name) + QLatin1Char('\n');
    }
    for (const auto &[entry, problem] : findings.badEntries)
        text += shown + QStringLiteral(": ") + escapeControls(entry) + QStringLiteral(": ") +
                escapeControls(problem) + QLatin1Char('\n');
    for (const auto &[map, counts] : findings.refusedByGame)
        text += shown + QStringLiteral(": ") + escapeControls(map) + QStringLiteral(": ") +
                refusedSentence(counts) + QLatin1Char('\n');
    for (const QString &entry : findings.unused)
        text +=
            shown + QStringLiteral(": unused entry ") + escapeControls(entry) + QLatin1Char('\n');
    const QString unchecked =
        findings.unchecked.isEmpty()
            ? QString()
            : QStringLiteral("; content NOT checked: %1 encrypted entr%2 judged by name only "
                             "(give the password with --password-stdin)")
                  .arg(findings.unchecked.size())
                  .arg(findings.unchecked.size() == 1 ? QStringLiteral("y")
                                                      : QStringLiteral("ies"));
    const int problems =
        int(findings.missing.size() + findings.badEntries.size() + findings.refusedByGame.size());
    text += shown +
            (problems == 0 ? QStringLiteral(": ok, %1 map(s)").arg(findings.maps.size())
                           : QStringLiteral(": incomplete, %1 problem(s)").arg(problems)) +
            unchecked + QLatin1Char('\n');
    printOut(text);
}

void printJson(const QString &archive, const ArchiveFindings &findings) {
    QJsonObject object{{QStringLiteral("archive"), archive},
                       {QStringLiteral("status"), statusOf(findings)}};
    if (findings.refused()) {
        object.insert(QStringLiteral("error"),
                      findings.error.isEmpty() ? QStringLiteral("unsafe entries") : findings.error);
        if (!findings.unsafe.isEmpty())
            object.insert(QStringLiteral("unsafe"), QJsonArray::fromStringList(findings.unsafe));
        printJsonLine(object);
        return;
    }
    QJsonArray missing;
    for (const ArchiveFindings::Missing &m : findings.missing)
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
    object.insert(QStringLiteral("unchecked"), QJsonArray::fromStringList(findings.unchecked));
    QJsonArray refused;
    for (const auto &[map, counts] : findings.refusedByGame) {
        for (const QJsonValue &count : refusedJson(counts, map))
            refused.append(count);
    }
    object.insert(QStringLiteral("refused"), refused);
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
    const QCommandLineOption passwordStdinOption(QStringLiteral("password-stdin"));
    parser.addOptions({helpOption, jsonOption, gameOption, defaultsOption, passwordStdinOption});
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

    ArchiveCheckOptions options;
    options.stock = &defaults;
    options.game = game ? &*game : nullptr;
    QString password;
    QString error;
    if (!readPassword(QString(), parser.isSet(passwordStdinOption), password, error)) {
        printErr(Prefix + error + QLatin1Char('\n'));
        return ExitStatus::Failed;
    }
    // The bytes the archive was encrypted with: the game's code page, as mapzip pack uses.
    options.password = toCodePage(password);
    // Entries are read whole, one after another: their buffers come from one pool, reused.
    platform::prepareForLargeBuffers();
    int status = ExitStatus::Ok;
    for (const QString &archive : archives) {
        const ArchiveFindings findings = check(archive, options);
        if (parser.isSet(jsonOption))
            printJson(archive, findings);
        else
            printPlain(archive, findings);
        status = ExitStatus::worse(status, statusOf(findings));
    }
    return status;
}
