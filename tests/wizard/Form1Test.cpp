// The window as the user meets it: start-up, page navigation, the move buttons, the settings
// page's dependent controls, the credits link and the clean-ups of the window's lifetime.

#include "WizardTestSupport.h"

#include "package/ProgramInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>

namespace {

// What a page looks like, read from the window as the navigation reads it.
struct PageLayout {
    int width;
    int height;
    QPoint back;
    QPoint next;
    QStringList visibleFrames;
    QString nextCaption;
    bool backEnabled;
};

PageLayout layoutOf(Form1 &form) {
    QStringList visible;
    for (QGroupBox *frame : {form.frameMap, form.Frame1, form.Frame4, form.Frame5}) {
        if (!frame->isHidden())
            visible.append(frame->objectName());
    }
    return {form.windowWidthTwips(),
            form.windowHeightTwips(),
            form.cmdBackFrame->pos(),
            form.cmdNextFrame->pos(),
            visible,
            form.cmdNextFrame->text(),
            form.cmdBackFrame->isEnabled()};
}

void expectPage(Form1 &form, int page) {
    const PageLayout layout = layoutOf(form);
    EXPECT_EQ(layout.width, 4890);
    EXPECT_TRUE(form.cmdNextFrame->isEnabled());
    switch (page) {
    case 1:
        EXPECT_EQ(layout.height, 2115);
        EXPECT_EQ(layout.back, QPoint(6, 78));
        EXPECT_EQ(layout.next, QPoint(204, 78));
        EXPECT_EQ(layout.visibleFrames, QStringList({"frameMap", "Frame5"}));
        EXPECT_EQ(layout.nextCaption, "Next >>");
        EXPECT_FALSE(layout.backEnabled);
        break;
    case 2:
    case 3:
        EXPECT_EQ(layout.height, 4455);
        EXPECT_EQ(layout.back, QPoint(9, 234));
        EXPECT_EQ(layout.next, QPoint(198, 234));
        EXPECT_EQ(layout.visibleFrames, QStringList({page == 2 ? "Frame1" : "Frame4"}));
        EXPECT_EQ(layout.nextCaption, page == 2 ? "Next >>" : "!! Quit !!");
        EXPECT_TRUE(layout.backEnabled);
        break;
    }
}

// Every control lies inside its parent, so nothing is cut off on any page.
void expectInsideParents(const QWidget &root) {
    for (const QWidget *child : root.findChildren<QWidget *>()) {
        const QWidget *parent = child->parentWidget();
        if (!parent || child->isWindow() || child->isHidden() || child->objectName().isEmpty() ||
            child->objectName().startsWith("qt_"))
            continue;
        EXPECT_TRUE(parent->rect().contains(child->geometry()))
            << child->objectName().toStdString() << " leaves "
            << parent->objectName().toStdString();
    }
}

void expectSettingsInvariants(Form1 &form) {
    const bool pass = form.chkPass->isChecked();
    const bool mask = form.chkMask->isChecked();
    EXPECT_EQ(form.txtPass->isEnabled(), pass);
    EXPECT_EQ(form.txtPass2->isEnabled(), pass && mask);
    const QLineEdit::EchoMode echo = mask ? QLineEdit::Password : QLineEdit::Normal;
    EXPECT_EQ(form.txtPass->echoMode(), echo);
    EXPECT_EQ(form.txtPass2->echoMode(), echo);
    EXPECT_EQ(form.txtComment->isEnabled(), form.chkComment->isChecked());
    for (QCheckBox *box : {form.chkJunk, form.chkRecurse, form.chkUpdate, form.chkFreshen})
        EXPECT_EQ(box->isEnabled(), form.chkExpert->isChecked()) << box->objectName().toStdString();
}

void goToPage(Form1 &form, int page) {
    if (page > 1 && form.txtPath->text().isEmpty())
        form.txtPath->setText("C:/soldat/maps/Arena.PMS");
    for (int step = 1; step < page; ++step)
        form.cmdNextFrame->click();
}

} // namespace

