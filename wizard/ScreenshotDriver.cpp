// Shows one page of the wizard with a map already chosen, so that scripts/screenshots can take
// a picture of it: velquar_screenshot_driver <page 1-3> [map file]
// The map is chosen through the open dialog's test answer, exactly as a click on "..." would.
// Prints "ready" once the window is painted and stays up until it is closed or killed.

#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "images/GameImages.h"
#include "wizard/Form1.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    quietImageReaderWarnings();
    const QStringList args = QApplication::arguments();
    const int page = args.size() > 1 ? args.at(1).toInt() : 1;
    if (page < 1 || page > 3) {
        QTextStream(stderr) << "usage: velquar_screenshot_driver <page 1-3> [map file]\n";
        return 2;
    }
    Form1 window;
    if (args.size() > 2) {
        FileDialogTestHook::setNextPaths({args.at(2)});
        window.cmdBrowse_Click();
    }
    for (int step = 1; step < page; ++step)
        window.cmdNextFrame_Click();
    window.show();
    QTimer::singleShot(800, [] { QTextStream(stdout) << "ready" << Qt::endl; });
    return app.exec();
}
