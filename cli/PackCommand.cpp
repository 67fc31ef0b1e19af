// mapzip pack: the "Make ZIP" build of the window, driven from the command line.

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Pack.h"

#include "archive/ProgramFolder.h"
#include "archive/ReadBack.h"
#include "archive/ZipBinding.h"
#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"
#include "package/BuildCommand.h"
#include "package/Delivery.h"
#include "package/Readme.h"
#include "package/Staging.h"
#include "platform/Platform.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <future>
#include <optional>

namespace {

const char *const Usage =
    "usage: mapzip pack MAP -o OUT.zip|OUT.smap [OPTIONS]\n"
    "       mapzip pack MAP... -d OUTDIR [--format zip|smap] [-j N] [OPTIONS]\n";

const char *const Help =
    "\n"
    "Packs the map MAP with the sceneries it lists, its texture with the texture's edge\n"
    "texture and a generated readme into an archive, as the wizard's \"Make ZIP\" does. A ZIP\n"
    "holds the folders maps, scenery-gfx and textures named as the game folder names them\n"
    "(Maps, Scenery-gfx and Textures where it has none), to unpack into it; a server map\n"
    "archive (.smap) holds maps, scenery-gfx and textures, as the game's server hands it out.\n"
    "\n"
    "  -o, --output OUT       the archive to write: a name ending in .zip, or in .smap for a\n"
    "                         server map archive (another extension is refused). A file\n"
    "                         there is replaced; a folder, symbolic link, device, FIFO or\n"
    "                         socket there is refused, and so is a file the archive is made\n"
    "                         from\n"
    "  -d, --output-dir DIR   pack every MAP given into DIR/<map name>.zip (or .smap),\n"
    "                         several at a time; one summary line per map\n"
    "  --format zip|smap      the kind of archive; with -o it must match the name\n"
    "  -j, --jobs N           with -d: maps packed at once (default: one per processor)\n"
    "  --exclude NAME         leave the scenery NAME out (as listed by 'mapzip inspect',\n"
    "                         with or without the \"(!) \" marker); may be repeated\n"
    "  --no-texture           leave the map's texture out\n"
    "  --level N              compression level 0 (fastest) to 9 (smallest, the default)\n"
    "  --comment TEXT         the author's notes, for the readme and the archive comment\n"
    "  --password-file FILE   encrypt with the password on the first line of FILE (a file\n"
    "                         of at most 4096 bytes)\n"
    "  --password-stdin       encrypt with the password on the first line of standard input\n"
    "                         (at most 4096 bytes)\n"
    "                         (server map archives cannot have a password)\n"
    "  --junk-paths           store the files without their folder names\n"
    "  --no-recurse           pack only the files directly in the staging folder\n"
    "  --update               only files newer than in the staged archive\n"
    "  --freshen              only files the staged archive already holds\n"
    "  --defaults FILE        the stock scenery list (default: the program folder's)\n"
    "  --staging DIR          stage in DIR/TEMP and leave the staged files there, where a\n"
    "                         later --update or --freshen run of the same map finds its\n"
    "                         staged archive; one run at a time holds DIR (another waits\n"
    "                         5 seconds, then gives up). By default a private temporary\n"
    "                         folder is used and removed afterwards\n"
    "  -q, --quiet            print only the sha1 line, notes, warnings and errors\n"
    "  -h, --help             this text\n"
    "\n"
    "Standard output ends with the line 'sha1 HEX  OUT' for the archive written (for a\n"
    ".smap the checksum the game's server announces). Files the game loads for the map\n"
    "(its texture and edge texture, and the sceneries its props show) that the game folder\n"
    "lacks are named on standard error, one 'mapzip pack: left out: ENTRY: REASON' line\n"
    "each; a file that cannot be read, or a full disk, fails the run. A listed scenery that\n"
    "no prop shows is never loaded: when the game folder lacks it, it gets a line\n"
    "'mapzip pack: skipped, not used by the map: ENTRY: REASON' instead. A map with a count\n"
    "over the game's own limit, which the game will not load, is packed and named so\n"
    "('mapzip pack: the game will not load this map: 612 props (at most 500)'). With -d,\n"
    "each map gets a line 'ok|incomplete|failed|stopped MAP [-> OUT sha1 HEX]' on standard\n"
    "output, and the messages of its build on standard error.\n"
    "\n"
    "Exit status: 0 the archive holds everything the game loads for the map; 3 the archive\n"
    "was written, but such files were left out or the game will not load the map; 1 nothing\n"
    "was written; 2 bad usage; 130, 143, 129 or 141 stopped by an interrupt, termination,\n"
    "hang-up or a closed output pipe (nothing is left behind; a stop that comes once the\n"
    "archive is in place is too late, and the run ends as it would have). With -d the worst\n"
    "status of all maps (1 over 3 over 0).\n";

const QString Prefix = QStringLiteral("mapzip pack: ");

int usageError(const QString &problem) {
    printErr(Prefix + problem + QLatin1Char('\n'));
    printErr(QLatin1String(Usage));
    return ExitStatus::Usage;
}

// A password is a line, not a file: reading stops here.
constexpr qint64 MaxPasswordBytes = 4096;

// The first line of `bytes`, without its line end.
QByteArray firstLine(const QByteArray &bytes) {
    QByteArray line = bytes;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0)
        line.truncate(end);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

// A count option's value: a whole number from 1 up.
std::optional<int> countValue(const QString &text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1)
        return std::nullopt;
    return value;
}

