// The baselines of the start-up benchmark: a bare Qt Widgets window of the wizard's first-page
// size, and with --caption the same window showing one caption (what any window with text pays
// for the font system). Prints "painted" once its first paint is done, then ends.

#include <QApplication>
#include <QLabel>
#include <QTextStream>
#include <QTimer>
#include <QWidget>

namespace {
class BareWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override {
        if (m_painted)
            return;
        m_painted = true;
        // After the paint has run, as the wizard's side measures it.
        QTimer::singleShot(0, qApp, [] {
            QTextStream(stdout) << "painted" << Qt::endl;
            QCoreApplication::quit();
        });
    }

private:
    bool m_painted = false;
};
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    BareWindow window;
    window.setFixedSize(319, 112);
    if (QApplication::arguments().contains(QStringLiteral("--caption")))
        new QLabel(QStringLiteral("Source Map"), &window);
    window.show();
    return app.exec();
}
