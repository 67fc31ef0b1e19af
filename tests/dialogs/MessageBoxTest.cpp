#include "dialogs/MessageBox.h"
#include "DialogTestSupport.h"
#include "dialogs/ShowInFolder.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

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
    EXPECT_EQ(
        showMessageBox(nullptr, "Bad", "E", MessageButtons::Ok, MessageIcon::Error, "engine lines"),
        MessageAnswer::Ok);
    // An answer that the box cannot give falls back as well.
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Ok);
    EXPECT_EQ(showMessageBox(nullptr, "Sure?", "Q", MessageButtons::YesNo, MessageIcon::None),
              MessageAnswer::No);

    // A question that does not wait takes its answer from the same queue.
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes);
    QList<MessageAnswer> asked;
    askMessageBox(nullptr, "Stop?", "Q", MessageButtons::YesNo, MessageIcon::Warning,
                  [&](MessageAnswer answer) { asked << answer; });
    EXPECT_EQ(asked, QList<MessageAnswer>{MessageAnswer::Yes});

    const QList<MessageBoxTestHook::Shown> &shown = MessageBoxTestHook::shown();
    ASSERT_EQ(shown.size(), 6);
    EXPECT_EQ(shown[0].text, QStringLiteral("Quit?"));
    EXPECT_EQ(shown[0].title, QStringLiteral("!! Quit !!"));
    EXPECT_EQ(shown[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(shown[1].icon, MessageIcon::Information);
    EXPECT_EQ(shown[3].icon, MessageIcon::Error);
    EXPECT_EQ(shown[3].details, QStringLiteral("engine lines"));
    EXPECT_TRUE(shown[0].details.isEmpty());
    EXPECT_EQ(shown[5].text, QStringLiteral("Stop?"));

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

    // A question whose Yes loses work defaults to No; a delivered archive's box offers its
    // folder besides OK, which stays the default.
    for (const auto &[buttons, preset, click, answer] :
         {std::tuple{MessageButtons::YesNoDefaultNo, "No", "Yes", MessageAnswer::Yes},
          std::tuple{MessageButtons::OkShowInFolder, "OK", "Show in Folder",
                     MessageAnswer::ShowInFolder}}) {
        auto clicker = whenShown<QMessageBox>([&](QMessageBox *box) {
            EXPECT_EQ(box->defaultButton()->text().remove('&'), QLatin1String(preset));
            for (QAbstractButton *button : box->buttons()) {
                if (button->text().remove('&') == QLatin1String(click))
                    button->click();
            }
        });
        EXPECT_EQ(showMessageBox(nullptr, "Stop?", "T", buttons, MessageIcon::Warning), answer);
    }

    QString details;
    auto okWatchdog = whenShown<QMessageBox>([&](QMessageBox *box) {
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        details = box->detailedText();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(showMessageBox(nullptr, "Left out", "Map Packed With Missing Files",
                             MessageButtons::Ok, MessageIcon::Warning, "adding: a\n"),
              MessageAnswer::Ok);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(details, QStringLiteral("adding: a\n"));
}

// However long or wide the text, the box fits the screen with its buttons in reach, also with
// the details open: long lines wrap, and a text taller than the room scrolls.
TEST_F(MessageBoxes, LongTextsWrapAndScrollSoThatTheBoxFitsTheScreen) {
    QStringList lines;
    for (int i = 0; i < 80; ++i)
        lines << QStringLiteral("Scenery-gfx/scenery_%1.png: not in the game folder").arg(i);
    const QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    for (const QString &text : {lines.join('\n'), QString("Could not make it. ").repeated(30)}) {
        QList<QSize> sizes; // shown, then with the details open
        auto watchdog = whenShown<QMessageBox>([&](QMessageBox *box) {
            sizes << box->frameGeometry().size();
            box->buttons().constLast()->click(); // "Show Details..."
            QCoreApplication::processEvents();
            sizes << box->frameGeometry().size();
            box->button(QMessageBox::Ok)->click();
        });
        showMessageBox(nullptr, text, "T", MessageButtons::Ok, MessageIcon::Warning, text);
        ASSERT_EQ(sizes.size(), 2);
        EXPECT_TRUE(sizes[0].boundedTo(screen) == sizes[0] &&
                    sizes[1].boundedTo(screen) == sizes[1]);
        EXPECT_GT(sizes[1].height(), sizes[0].height()) << "the details take room of their own";
    }
}

// The text keeps the layout's margin from the box's right edge, also where Qt caps the box's
// width: no letter is lost.
TEST_F(MessageBoxes, TextsKeepAMarginFromTheRightEdge) {
    ASSERT_GT(QGuiApplication::primaryScreen()->size().width(), 1024);
    for (const QString &text : {QString("Are you sure you wish to quit?"),
                                QString("A long line that has to wrap. ").repeated(12)}) {
        int margin = -1;
        auto watchdog = whenShown<QMessageBox>([&](QMessageBox *box) {
            const auto *label = box->findChild<QLabel *>("qt_msgbox_label");
            const QRect laidOut = QFontMetrics(label->font())
                                      .boundingRect(label->contentsRect(), Qt::TextWordWrap, text);
            margin = box->width() - label->mapTo(box, laidOut.topRight()).x() - 1;
            box->button(QMessageBox::Ok)->click();
        });
        showMessageBox(nullptr, text, "T", MessageButtons::Ok, MessageIcon::Information);
        EXPECT_GE(margin, 9) << text.toStdString();
    }
}

TEST_F(MessageBoxes, RealQuestionThatDoesNotWaitAnswersWhenClickedOrWithdrawn) {
    QWidget owner;
    owner.show();
    for (const bool withdraw : {false, true}) {
        QList<MessageAnswer> answers;
        QWidget *box =
            askMessageBox(&owner, "Stop it?", "Confirm Exit", MessageButtons::YesNo,
                          MessageIcon::Warning, [&](MessageAnswer answer) { answers << answer; });
        EXPECT_TRUE(answers.isEmpty()) << "the caller goes on while the box is up";
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        if (withdraw)
            box->close();
        else
            static_cast<QMessageBox *>(box)->button(QMessageBox::Yes)->click();
        QCoreApplication::processEvents();
        EXPECT_EQ(answers, QList<MessageAnswer>{withdraw ? MessageAnswer::No : MessageAnswer::Yes});
    }
}

// The desktop's opener: a failure xdg-open reports once it has ended reaches the caller.
TEST_F(MessageBoxes, AFailureTheDesktopsOpenerReportsLaterIsTold) {
    QTemporaryDir bin;
    writeBytes(bin.filePath("xdg-open"), "#!/bin/sh\ncase \"$1\" in *nothing*) exit 3;; esac\n");
    QFile::setPermissions(bin.filePath("xdg-open"), QFile::ReadOwner | QFile::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
    int failures = 0;
    EXPECT_TRUE(openOnDesktop(QUrl::fromLocalFile("/tmp/shown"), [&] { failures += 1; }));
    EXPECT_TRUE(openOnDesktop(QUrl::fromLocalFile("/tmp/nothing"), [&] { failures += 10; }));
    qputenv("PATH", path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return failures >= 10; }, 30000));
    EXPECT_EQ(failures, 10);
}

} // namespace
