// The wizard program: one window, no arguments, no settings.

#include "wizard/Form1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velquarindostrammelfenboriax"));
    QApplication::setDesktopFileName(QStringLiteral("velquarindostrammelfenboriax"));
    // The window lives until the event loop has ended, even when it is closed during a build.
    Form1 window;
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return app.exec();
}