TEST_F(WizardTest, StartsOnTheSourceMapPageWithTheDesignedControls) {
    writeBytes(programFolder() + "/TEMP/Maps/left_over.pms", "old");
    writeBytes(programFolder() + "/TEMP/left_over.zip", "old");
    Form1 &form = makeForm();

    expectPage(form, 1);
    EXPECT_EQ(form.size(), QSize(326 - NominalFrameWidth, 141 - NominalFrameHeight));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the user must not resize the window";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.windowTitle(), "Velquarindostrammelfenboriax             V1.0");
    EXPECT_EQ(form.windowTitle().size(), 45);
    EXPECT_EQ(form.windowIcon().availableSizes().size(), 2);

    // The staging files of an earlier run are gone, the folders stay.
    EXPECT_FALSE(QFile::exists(programFolder() + "/TEMP/Maps/left_over.pms"));
    EXPECT_FALSE(QFile::exists(programFolder() + "/TEMP/left_over.zip"));
    EXPECT_TRUE(QDir(programFolder() + "/TEMP/Maps").exists());

    EXPECT_EQ(form.state().DefaultSceneries.count(), 255);
    EXPECT_TRUE(form.state().MapName.isEmpty());
    EXPECT_EQ(form.state().retcode, 0);

    ASSERT_EQ(form.cComp->count(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(form.cComp->itemText(i), QString::number(i));
    EXPECT_EQ(form.cComp->currentText(), "9");
    EXPECT_FALSE(form.cComp->isEditable());

    // Check boxes: only recurse, texture and mask start checked; recurse is disabled.
    for (QCheckBox *box : form.findChildren<QCheckBox *>()) {
        const bool checked =
            box == form.chkRecurse || box == form.chkTexture || box == form.chkMask;
        EXPECT_EQ(box->isChecked(), checked) << box->objectName().toStdString();
    }
    EXPECT_FALSE(form.chkRecurse->isEnabled());
    expectSettingsInvariants(form);
    for (QLineEdit *box : {form.txtPass, form.txtPass2}) {
        EXPECT_EQ(box->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, box),
                  '*');
    }
    EXPECT_EQ(form.chkFreshen->text(), "Overwrite Only ");
    EXPECT_EQ(form.chkRecurse->toolTip(), "Recurse -r (-R not availible)");
    EXPECT_EQ(form.chkComment->toolTip(),
              "Add a comment to your ZIP Archive and also the the readme.");
    const QString compressionTip = "0 = Fastest Compression, large file size.     9 = Slower "
                                   "Compression, smaller file size.";
    EXPECT_EQ(form.Label2->toolTip(), compressionTip);
    EXPECT_EQ(form.cComp->toolTip(), compressionTip);
    EXPECT_EQ(form.txtPath->toolTip(), "EG: C:/soldat/maps/Arena.PMS");
    EXPECT_EQ(form.lScExclude->toolTip(), "Sceneries that will NOT be added to the ZIP Archive.");
    EXPECT_EQ(form.lScADD->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(form.Label5->text(), CreditsLine);
    EXPECT_EQ(form.Label6->text(), "Visit " + WebAddress);

    // Controls are found by their names, lie where they were designed and never stick out.
    ASSERT_NE(form.findChild<QPushButton *>("cmdGO"), nullptr);
    EXPECT_EQ(form.cmdGO->geometry(), QRect(6, 153, 160, 70));
    EXPECT_EQ(form.Frame3->geometry(), QRect(189, 12, 127, 214));
    expectInsideParents(form);
    EXPECT_TRUE(boxes().isEmpty());

    // Captions are shown whole, with the fonts the window really uses.
    for (QLabel *label : form.findChildren<QLabel *>()) {
        EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
    }
    for (QCheckBox *box : form.findChildren<QCheckBox *>())
        EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
}

TEST_F(WizardTest, StartUpTellsOnceWhenTheStockListIsMissing) {
    QFile::remove(programFolder() + "/defaults.txt");
    Form1 &form = makeForm();
    EXPECT_TRUE(boxes().isEmpty()) << "the warning waits until the window shows";
    form.show();
    QCoreApplication::processEvents();
    form.hide();
    form.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_FALSE(boxes().first().text.isEmpty());
    EXPECT_EQ(form.state().DefaultSceneries.count(), 0);
}

TEST_F(WizardTest, TabFollowsTheDesignedOrderSkippingHiddenAndDisabledControls) {
    Form1 &form = makeForm();
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    auto tabChain = [&](QWidget *start, int steps) {
        start->setFocus(Qt::TabFocusReason);
        QStringList chain{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < steps; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            chain.append(QApplication::focusWidget()->objectName());
        }
        return chain;
    };
    EXPECT_EQ(tabChain(form.txtPath, 3),
              QStringList({"txtPath", "cmdBrowse", "cmdNextFrame", "txtPath"}));

    goToPage(form, 3);
    form.chkPass->click();
    EXPECT_EQ(tabChain(form.cComp, 10),
              QStringList({"cComp", "chkPass", "txtPass", "chkMask", "txtPass2", "cmdNextFrame",
                           "cmdBackFrame", "chkComment", "chkExpert", "cmdGO", "chkTexture"}));
}

TEST_F(WizardTest, NavigationFollowsThePageTable) {
    Form1 &form = makeForm();

    // Page 1 without a path: the message, nothing else.
    form.cmdNextFrame->click();
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].text, "ERROR: You did not specify a map!");
    EXPECT_EQ(boxes()[0].title, "No Map Specified");
    EXPECT_EQ(boxes()[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(boxes()[0].icon, MessageIcon::Error);
    expectPage(form, 1);

    // Back on page 1 does nothing, even when called directly.
    form.cmdBackFrame_Click();
    expectPage(form, 1);

    // Any text goes to page 2 and no further; the map is not read.
    form.txtPath->setText("no such map");
    form.cmdNextFrame->click();
    expectPage(form, 2);
    expectInsideParents(form);
    EXPECT_EQ(form.lScADD->count(), 0);
    EXPECT_EQ(boxes().size(), 1);

    form.cmdNextFrame->click();
    expectPage(form, 3);
    expectInsideParents(form);

    // Quit answered No: the question, then page 3 as it was.
    MessageBoxTestHook::setNextAnswer(MessageAnswer::No);
    form.cmdNextFrame->click();
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes()[1].text, "Are you sure you wish to quit?");
    EXPECT_EQ(boxes()[1].title, "Confirm Exit");
    EXPECT_EQ(boxes()[1].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes()[1].icon, MessageIcon::Information);
    EXPECT_EQ(programEnds, 0);
    expectPage(form, 3);

    // Back twice, then forward again: contents survive the trip.
    form.lScExclude->addItem("kept.png");
    form.chkPass->click();
    form.cmdBackFrame->click();
    expectPage(form, 2);
    form.cmdBackFrame->click();
    expectPage(form, 1);
    form.cmdNextFrame->click();
    form.cmdNextFrame->click();
    expectPage(form, 3);
    EXPECT_EQ(form.txtPath->text(), "no such map");
    EXPECT_EQ(items(form.lScExclude), QStringList({"kept.png"}));
    EXPECT_TRUE(form.chkPass->isChecked());
}

TEST_F(WizardTest, QuitAnsweredYesEndsAtOnceWithoutCleaningUp) {
    Form1 &form = makeForm();
    goToPage(form, 3);
    writeBytes(programFolder() + "/TEMP/Maps/staged.pms", "staged");

    MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes);
    form.cmdNextFrame->click();
    EXPECT_EQ(programEnds, 1);
    expectPage(form, 3);
    EXPECT_TRUE(QFile::exists(programFolder() + "/TEMP/Maps/staged.pms"));
}

