#pragma once
// Helpers for tests that drive real dialogs: an application object and a way to act on the
// modal dialog that a blocking call is about to show.

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *out) {
    *out << '[' << texts.join(QStringLiteral(", ")).toStdString() << ']';
}

inline QApplication &testApplication() {
    static int argc = 1;
    static char name[] = "dialogs_test";
    static char *argv[] = {name, nullptr};
    // Offscreen, on a screen wider than 1024 pixels: there Qt caps the width of a box.
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" MAPZIP_WIDE_SCREEN);
    static QApplication *app =
        qApp ? static_cast<QApplication *>(qApp) : new QApplication(argc, argv);
    return *app;
}

// Runs `act` on the first visible top-level widget of type T once the event loop turns, that
// is, inside the modal loop of the call that follows. `act` must close the dialog. Keep the
// returned watchdog alive across that call: it closes a dialog left open, so a failing test
// cannot hang the run.
template <typename T>
[[nodiscard]] std::unique_ptr<QTimer> whenShown(std::function<void(T *)> act) {
    QTimer::singleShot(0, [act] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<T *>(widget); dialog && dialog->isVisible()) {
                act(dialog);
                return;
            }
        }
    });
    auto watchdog = std::make_unique<QTimer>();
    watchdog->setSingleShot(true);
    QObject::connect(watchdog.get(), &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    watchdog->start(20000);
    return watchdog;
}
