#include "dialogs/MessageBox.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>

#include <algorithm>
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

bool isQuestion(MessageButtons buttons) {
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoDefaultNo;
}

bool fits(MessageAnswer answer, MessageButtons buttons) {
    if (isQuestion(buttons))
        return answer == MessageAnswer::Yes || answer == MessageAnswer::No;
    return answer == MessageAnswer::Ok ||
           (answer == MessageAnswer::ShowInFolder && buttons == MessageButtons::OkShowInFolder);
}

// The safe answer: "OK" for a message, "No" for a question.
MessageAnswer fallbackAnswer(MessageButtons buttons) {
    return isQuestion(buttons) ? MessageAnswer::No : MessageAnswer::Ok;
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

// Qt wraps a box's text at half the screen's width, which makes a long list (files left out of
// an archive) needlessly tall. Lines may run unwrapped up to three quarters of the screen's
// width instead, yet never past the widest box Qt makes (the screen less 480 pixels, at most
// 1000; a screen up to 1024 pixels wide whole), less room for the icon: longer lines wrap.
void letLinesRunWide(QMessageBox *box, QWidget *parent) {
    QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!screen || !label)
        return;
    const QRect available = screen->availableGeometry();
    const int widestBox =
        available.width() <= 1024 ? available.width() : qMin(available.width() - 480, 1000);
    const int iconRoom = box->iconPixmap().width() + 4 * box->fontMetrics().averageCharWidth();
    const int unwrapped =
        QFontMetrics(label->font()).boundingRect(available, 0, box->text()).width();
    label->setMinimumWidth(
        qMax(0, std::min({unwrapped, available.width() * 3 / 4, widestBox - iconRoom})));
}

// A box that stays within the screen: when its text would make it taller than the room there
// is (with room kept for the details, should the user open them), the text scrolls.
class FittedMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

    QAbstractButton *showInFolder = nullptr; // set when the box offers it

protected:
    void showEvent(QShowEvent *event) override {
        QMessageBox::showEvent(event); // sizes the box for its whole text
        keepRightMargin();
        fit();
    }
    // The box sizes itself anew whenever its details are shown or hidden; a scrolled text
    // keeps its own size then.
    bool event(QEvent *event) override {
        const bool handled = QMessageBox::event(event);
        if (m_scroll && !m_fitting &&
            (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize))
            fit();
        return handled;
    }

private:
    // Qt caps a box's width; lines given more room than the cap leaves would run past the
    // box's right edge. They are narrowed to keep the layout's margin there.
    void keepRightMargin() {
        auto *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        if (!label || !layout())
            return;
        layout()->activate();
        const int overflow =
            label->geometry().right() + 1 + layout()->contentsMargins().right() - width();
        if (overflow <= 0)
            return;
        label->setMinimumWidth(qMax(0, label->width() - overflow));
        setText(text()); // sizes the box again, for the narrower lines
    }

    QWidget *detailsText() const {
        auto *text = findChild<QTextEdit *>();
        return text && !detailedText().isEmpty() ? text : nullptr;
    }

    void fit() {
        auto *grid = qobject_cast<QGridLayout *>(layout());
        auto *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        if (!grid || !label || !screen())
            return;
        // The window manager's title bar is not known before the box is up; allow for one.
        const int titleBar = qMax(frameGeometry().height() - height(), fontMetrics().height() * 2);
        const QWidget *details = detailsText();
        const int detailsHeight = details ? details->maximumHeight() + grid->spacing() : 0;
        const bool detailsShown = details && details->isVisible();
        if (!m_scroll) {
            const int room = screen()->availableGeometry().height() - titleBar - detailsHeight;
            if (height() <= room || detailsShown)
                return;
            m_boxWidth = width();
            m_textWidth = label->width();
            m_otherHeight = height() - label->height();
            int row, column, rowSpan, columnSpan;
            grid->getItemPosition(grid->indexOf(label), &row, &column, &rowSpan, &columnSpan);
            grid->removeWidget(label);
            m_scroll = new QScrollArea(this);
            m_scroll->setFrameShape(QFrame::NoFrame);
            m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            m_scroll->setWidgetResizable(true);
            m_scroll->setWidget(label);
            grid->addWidget(m_scroll, row, column, rowSpan, columnSpan);
        }
        const QScopedValueRollback<bool> fitting(m_fitting, true);
        const int scrollBar = m_scroll->verticalScrollBar()->sizeHint().width();
        const int others = m_otherHeight + (detailsShown ? detailsHeight : 0);
        const int room = screen()->availableGeometry().height() - titleBar - others -
                         (detailsShown ? 0 : detailsHeight);
        const int textHeight =
            qBound(fontMetrics().height() * 3, room, label->heightForWidth(m_textWidth));
        m_scroll->setFixedSize(m_textWidth + scrollBar, textHeight);
        setFixedSize(m_boxWidth + scrollBar, others + textHeight);
        // Placed for its full height, or grown by its details, the box may reach past the
        // screen's edge: bring it back.
        const QRect available = screen()->availableGeometry();
        const QRect frame = frameGeometry();
        const int top =
            qBound(available.top(), frame.top(), available.bottom() + 1 - titleBar - height());
        if (isVisible() && top != frame.top())
            move(frame.left(), top);
    }

    QScrollArea *m_scroll = nullptr;
    bool m_fitting = false;
    int m_boxWidth = 0;
    int m_textWidth = 0;
    int m_otherHeight = 0; // the box without its text, details hidden
};

