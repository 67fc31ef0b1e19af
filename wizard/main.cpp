// The wizard program: one window, no arguments, no settings.

#include "wizard/Form1.h"

#include <QApplication>
#include <QTextStream>

namespace {

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

} // namespace

int main(int argc, char *argv[]) {
    if (!hasDisplay()) {
        QTextStream(stderr) << "no display: start it from a desktop session, or use "
                               "build/bin/mapzip\n";
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velquarindostrammelfenboriax"));
    QApplication::setDesktopFileName(QStringLiteral("velquarindostrammelfenboriax"));
    // The window lives until the event loop has ended; a build it runs returns before that.
    Form1 window;
    window.show();
    return app.exec();
}