// Parses the arguments; returns an empty string or the problem for the usage message.
QString parse(const QStringList &args, PackOptions &options, bool &help) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    auto valued = [](const QStringList &names, const char *value) {
        return QCommandLineOption(names, QString(), QLatin1String(value));
    };
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption output =
        valued({QStringLiteral("o"), QStringLiteral("output")}, "OUT");
    const QCommandLineOption outputDir =
        valued({QStringLiteral("d"), QStringLiteral("output-dir")}, "DIR");
    const QCommandLineOption format = valued({QStringLiteral("format")}, "FORMAT");
    const QCommandLineOption jobs = valued({QStringLiteral("j"), QStringLiteral("jobs")}, "N");
    const QCommandLineOption exclude = valued({QStringLiteral("exclude")}, "NAME");
    const QCommandLineOption noTexture(QStringLiteral("no-texture"));
    const QCommandLineOption level = valued({QStringLiteral("level")}, "N");
    const QCommandLineOption comment = valued({QStringLiteral("comment")}, "TEXT");
    const QCommandLineOption passwordFile = valued({QStringLiteral("password-file")}, "FILE");
    const QCommandLineOption passwordStdin(QStringLiteral("password-stdin"));
    const QCommandLineOption junkPaths(QStringLiteral("junk-paths"));
    const QCommandLineOption noRecurse(QStringLiteral("no-recurse"));
    const QCommandLineOption update(QStringLiteral("update"));
    const QCommandLineOption freshen(QStringLiteral("freshen"));
    const QCommandLineOption defaults = valued({QStringLiteral("defaults")}, "FILE");
    const QCommandLineOption staging = valued({QStringLiteral("staging")}, "DIR");
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    // Not for users: a batch gives each of its builds a share of the processors.
    const QCommandLineOption engineThreads = valued({QStringLiteral("engine-threads")}, "N");
    parser.addOptions({helpOption, output, outputDir, format, jobs, exclude, noTexture, level,
                       comment, passwordFile, passwordStdin, junkPaths, noRecurse, update, freshen,
                       defaults, staging, quiet, engineThreads});
    if (!parser.parse(QStringList{QStringLiteral("pack")} + args))
        return parser.errorText();

    help = parser.isSet(helpOption);
    if (help)
        return {};
    options.maps = parser.positionalArguments();
    options.output = parser.value(output);
    options.outputDir = parser.value(outputDir);
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
    options.quiet = parser.isSet(quiet);
    if (parser.isSet(jobs)) {
        const std::optional<int> count = countValue(parser.value(jobs));
        if (!count)
            return QStringLiteral("-j needs a whole number from 1 up");
        options.jobs = *count;
    }
    if (parser.isSet(engineThreads)) {
        const std::optional<int> count = countValue(parser.value(engineThreads));
        if (!count)
            return QStringLiteral("--engine-threads needs a whole number from 1 up");
        options.engineThreads = *count;
    }

    if (options.maps.isEmpty())
        return QStringLiteral("no map given");
    if (parser.isSet(output) && parser.isSet(outputDir))
        return QStringLiteral("-o and -d exclude each other");
    if (parser.isSet(passwordFile) && options.passwordStdin)
        return QStringLiteral("--password-file and --password-stdin exclude each other");
    if (parser.isSet(format)) {
        const QString kind = parser.value(format);
        if (kind != QLatin1String("zip") && kind != QLatin1String("smap"))
            return QStringLiteral("--format needs zip or smap");
        options.smap = kind == QLatin1String("smap");
    }

    if (parser.isSet(outputDir)) {
        if (options.outputDir.isEmpty())
            return QStringLiteral("-d needs a folder");
        if (!options.staging.isEmpty() && options.jobs != 1)
            return QStringLiteral("--staging holds one build at a time: use it with -j 1");
        return {};
    }
    if (parser.isSet(jobs))
        return QStringLiteral("-j needs -d OUTDIR");
    if (options.maps.size() > 1)
        return QStringLiteral("more than one map given (%1); use -d OUTDIR for several")
            .arg(options.maps.at(1));
    if (options.output.isEmpty())
        return QStringLiteral("no archive given (-o OUT.zip)");
    if (QFileInfo(options.output).fileName().isEmpty())
        return QStringLiteral("the archive path %1 names no file").arg(options.output);
    // Any other extension would name a ZIP archive as something it is not.
    const QString extension = QFileInfo(options.output).suffix();
    if (!extension.isEmpty() && extension.compare(QLatin1String("zip"), Qt::CaseInsensitive) &&
        extension.compare(QLatin1String("smap"), Qt::CaseInsensitive))
        return QStringLiteral("the archive %1 must end in .zip or .smap, not .%2")
            .arg(options.output, extension);
    const bool smapName = formatForPath(options.output) == ArchiveFormat::Smap;
    if (parser.isSet(format) && options.smap != smapName)
        return QStringLiteral("--format %1 does not match the archive name %2")
            .arg(parser.value(format), options.output);
    options.smap = smapName;
    return {};
}