FittedMessageBox *makeBox(QWidget *parent, const MessageBoxTestHook::Shown &shown) {
    const QMessageBox::StandardButtons buttons =
        isQuestion(shown.buttons) ? QMessageBox::Yes | QMessageBox::No
                                  : QMessageBox::StandardButtons(QMessageBox::Ok);
    auto *box = new FittedMessageBox(qtIcon(shown.icon), shown.title, shown.text, buttons, parent);
    // Texts come from files and the user; never let them be read as markup.
    box->setTextFormat(Qt::PlainText);
    if (shown.buttons == MessageButtons::OkShowInFolder)
        box->showInFolder = box->addButton(ShowInFolderCaption, QMessageBox::ActionRole);
    box->setDefaultButton(shown.buttons == MessageButtons::YesNo            ? QMessageBox::Yes
                          : shown.buttons == MessageButtons::YesNoDefaultNo ? QMessageBox::No
                                                                            : QMessageBox::Ok);
    if (!shown.details.isEmpty())
        box->setDetailedText(shown.details);
    letLinesRunWide(box, parent);
    return box;
}

MessageAnswer answerFor(FittedMessageBox &box, int result, MessageButtons buttons) {
    if (isQuestion(buttons))
        return result == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    return box.showInFolder && box.clickedButton() == box.showInFolder ? MessageAnswer::ShowInFolder
                                                                       : MessageAnswer::Ok;
}

} // namespace

MessageAnswer showMessageBox(QWidget *parent, const QString &text, const QString &title,
                             MessageButtons buttons, MessageIcon icon, const QString &details) {
    const MessageBoxTestHook::Shown shown{text, title, buttons, icon, details};
    if (const std::optional<MessageAnswer> answer = testAnswer(shown))
        return *answer;
    std::unique_ptr<FittedMessageBox> box(makeBox(parent, shown));
    const int result = box->exec();
    return answerFor(*box, result, buttons);
}

QWidget *askMessageBox(QWidget *parent, const QString &text, const QString &title,
                       MessageButtons buttons, MessageIcon icon,
                       std::function<void(MessageAnswer)> answered) {
    const MessageBoxTestHook::Shown shown{text, title, buttons, icon, {}};
    if (const std::optional<MessageAnswer> answer = testAnswer(shown)) {
        answered(*answer);
        return nullptr;
    }
    FittedMessageBox *box = makeBox(parent, shown);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(box, &QDialog::finished, box,
                     [box, answered = std::move(answered), buttons](int result) {
                         answered(answerFor(*box, result, buttons));
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