TEST_F(WizardTest, ClosingAndEndingTheWindowEachClearTheStagingTree) {
    Form1 &form = makeForm();
    form.show();
    writeBytes(programFolder() + "/TEMP/Scenery-gfx/a.png", "a");
    writeBytes(programFolder() + "/TEMP/Textures/b.bmp", "b");
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(boxes().isEmpty()) << "closing asks nothing";
    EXPECT_FALSE(QFile::exists(programFolder() + "/TEMP/Scenery-gfx/a.png"));
    EXPECT_FALSE(QFile::exists(programFolder() + "/TEMP/Textures/b.bmp"));

    writeBytes(programFolder() + "/TEMP/Maps/c.pms", "c");
    this->form.reset();
    EXPECT_FALSE(QFile::exists(programFolder() + "/TEMP/Maps/c.pms"));
    EXPECT_TRUE(QDir(programFolder() + "/TEMP/Maps").exists());
}

TEST_F(WizardTest, MoveButtonsShiftSelectedAndAllItems) {
    Form1 &form = makeForm();
    goToPage(form, 2);
    form.lScADD->addItems({"a", "b", "(!) c"});
    form.lScExclude->addItem("x");

    form.lScADD->setCurrentRow(1);
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"a", "(!) c"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"x", "b"}));
    EXPECT_TRUE(form.lScADD->selectedItems().isEmpty());

    // No selection left: nothing moves.
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"a", "(!) c"}));

    // A marked item keeps its mark; it returns to the end of the list it came from.
    form.lScADD->setCurrentRow(1);
    form.cmdL2R->click();
    form.lScExclude->setCurrentRow(2);
    form.cmdR2L->click();
    form.lScADD->setCurrentRow(0);
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"(!) c"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"x", "b", "a"}));

    // All to the right, then all back: order kept, duplicates allowed.
    form.lScADD->addItem("x");
    form.cmdAllL2R->click();
    EXPECT_TRUE(items(form.lScADD).isEmpty());
    EXPECT_EQ(items(form.lScExclude), QStringList({"x", "b", "a", "(!) c", "x"}));
    form.cmdAllL2R->click();
    EXPECT_EQ(form.lScExclude->count(), 5);
    form.lScADD->addItem("first");
    form.cmdAllR2L->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"first", "x", "b", "a", "(!) c", "x"}));
    EXPECT_EQ(form.lScExclude->count(), 0);

    // An empty item is never moved.
    form.lScADD->addItem(QString());
    form.lScADD->setCurrentRow(6);
    form.cmdL2R->click();
    EXPECT_EQ(form.lScADD->count(), 7);
    EXPECT_EQ(form.lScExclude->count(), 0);
}