// The window's part in a build, played by the console: the save dialog is answered with the
// archive path given on the command line, and an interrupt is the user's request to stop.
class ConsoleBuildHost : public BuildHost {
public:
    ConsoleBuildHost(const WizardState &state, BuildInputs inputs, QString savePath, bool quiet)
        : m_state(state), m_inputs(std::move(inputs)), m_savePath(std::move(savePath)),
          m_quiet(quiet) {}

    void showMessage(const QString &text, const QString &title, MessageIcon icon) override {
        print(title, text, icon);
    }
    // The build's end in mapzip's own words; left-out files get a line each (report()).
    void showBuildMessage(const BuildMessage &message) override {
        if (!message.commandLineText.isEmpty())
            print(message.title, message.commandLineText, message.icon);
    }
    void clearOutput() override {}
    void appendOutput(const QString &text) override {
        m_output += text;
        if (!m_quiet)
            printOut(text);
    }
    void processPendingEvents() override {}
    bool stopRequested() const override { return platform::caughtInterrupt() != 0; }
    QString passwordText() const override { return m_inputs.password; }
    QString commentText() const override { return m_inputs.comment; }
    QString readmeText() const override { return GetNFO(m_state); }

    BuildInputs buildInputs() const override { return m_inputs; }
    void setBuildButton(bool, const QString &) override {}
    // There is nobody to show new lists to: the map is packed as it is.
    bool packChangedMap() const override { return true; }
    FileChoice PromptSaveFile(DialogRecord &) override {
        const QFileInfo target(m_savePath);
        FileChoice choice;
        choice.Cancelled = false;
        choice.NameCount = 1;
        choice.FileNames = {target.fileName()};
        choice.Folder = target.absolutePath() + QLatin1Char('/');
        return choice;
    }

    // Prints what the build left to say: left-out files, notes.
    void report(const BuildResult &result) {
        // Only an archive that was written lacks anything.
        if (result.delivered()) {
            if (!result.refused.isEmpty())
                printErr(Prefix + result.refused + QLatin1Char('\n'));
            for (const LeftOutFile &file : result.leftOut)
                printErr(Prefix + QStringLiteral("left out: ") + escapeControls(file.entry) +
                         QStringLiteral(": ") + file.reason + QLatin1Char('\n'));
            for (const LeftOutFile &file : result.notUsed)
                printErr(Prefix + QStringLiteral("skipped, not used by the map: ") +
                         escapeControls(file.entry) + QStringLiteral(": ") + file.reason +
                         QLatin1Char('\n'));
        }
        // The build writes its notes to the text output too: then they are printed already.
        for (const QString &note : result.notes) {
            if (m_quiet)
                printErr(Prefix + QStringLiteral("note: ") + note + QLatin1Char('\n'));
            else if (!m_output.contains(note))
                printOut(note + QLatin1Char('\n'));
        }
    }

private:
    // Information goes to standard output (not with -q), the rest to standard error.
    void print(const QString &title, const QString &text, MessageIcon icon) const {
        QString line = title.isEmpty() ? text : title + QStringLiteral(": ") + text;
        line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        if (icon != MessageIcon::Information)
            printErr(Prefix + line + QLatin1Char('\n'));
        else if (!m_quiet)
            printOut(line + QLatin1Char('\n'));
    }

