#pragma once
// Modal message boxes, with a seam for tests: a test sets the next answer and the box is not
// shown; every box asked for is recorded either way.

#include "archive/ArchiveHost.h"

#include <QList>
#include <QString>

#include <functional>

class QWidget;

// YesNo has Yes as its default button, YesNoDefaultNo No (for a question whose Yes loses
// work). OkShowInFolder adds "Show in Folder" to OK, which stays the default.
inline const QString ShowInFolderCaption = QStringLiteral("Show in Folder");

enum class MessageButtons { Ok, YesNo, YesNoDefaultNo, OkShowInFolder };
enum class MessageAnswer { Ok, Yes, No, ShowInFolder };

// Shows a modal box over `parent` and returns the button pressed. `details`, when not empty,
// is the box's detailed text (shown on demand, scrolled when long). The text wraps, and a box
// that would be taller than the screen scrolls its text instead.
MessageAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MessageButtons buttons, MessageIcon icon, const QString &details = {});

// The same box without waiting for it: it blocks input to `parent`'s window only, the
// caller's work and event handling go on, and `answered` runs once with the answer (at once
// when a test answers). Returns the box, so that the caller can withdraw a question that no
// longer applies (closing it answers No); null when the answer came at once.
QWidget *askMessageBox(QWidget *parent, const QString &text, const QString &title,
                       MessageButtons buttons, MessageIcon icon,
                       std::function<void(MessageAnswer)> answered);

namespace MessageBoxTestHook {
struct Shown {
    QString text;
    QString title;
    MessageButtons buttons;
    MessageIcon icon;
    QString details;
};
// From now on boxes are not shown; each returns the next queued answer (Ok or No when the
// queue is empty, whatever fits the buttons).
void setNextAnswer(MessageAnswer answer);
// From now on boxes are not shown, and all take the default answer above.
void hideBoxes();
// Every box asked for since the last reset, in order.
const QList<Shown> &shown();
void reset(); // back to real boxes, log cleared
} // namespace MessageBoxTestHook