TEST_F(WizardTest, PasswordMaskAndCommentKeepTheirBoxesInStep) {
    Form1 &form = makeForm();
    goToPage(form, 3);
    form.txtPass->setText("secret");
    form.txtPass2->setText("other");

    // Mask off and on while the password is off: the second box stays disabled.
    form.chkMask->click();
    expectSettingsInvariants(form);
    form.chkMask->click();
    expectSettingsInvariants(form);
    EXPECT_FALSE(form.txtPass2->isEnabled());

    form.chkPass->click();
    expectSettingsInvariants(form);
    EXPECT_TRUE(form.txtPass2->isEnabled());

    form.chkMask->click(); // plain text, second box disabled but keeping its text
    expectSettingsInvariants(form);
    EXPECT_TRUE(form.txtPass->isEnabled());
    EXPECT_EQ(form.txtPass2->text(), "other");

    form.chkMask->click();
    form.chkPass->click();
    expectSettingsInvariants(form);
    EXPECT_EQ(form.txtPass->text(), "secret");
    EXPECT_EQ(form.txtPass2->text(), "other");

    form.chkComment->click();
    expectSettingsInvariants(form);
    form.txtComment->setPlainText("line one\nline two");
    EXPECT_EQ(form.commentText(), "line one\r\nline two");
    form.chkComment->click();
    expectSettingsInvariants(form);
    EXPECT_EQ(form.txtComment->toPlainText(), "line one\nline two");

    // What a build reads, at the moment it asks.
    form.chkPass->click();
    form.cComp->setCurrentIndex(3);
    const BuildInputs inputs = form.buildInputs();
    EXPECT_EQ(inputs.chkPass, 1);
    EXPECT_EQ(inputs.password, "secret");
    EXPECT_EQ(inputs.password2, "other");
    EXPECT_EQ(inputs.zip.compressionLevel, "3");
    EXPECT_EQ(inputs.zip.chkRecurse, 1);
    EXPECT_EQ(inputs.chkTexture, 1);
    EXPECT_EQ(form.passwordText(), "secret");
}

TEST_F(WizardTest, ExpertSwitchesResetToTheirDefaultsEveryTime) {
    Form1 &form = makeForm();
    goToPage(form, 3);
    form.chkExpert->click();
    expectSettingsInvariants(form);
    form.chkJunk->click();
    form.chkRecurse->click();
    form.chkUpdate->click();
    form.chkFreshen->click();
    EXPECT_EQ(form.buildInputs().zip.chkJunk, 1);

    auto expectDefaults = [&] {
        EXPECT_FALSE(form.chkJunk->isChecked());
        EXPECT_TRUE(form.chkRecurse->isChecked());
        EXPECT_FALSE(form.chkUpdate->isChecked());
        EXPECT_FALSE(form.chkFreshen->isChecked());
    };
    form.chkExpert->click();
    expectSettingsInvariants(form);
    expectDefaults();
    form.chkExpert->click();
    expectSettingsInvariants(form);
    expectDefaults();
}

TEST_F(WizardTest, CreditsLinkHandsTheAddressToTheBrowserOnEveryClick) {
    Form1 &form = makeForm();
    form.show();
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    openUrlResult = false; // no browser: nothing to see
    QTest::mouseClick(form.Label6, Qt::LeftButton);
    ASSERT_EQ(openedUrls.size(), 2);
    EXPECT_EQ(openedUrls[0], QUrl(WebAddress));
    EXPECT_EQ(openedUrls[1], QUrl(WebAddress));
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_FALSE(form.OpenBrowser(&form, "/some/document.txt").isValid());
    EXPECT_EQ(openedUrls.last(), QUrl::fromLocalFile("/some/document.txt"));
}

TEST_F(WizardTest, TextOutputAppendsWithoutLineBreaksOfItsOwnAndClears) {
    Form1 &form = makeForm();
    form.appendOutput("adding: a");
    form.appendOutput(" (deflated)\r\n");
    EXPECT_EQ(form.outputText(), "adding: a (deflated)\r\n");
    form.clearOutput();
    EXPECT_TRUE(form.outputText().isEmpty());
}
