#include "dialogs/MessageBox.h"
#include "DialogTestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

class MessageBoxes : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        MessageBoxTestHook::reset();
    }
    void TearDown() override { MessageBoxTestHook::reset(); }
};

TEST_F(MessageBoxes, HookAnswersInOrderThenByDefaultAndLogsEveryBox) {
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes);
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Ok);
    EXPECT_EQ(
        showMessageBox(nullptr, "Quit?", "!! Quit !!", MessageButtons::YesNo, MessageIcon::None),
        MessageAnswer::Yes);
    EXPECT_EQ(showMessageBox(nullptr, "Done", "100% Complete", MessageButtons::Ok,
                             MessageIcon::Information),
              MessageAnswer::Ok);
    // Queue empty: the safe answer for each kind of box.
    EXPECT_EQ(showMessageBox(nullptr, "Again?", "Q", MessageButtons::YesNo, MessageIcon::None),
              MessageAnswer::No);
    EXPECT_EQ(showMessageBox(nullptr, "Bad", "E", MessageButtons::Ok, MessageIcon::Error),
              MessageAnswer::Ok);
    // An answer that the box cannot give falls back as well.
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Ok);
    EXPECT_EQ(showMessageBox(nullptr, "Sure?", "Q", MessageButtons::YesNo, MessageIcon::None),
              MessageAnswer::No);

    const QList<MessageBoxTestHook::Shown> &shown = MessageBoxTestHook::shown();
    ASSERT_EQ(shown.size(), 5);
    EXPECT_EQ(shown[0].text, QStringLiteral("Quit?"));
    EXPECT_EQ(shown[0].title, QStringLiteral("!! Quit !!"));
    EXPECT_EQ(shown[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(shown[1].icon, MessageIcon::Information);
    EXPECT_EQ(shown[3].icon, MessageIcon::Error);

    MessageBoxTestHook::reset();
    EXPECT_TRUE(MessageBoxTestHook::shown().isEmpty());
}

TEST_F(MessageBoxes, RealBoxShowsTextTitleIconAndButtonsAsGiven) {
    const QString text = QStringLiteral("Path: <b>C:\\maps</b>\r\n\r\nDone");
    struct Seen {
        QString text, title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        Qt::TextFormat format = Qt::AutoText;
    } seen;
    auto watchdog = whenShown<QMessageBox>([&](QMessageBox *box) {
        seen = {box->text(),
                box->windowTitle(),
                box->icon(),
                box->standardButtons(),
                box->defaultButton() ? box->standardButton(box->defaultButton())
                                     : QMessageBox::NoButton,
                box->textFormat()};
        box->button(QMessageBox::No)->click();
    });
    const MessageAnswer answer =
        showMessageBox(nullptr, text, "Title", MessageButtons::YesNo, MessageIcon::Error);

    EXPECT_EQ(answer, MessageAnswer::No);
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.title, QStringLiteral("Title"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(seen.defaultButton, QMessageBox::Yes);
    EXPECT_EQ(seen.format, Qt::PlainText);
    ASSERT_EQ(MessageBoxTestHook::shown().size(), 1); // logged even when shown

    auto okWatchdog = whenShown<QMessageBox>([&](QMessageBox *box) {
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(showMessageBox(nullptr, "Saved", "100% Complete", MessageButtons::Ok,
                             MessageIcon::Information),
              MessageAnswer::Ok);
    EXPECT_EQ(seen.icon, QMessageBox::Information);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

} // namespace
