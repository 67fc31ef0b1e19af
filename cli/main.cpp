// mapzip: the wizard's pipeline without a window, for scripts and batch work.

#include "cli/Commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
const char Usage[] =
    "Usage: mapzip COMMAND [OPTIONS]\n"
    "Inspect and pack Soldat maps (*.pms) with their sceneries and texture.\n"
    "\n"
    "Commands:\n"
    "  inspect [--defaults FILE] [--json] MAP...   show what a map would add\n"
    "  pack MAP -o OUT.zip [OPTIONS]                pack a map into a ZIP archive\n"
    "\n"
    "  mapzip COMMAND --help   options of one command\n"
    "  mapzip --help           this text\n"
    "  mapzip --version        the version\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 bad usage.\n";
}

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mapzip"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MAPZIP_VERSION_TEXT));

    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs(Usage, stderr);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (command == QLatin1String("--version") || command == QLatin1String("-V")) {
        std::printf("mapzip %s\n", MAPZIP_VERSION_TEXT);
        return 0;
    }
    if (command == QLatin1String("inspect"))
        return runInspect(args);
    if (command == QLatin1String("pack"))
        return runPack(args);
    std::fprintf(stderr, "mapzip: unknown command '%s'\n\n%s", qPrintable(command), Usage);
    return 2;
}
