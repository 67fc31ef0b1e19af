#include "dialogs/MessageBox.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <memory>
#include <optional>

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
    case MessageIcon::Warning:
        return QMessageBox::Warning;
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

// Logs the box; while tests answer, returns their answer and the box is not shown.
std::optional<MessageAnswer> testAnswer(const MessageBoxTestHook::Shown &box) {
    MessageBoxHookState &hook = hookState();
    hook.shown.append(box);
    if (!hook.active)
        return std::nullopt;
    if (!hook.answers.isEmpty()) {
        const MessageAnswer answer = hook.answers.takeFirst();
        if (fits(answer, box.buttons))
            return answer;
    }
    return fallbackAnswer(box.buttons);
}

// Qt wraps a box's text at half the screen's width, which on a small or scaled screen makes a
// long list (files left out of an archive) taller than the screen, its buttons out of reach.
// Lines may run unwrapped up to three quarters of the screen's width instead.
void letLinesRunWide(QMessageBox *box, QWidget *parent) {
    QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!screen || !label)
        return;
    const QRect available = screen->availableGeometry();
    const int unwrapped =
        QFontMetrics(label->font()).boundingRect(available, 0, box->text()).width();
    label->setMinimumWidth(qMin(unwrapped, available.width() * 3 / 4));
}

QMessageBox *makeBox(QWidget *parent, const MessageBoxTestHook::Shown &shown) {
    const QMessageBox::StandardButtons buttons = shown.buttons == MessageButtons::Ok
                                                     ? QMessageBox::StandardButtons(QMessageBox::Ok)
                                                     : QMessageBox::Yes | QMessageBox::No;
    auto *box = new QMessageBox(qtIcon(shown.icon), shown.title, shown.text, buttons, parent);
    // Texts come from files and the user; never let them be read as markup.
    box->setTextFormat(Qt::PlainText);
    if (shown.buttons == MessageButtons::YesNo)
        box->setDefaultButton(QMessageBox::Yes);
    if (!shown.details.isEmpty())
        box->setDetailedText(shown.details);
    letLinesRunWide(box, parent);
    return box;
}

MessageAnswer answerFor(int result, MessageButtons buttons) {
    if (buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

} // namespace

MessageAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MessageButtons buttons, MessageIcon icon, const QString &details) {
    const MessageBoxTestHook::Shown shown{text, title, buttons, icon, details};
    if (const std::optional<MessageAnswer> answer = testAnswer(shown))
        return *answer;
    std::unique_ptr<QMessageBox> box(makeBox(parent, shown));
    return answerFor(box->exec(), buttons);
}

QWidget *askMessageBox(QWidget *parent, const QString &text, const QString &title,
                       MessageButtons buttons, MessageIcon icon,
                       std::function<void(MessageAnswer)> answered) {
    const MessageBoxTestHook::Shown shown{text, title, buttons, icon, {}};
    if (const std::optional<MessageAnswer> answer = testAnswer(shown)) {
        answered(*answer);
        return nullptr;
    }
    QMessageBox *box = makeBox(parent, shown);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QDialog::finished, box,
                     [answered = std::move(answered), buttons](int result) {
                         answered(answerFor(result, buttons));
                     });
    box->open();
    return box;
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
