// The wizard's side of the start-up benchmark: starts as the program does (wizard/main.cpp),
// prints "painted" once the window's first paint is done, then ends.

#include "wizard/Form1.h"

#include <QApplication>
#include <QEvent>
#include <QTextStream>
#include <QTimer>

namespace {
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->isWindow()) {
            // After the window's own paint has run.
            QTimer::singleShot(0, qApp, [] {
                QTextStream(stdout) << "painted" << Qt::endl;
                QCoreApplication::quit();
            });
            qApp->removeEventFilter(this);
        }
        return false;
    }
};
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velquarindostrammelfenboriax"));
    FirstPaint probe;
    app.installEventFilter(&probe);
    // The program folder of the build, where defaults.txt lies.
    Form1 window(QStringLiteral(MAPZIP_PROGRAM_FOLDER));
    window.show();
    return app.exec();
}
