#include "dialogs/MessageBox.h"

#include <QMessageBox>

namespace {

struct MessageBoxHookState {
    bool active = false;
    QList<MessageAnswer> answers;
    QList<MessageBoxTestHook::Shown> shown;
};

MessageBoxHookState &hookState() {
    static MessageBoxHookState state;
    return state;
}

QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

bool fits(MessageAnswer answer, MessageButtons buttons) {
    if (buttons == MessageButtons::Ok)
        return answer == MessageAnswer::Ok;
    return answer == MessageAnswer::Yes || answer == MessageAnswer::No;
}

// The safe answer: the only button of an OK box, "No" for a question.
MessageAnswer fallbackAnswer(MessageButtons buttons) {
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
}

} // namespace

MessageAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MessageButtons buttons, MessageIcon icon) {
    MessageBoxHookState &hook = hookState();
    hook.shown.append({text, title, buttons, icon});
    if (hook.active) {
        if (!hook.answers.isEmpty()) {
            const MessageAnswer answer = hook.answers.takeFirst();
            if (fits(answer, buttons))
                return answer;
        }
        return fallbackAnswer(buttons);
    }

    const QMessageBox::StandardButtons qtButtons =
        buttons == MessageButtons::Ok ? QMessageBox::StandardButtons(QMessageBox::Ok)
                                      : QMessageBox::Yes | QMessageBox::No;
    QMessageBox box(qtIcon(icon), title, text, qtButtons, parent);
    // Texts come from files and the user; never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    if (buttons == MessageButtons::YesNo)
        box.setDefaultButton(QMessageBox::Yes);
    const int result = box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

namespace MessageBoxTestHook {

void setNextAnswer(MessageAnswer answer) {
    hookState().active = true;
    hookState().answers.append(answer);
}

void hideBoxes() {
    hookState().active = true;
}

const QList<Shown> &shown() {
    return hookState().shown;
}

void reset() {
    hookState() = MessageBoxHookState{};
}

} // namespace MessageBoxTestHook