    const WizardState &m_state;
    BuildInputs m_inputs;
    QString m_savePath;
    bool m_quiet;
    QString m_output;
};

// The author's notes as the window's comment box gives them: CR LF line ends.
QString windowsLineEnds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

// The settings page as the command line sets it.
void setSwitches(const PackOptions &options, const QString &password, BuildInputs &inputs) {
    if (!password.isEmpty()) {
        inputs.password = password;
        inputs.password2 = password;
        inputs.chkPass = 1;
        inputs.zip.chkPass = 1;
    }
    inputs.chkTexture = options.noTexture ? 0 : 1;
    if (options.comment) {
        inputs.comment = windowsLineEnds(*options.comment);
        inputs.zip.chkComment = 1;
    }
    inputs.zip.compressionLevel = options.level;
    inputs.zip.chkJunk = options.junkPaths ? 1 : 0;
    inputs.zip.chkRecurse = options.noRecurse ? 0 : 1;
    inputs.zip.chkUpdate = options.update ? 1 : 0;
    inputs.zip.chkFreshen = options.freshen ? 1 : 0;
    inputs.zip.threads = options.engineThreads;
}

// A named staging folder is held for the run, so two runs never mix their files; by default
// each run stages in a private folder of its own. False, the cause printed, when neither can be.
bool holdStagingFolder(const PackOptions &options, StagingLock &lock,
                       std::optional<PrivateStagingFolder> &privateFolder, QString &folder) {
    if (!options.staging.isEmpty()) {
        folder = QFileInfo(options.staging).absoluteFilePath();
        QString error;
        if (!lock.lock(folder, 5000, error) || !checkStagingTree(folder, error)) {
            printErr(Prefix + error + QLatin1Char('\n'));
            return false;
        }
        return true;
    }
    PrivateStagingFolder::removeAbandoned();
    privateFolder.emplace(PackStagingPrefix);
    if (!privateFolder->isValid()) {
        printErr(Prefix + QStringLiteral("cannot create a temporary staging folder: %1\n")
                              .arg(privateFolder->errorString()));
        return false;
    }
    folder = privateFolder->path();
    return true;
}

// Whether `path` lies in `folder` or below it, by its name or its real place.
bool liesIn(const QString &path, const QString &folder) {
    const QString parent = QFileInfo(path).absolutePath();
    for (const QString &in : {QDir::cleanPath(parent), QFileInfo(parent).canonicalFilePath()}) {
        for (const QString &base :
             {QDir::cleanPath(folder), QFileInfo(folder).canonicalFilePath()}) {
            if (!in.isEmpty() && !base.isEmpty() &&
                (in == base || in.startsWith(base + QLatin1Char('/'))))
                return true;
        }
    }
    return false;
}

// Whether the archive may be saved at `output`. The build checks it against the map and its
// images; the option files count too, and with --staging the build's own files: the staging
// tree, which every build empties, and the lock that this run holds.
bool targetIsFree(const PackOptions &options, const QString &output, const StagingLock &lock,
                  QString &error) {
    QStringList optionFiles{defaultsPath(options.defaults)};
    if (!options.passwordFile.isEmpty())
        optionFiles << options.passwordFile;
    if (!checkDeliveryTarget(output, optionFiles, error))
        return false;
    if (options.staging.isEmpty())
        return true;
    const QString tree = QFileInfo(options.staging).absoluteFilePath() + QStringLiteral("/TEMP");
    if (liesIn(output, tree)) {
        error = QStringLiteral("lies in the staging folder %1, which every build empties")
                    .arg(QDir::toNativeSeparators(tree));
        return false;
    }
    const QString held = QFileInfo(lock.fileName()).canonicalFilePath();
    if (!held.isEmpty() && QFileInfo(output).canonicalFilePath() == held) {
        error = QStringLiteral("is the staging folder's lock file");
        return false;
    }
    return true;
}

int interruptedStatus() {
    const int signal = platform::caughtInterrupt();
    return signal != 0 ? ExitStatus::interrupted(signal) : -1;
}

} // namespace

