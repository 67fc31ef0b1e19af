// mapzip: the wizard's pipeline without a window, for scripts and batch work.

#include "cli/Commands.h"
#include "cli/Console.h"

#include "platform/Platform.h"

#include <QCoreApplication>

namespace {
const char Usage[] =
    "Usage: mapzip COMMAND [OPTIONS]\n"
    "Inspect, pack and check Soldat maps (*.pms) with their sceneries and texture.\n"
    "\n"
    "Commands:\n"
    "  inspect [--defaults FILE] [--json] MAP...       show what a map would add\n"
    "  pack MAP -o OUT.zip|OUT.smap [OPTIONS]           pack a map into an archive\n"
    "  pack MAP... -d OUTDIR [--format zip|smap] [-j N] pack many maps, several at a time\n"
    "  verify ARCHIVE... [--game DIR] [--json]          check that archives hold what\n"
    "                                                   their maps need\n"
    "  preview MAP -o OUT.png [--width N]               draw the map as the game shows it\n"
    "\n"
    "  mapzip COMMAND --help   options of one command\n"
    "  mapzip --help           this text\n"
    "  mapzip --version        the version\n"
    "\n"
    "Exit status: 0 success; 1 failure; 2 bad usage; 3 (pack, verify) an archive lacks\n"
    "files its map needs; 128 + N stopped by signal N.\n";
}

// The command's status; main() adds what became of its output.
static int runMapzip(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mapzip"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MAPZIP_VERSION_TEXT));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        printErr(QLatin1String(Usage));
        return ExitStatus::Usage;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        printOut(QLatin1String(Usage));
        return ExitStatus::Ok;
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-V")) {
        printOut(QStringLiteral("mapzip " MAPZIP_VERSION_TEXT "\n"));
        return ExitStatus::Ok;
    }
    if (command == QLatin1String("inspect"))
        return runInspect(args);
    if (command == QLatin1String("pack"))
        return runPack(args);
    if (command == QLatin1String("verify"))
        return runVerify(args);
    if (command == QLatin1String("preview"))
        return runPreview(args);
    printErr(QStringLiteral("mapzip: unknown command '%1'\n\n").arg(command) +
             QLatin1String(Usage));
    return ExitStatus::Usage;
}

// Before anything else: an interrupt that comes before there is anything to clean up ends the
// program at once, with the status it gives later too. Where the system runs a program's own
// start-up code before that of its libraries (ELF's pre-initialisation), from then on; the
// libraries' start-up takes a good part of the time before main().
#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
static void interruptsEndTheProgram(int, char **, char **) {
    platform::exitOnInterrupt();
}
__attribute__((section(".preinit_array"),
               used)) static void (*const g_beforeLibraries)(int, char **,
                                                             char **) = interruptsEndTheProgram;
#endif

int main(int argc, char *argv[]) {
    platform::exitOnInterrupt();
    const int status = ExitStatus::afterOutput(runMapzip(argc, argv));
    // Everything is cleaned up: an interrupt caught on the way decides the status.
    const int signal = platform::stopCatchingInterrupts();
    return signal != 0 ? ExitStatus::interrupted(signal) : status;
}
