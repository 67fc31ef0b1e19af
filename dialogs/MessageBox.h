#pragma once
// Modal message boxes, with a seam for tests: a test sets the next answer and the box is not
// shown; every box asked for is recorded either way.

#include "archive/ArchiveHost.h"

#include <QList>
#include <QString>

class QWidget;

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// Shows a modal box over `parent` and returns the button pressed. With YesNo, Yes is the
// default button.
MessageAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MessageButtons buttons, MessageIcon icon);

namespace MessageBoxTestHook {
struct Shown {
    QString text;
    QString title;
    MessageButtons buttons;
    MessageIcon icon;
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