bool readPassword(const QString &passwordFile, bool fromStdin, QString &password, QString &error) {
    password.clear();
    if (passwordFile.isEmpty() && !fromStdin)
        return true;
    QByteArray bytes;
    if (fromStdin) {
        QFile in;
        if (in.open(stdin, QIODevice::ReadOnly))
            bytes = in.readLine(MaxPasswordBytes + 3); // the password, CR and LF
    } else {
        // A FIFO or device could be read without end.
        QFile file;
        QString why;
        if (!platform::openRegularFile(passwordFile, file, why)) {
            error = QStringLiteral("cannot read the password file %1: %2").arg(passwordFile, why);
            return false;
        }
        bytes = file.read(MaxPasswordBytes + 1);
        if (bytes.size() > MaxPasswordBytes) {
            error = QStringLiteral("the password file %1 is larger than %2 bytes")
                        .arg(passwordFile)
                        .arg(MaxPasswordBytes);
            return false;
        }
    }
    const QByteArray line = firstLine(bytes);
    if (line.size() > MaxPasswordBytes) {
        error = QStringLiteral("the password is longer than %1 bytes").arg(MaxPasswordBytes);
        return false;
    }
    password = QString::fromLocal8Bit(line);
    if (password.isEmpty()) {
        error = QStringLiteral("the password is empty");
        return false;
    }
    return true;
}

int packOne(const PackOptions &options, const QString &password) {
    BuildInputs inputs;
    WizardState state;
    const DefaultsLoadResult defaults =
        loadDefaultSceneries(defaultsPath(options.defaults), state.DefaultSceneries);
    if (!defaults.warning.isEmpty())
        printErr(Prefix + QStringLiteral("warning: ") + defaults.warning + QLatin1Char('\n'));

    inputs.pathText = QFileInfo(options.maps.constFirst()).absoluteFilePath();
    QString filepath = inputs.pathText;
    QString error;
    if (!listStuff(state, filepath, inputs.pathText, inputs.addList, error)) {
        printErr(Prefix + escapeControls(error) + QLatin1Char('\n'));
        return ExitStatus::Failed;
    }
    for (const QString &name : applyExcludes(options.excludes, inputs.addList, inputs.excludeList))
        printErr(
            Prefix +
            QStringLiteral("warning: no scenery %1 on the add list\n").arg(escapeControls(name)));

    setSwitches(options, password, inputs);

    StagingLock lock;
    std::optional<PrivateStagingFolder> privateFolder;
    QString stagingFolder;
    if (!holdStagingFolder(options, lock, privateFolder, stagingFolder))
        return ExitStatus::Failed;
    if (const int status = interruptedStatus(); status >= 0)
        return status;

    const QString output = QFileInfo(options.output).absoluteFilePath();
    if (!targetIsFree(options, output, lock, error)) {
        printErr(Prefix + QStringLiteral("nothing was built: the archive cannot be saved to %1, "
                                         "as it %2\n")
                              .arg(escapeControls(options.output), error));
        return ExitStatus::Failed;
    }
    ConsoleBuildHost host(state, inputs, output, options.quiet);
    ZipRequest request;
    ZipBinding binding(programFolder());
    DialogRecord dialog;
    BuildContext context{stagingFolder, request, binding, dialog};
    const BuildResult result = cmdGO_Click(state, host, context);
    // Once the archive is in place the run reports it, whatever signal came meanwhile.
    if (result.delivered())
        platform::ignoreInterrupts();
    host.report(result);
    if (result.delivered())
        printOut(QStringLiteral("sha1 %1  %2\n")
                     .arg(QString::fromLatin1(result.sha1.toHex()), options.output));
    else if (const int status = interruptedStatus(); status >= 0)
        return status;
    return exitStatusOf(result.end);
}

int runPack(const QStringList &args) {
    PackOptions options;
    bool help = false;
    const QString problem = parse(args, options, help);
    if (!problem.isEmpty())
        return usageError(problem);
    if (help) {
        printOut(QLatin1String(Usage) + QLatin1String(Help));
        return ExitStatus::Ok;
    }

    platform::prepareForLargeBuffers();
    // The read-back library, and with it libzip and OpenSSL, which the engine needs too, loads
    // while the password is read and the map read and staged; the build waits for it.
    const std::future<void> preloaded = std::async(std::launch::async, [] {
        QString unused; // a build that cannot use it says so itself
        loadReadBackLibrary(unused);
    });
    QString password;
    QString error;
    if (!readPassword(options.passwordFile, options.passwordStdin, password, error)) {
        printErr(Prefix + error + QLatin1Char('\n'));
        return ExitStatus::Failed;
    }
    // Only now: an interrupt while the password is typed ends the program at once.
    platform::catchInterrupts();
    return options.outputDir.isEmpty() ? packOne(options, password) : packBatch(options, password);
}
