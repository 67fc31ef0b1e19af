// mapzip pack: the "Make ZIP" build of the window, driven from the command line.

#include "cli/Commands.h"
#include "cli/Console.h"

#include "archive/ZipBinding.h"
#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"
#include "package/BuildCommand.h"
#include "package/Readme.h"
#include "package/Staging.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace {

const char *const Usage =
    "usage: mapzip pack MAP -o OUT.zip [--exclude NAME]... [--no-texture] [--level 0-9]\n"
    "                   [--comment TEXT] [--password-file FILE | --password-stdin]\n"
    "                   [--junk-paths] [--no-recurse] [--update] [--freshen]\n"
    "                   [--defaults FILE] [--staging DIR]\n";

const char *const Help =
    "\n"
    "Packs the map MAP with the sceneries it uses, its texture and a generated readme into\n"
    "the archive OUT.zip, as the wizard's \"Make ZIP\" does.\n"
    "\n"
    "  -o, --output OUT.zip   the archive to write (replaced when it exists)\n"
    "  --exclude NAME         leave the scenery NAME out (as listed by 'mapzip inspect',\n"
    "                         with or without the \"(!) \" marker); may be repeated\n"
    "  --no-texture           leave the map's texture out\n"
    "  --level N              compression level 0 (fastest) to 9 (smallest, the default)\n"
    "  --comment TEXT         the author's notes, for the readme and the archive comment\n"
    "  --password-file FILE   encrypt with the password on the first line of FILE\n"
    "  --password-stdin       encrypt with the password on the first line of standard input\n"
    "  --junk-paths           store the files without their folder names\n"
    "  --no-recurse           pack only the files directly in the staging folder\n"
    "  --update               only files newer than in the staged archive\n"
    "  --freshen              only files the staged archive already holds\n"
    "  --defaults FILE        the stock scenery list (default: defaults.txt beside mapzip)\n"
    "  --staging DIR          stage in DIR/TEMP and leave the staged files there, where a\n"
    "                         later --update or --freshen run of the same map finds its\n"
    "                         staged archive; by default a private temporary folder is\n"
    "                         used and removed afterwards\n"
    "\n"
    "Exit status: 0 when the archive is at OUT.zip, 1 when the build failed, 2 on bad usage.\n";

int usageError(const QString &problem) {
    printErr(QStringLiteral("mapzip pack: ") + problem + QLatin1Char('\n'));
    std::fputs(Usage, stderr);
    return 2;
}

// The first line of `bytes`, without its line end.
QString firstLine(const QByteArray &bytes) {
    QByteArray line = bytes;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0)
        line.truncate(end);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromLocal8Bit(line);
}

struct PackOptions {
    QString map;
    QString output;
    QStringList excludes;
    bool noTexture = false;
    QString level = QStringLiteral("9");
    std::optional<QString> comment;
    QString passwordFile;
    bool passwordStdin = false;
    bool junkPaths = false;
    bool noRecurse = false;
    bool update = false;
    bool freshen = false;
    QString defaults;
    QString staging;
    bool help = false;
};

