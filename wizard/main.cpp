// The wizard program: one window, no settings.

#include "images/GameImages.h"
#include "wizard/Form1.h"

#include <QApplication>
#include <QTextStream>

#include <cstring>

namespace {

const char Usage[] =
    "Usage: velquarindostrammelfenboriax [MAP]\n"
    "Packs a Soldat map (*.pms) with its sceneries and texture into a ZIP archive.\n"
    "A three-page wizard window: choose the map, pick the sceneries to add, set the\n"
    "archive's options and make the ZIP. mapzip does the same without a window.\n"
    "\n"
    "  MAP            opens the map as if chosen with '...' (a path relative to the\n"
    "                 current folder, or absolute); dropping a map on the window does too\n"
    "  -h, --help     this text\n"
    "  -V, --version  the version\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well.\n";

// Answers --help and --version before anything needs a display. True when it answered.
bool answeredInformation(int argc, char *argv[]) {
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            QTextStream(stdout) << Usage;
            return true;
        }
        if (std::strcmp(arg, "-V") == 0 || std::strcmp(arg, "--version") == 0) {
            QTextStream(stdout) << "velquarindostrammelfenboriax " MAPZIP_VERSION_TEXT "\n";
            return true;
        }
    }
    return false;
}

// On Linux and the BSDs a window needs an X11 or Wayland session; without one Qt would abort
// with a core dump. A platform chosen explicitly (QT_QPA_PLATFORM) is left to Qt.
bool hasDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// The map named on the command line: the first argument that is no option (Qt has taken its
// own by then); empty when there is none.
QString mapArgument(const QStringList &arguments) {
    bool optionsEnded = false;
    for (const QString &argument : arguments.mid(1)) {
        if (!optionsEnded && argument == QStringLiteral("--"))
            optionsEnded = true;
        else if (optionsEnded || !argument.startsWith(QLatin1Char('-')))
            return argument;
    }
    return {};
}

} // namespace

int main(int argc, char *argv[]) {
    if (answeredInformation(argc, argv))
        return 0;
    if (!hasDisplay()) {
        QTextStream(stderr) << "no display: start it from a desktop session, or use mapzip\n";
        return 1;
    }
    QApplication app(argc, argv);
    quietImageReaderWarnings();
    QApplication::setApplicationName(QStringLiteral("velquarindostrammelfenboriax"));
    QApplication::setDesktopFileName(QStringLiteral("velquarindostrammelfenboriax"));
    // The window lives until the event loop has ended; a build it runs returns before that.
    Form1 window;
    window.show();
    // Read once the window is up, so that a map that cannot be read is reported over it.
    if (const QString map = mapArgument(QApplication::arguments()); !map.isEmpty())
        QMetaObject::invokeMethod(
            &window, [&window, map] { window.openMap(map); }, Qt::QueuedConnection);
    return app.exec();
}