// Parses the arguments; returns an empty string or the problem for the usage message.
QString parse(const QStringList &args, PackOptions &options) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QString(), QStringLiteral("OUT.zip"));
    const QCommandLineOption exclude(QStringLiteral("exclude"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption noTexture(QStringLiteral("no-texture"));
    const QCommandLineOption level(QStringLiteral("level"), QString(), QStringLiteral("N"));
    const QCommandLineOption comment(QStringLiteral("comment"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), QString(),
                                          QStringLiteral("FILE"));
    const QCommandLineOption passwordStdin(QStringLiteral("password-stdin"));
    const QCommandLineOption junkPaths(QStringLiteral("junk-paths"));
    const QCommandLineOption noRecurse(QStringLiteral("no-recurse"));
    const QCommandLineOption update(QStringLiteral("update"));
    const QCommandLineOption freshen(QStringLiteral("freshen"));
    const QCommandLineOption defaults(QStringLiteral("defaults"), QString(),
                                      QStringLiteral("FILE"));
    const QCommandLineOption staging(QStringLiteral("staging"), QString(), QStringLiteral("DIR"));
    parser.addOptions({help, output, exclude, noTexture, level, comment, passwordFile,
                       passwordStdin, junkPaths, noRecurse, update, freshen, defaults, staging});
    if (!parser.parse(QStringList{QStringLiteral("pack")} + args))
        return parser.errorText();

    options.help = parser.isSet(help);
    if (options.help)
        return {};
    const QStringList maps = parser.positionalArguments();
    if (maps.size() > 1)
        return QStringLiteral("more than one map given (%1)").arg(maps.at(1));
    options.map = maps.value(0);
    options.output = parser.value(output);
    options.excludes = parser.values(exclude);
    options.noTexture = parser.isSet(noTexture);
    if (parser.isSet(level)) {
        options.level = parser.value(level);
        if (options.level.size() != 1 || options.level.at(0) < u'0' || options.level.at(0) > u'9')
            return QStringLiteral("--level needs a digit from 0 to 9");
    }
    if (parser.isSet(comment))
        options.comment = parser.value(comment);
    options.passwordFile = parser.value(passwordFile);
    options.passwordStdin = parser.isSet(passwordStdin);
    options.junkPaths = parser.isSet(junkPaths);
    options.noRecurse = parser.isSet(noRecurse);
    options.update = parser.isSet(update);
    options.freshen = parser.isSet(freshen);
    options.defaults = parser.value(defaults);
    options.staging = parser.value(staging);

    if (options.map.isEmpty())
        return QStringLiteral("no map given");
    if (options.output.isEmpty())
        return QStringLiteral("no archive given (-o OUT.zip)");
    if (QFileInfo(options.output).fileName().isEmpty())
        return QStringLiteral("the archive path %1 names no file").arg(options.output);
    if (parser.isSet(passwordFile) && options.passwordStdin)
        return QStringLiteral("--password-file and --password-stdin exclude each other");
    return {};
}

// The window's part in a build, played by the console: messages go to the terminal, the
// save dialog is answered with the archive path given on the command line.
class ConsoleBuildHost : public BuildHost {
public:
    ConsoleBuildHost(const WizardState &state, BuildInputs inputs, QString savePath)
        : m_state(state), m_inputs(std::move(inputs)), m_savePath(std::move(savePath)) {}

    void showMessage(const QString &text, const QString &title, MessageIcon icon) override {
        QString line = text;
        line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        const QString message = title + QStringLiteral(": ") + line + QLatin1Char('\n');
        if (icon == MessageIcon::Information)
            printOut(message);
        else
            printErr(message);
    }
    void clearOutput() override {}
    void appendOutput(const QString &text) override { printOut(text); }
    void processPendingEvents() override {}
    QString passwordText() const override { return m_inputs.password; }
    QString commentText() const override { return m_inputs.comment; }
    QString readmeText() const override { return GetNFO(m_state); }

    BuildInputs buildInputs() const override { return m_inputs; }
    void setBuildButton(bool, const QString &) override {}
    FileChoice PromptSaveFile(DialogRecord &) override {
        const QFileInfo target(m_savePath);
        FileChoice choice;
        choice.Cancelled = false;
        choice.NameCount = 1;
        choice.FileNames = {target.fileName()};
        choice.Folder = target.absolutePath() + QLatin1Char('/');
        return choice;
    }

private:
    const WizardState &m_state;
    BuildInputs m_inputs;
    QString m_savePath;
};

// Moves the excluded names from the add list to the exclude list. A name matches an item as
// listed (marker included) or the item's bare name.
void applyExcludes(const QStringList &excludes, QStringList &addList, QStringList &excludeList) {
    for (const QString &name : excludes) {
        bool found = false;
        for (qsizetype i = 0; i < addList.size();) {
            const QString &item = addList.at(i);
            const QString bare =
                item.startsWith(MissingMarker) ? item.mid(MissingMarker.size()) : item;
            if (item == name || bare == name) {
                excludeList << item;
                addList.removeAt(i);
                found = true;
            } else {
                ++i;
            }
        }
        if (!found)
            printErr(
                QStringLiteral("mapzip pack: warning: no scenery %1 on the add list\n").arg(name));
    }
}

} // namespace

int runPack(const QStringList &args) {
    PackOptions options;
    const QString problem = parse(args, options);
    if (!problem.isEmpty())
        return usageError(problem);
    if (options.help) {
        std::fputs(Usage, stdout);
        std::fputs(Help, stdout);
        return 0;
    }

    BuildInputs inputs;
    if (!options.passwordFile.isEmpty() || options.passwordStdin) {
        QByteArray bytes;
        if (options.passwordStdin) {
            QFile in;
            if (in.open(stdin, QIODevice::ReadOnly))
                bytes = in.readLine();
        } else {
            QFile file(options.passwordFile);
            if (!file.open(QIODevice::ReadOnly)) {
                printErr(QStringLiteral("mapzip pack: cannot read the password file %1: %2\n")
                             .arg(options.passwordFile, file.errorString()));
                return 1;
            }
            bytes = file.readAll();
        }
        inputs.password = firstLine(bytes);
        if (inputs.password.isEmpty()) {
            printErr(QStringLiteral("mapzip pack: the password is empty\n"));
            return 1;
        }
        inputs.password2 = inputs.password;
        inputs.chkPass = 1;
        inputs.zip.chkPass = 1;
    }

    WizardState state;
    const QString defaultsPath =
        options.defaults.isEmpty()
            ? QCoreApplication::applicationDirPath() + QStringLiteral("/defaults.txt")
            : options.defaults;
    const DefaultsLoadResult defaults = loadDefaultSceneries(defaultsPath, state.DefaultSceneries);
    if (!defaults.warning.isEmpty())
        printErr(QStringLiteral("mapzip pack: warning: ") + defaults.warning + QLatin1Char('\n'));

    inputs.pathText = QFileInfo(options.map).absoluteFilePath();
    QString filepath = inputs.pathText;
    QString error;
    if (!listStuff(state, filepath, inputs.pathText, inputs.addList, error)) {
        printErr(QStringLiteral("mapzip pack: ") + error + QLatin1Char('\n'));
        return 1;
    }
    applyExcludes(options.excludes, inputs.addList, inputs.excludeList);

    inputs.chkTexture = options.noTexture ? 0 : 1;
    if (options.comment) {
        inputs.comment = *options.comment;
        inputs.zip.chkComment = 1;
    }
    inputs.zip.compressionLevel = options.level;
    inputs.zip.chkJunk = options.junkPaths ? 1 : 0;
    inputs.zip.chkRecurse = options.noRecurse ? 0 : 1;
    inputs.zip.chkUpdate = options.update ? 1 : 0;
    inputs.zip.chkFreshen = options.freshen ? 1 : 0;

    // Each run stages in a folder of its own unless told where, so two runs never meet.
    std::optional<QTemporaryDir> privateFolder;
    QString programFolder;
    if (options.staging.isEmpty()) {
        privateFolder.emplace(QDir::tempPath() + QStringLiteral("/mapzip-pack-XXXXXX"));
        if (!privateFolder->isValid()) {
            printErr(QStringLiteral("mapzip pack: cannot create a temporary staging folder: %1\n")
                         .arg(privateFolder->errorString()));
            return 1;
        }
        programFolder = privateFolder->path();
    } else {
        programFolder = QFileInfo(options.staging).absoluteFilePath();
    }

    const QString output = QFileInfo(options.output).absoluteFilePath();
    ConsoleBuildHost host(state, inputs, output);
    ZipRequest request;
    ZipBinding binding(QCoreApplication::applicationDirPath());
    DialogRecord dialog;
    BuildContext context{programFolder, request, binding, dialog};
    const BuildResult result = cmdGO_Click(state, host, context);
    if (result.outcome == BuildOutcome::PackedWithMissing)
        return 3;
    return result.outcome == BuildOutcome::Succeeded ? 0 : 1;
}
