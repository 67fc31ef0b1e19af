// The window as the user meets it: start-up, page navigation, the keyboard, the engine's lines
// and the clean-ups of the window's lifetime. Each page's own controls are tested beside it
// (SceneryPageTest, SettingsPageTest, CreditsStripTest).

#include "WizardTestSupport.h"

#include "package/ProgramInfo.h"
#include "wizard/WizardLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QToolTip>

#include <algorithm>
#include <string>
#include <tuple>

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
        if (frame && !frame->isHidden())
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

// True when a pixel of `row` is neither transparent nor the window's background: a caption cut
// off at its top or bottom leaves such ink on its edge row.
bool inkOnRow(const QImage &image, int row) {
    for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, row);
        if (pixel.alpha() > 0 && pixel.rgb() != WizardLayout::WindowBackground.rgb())
            return true;
    }
    return false;
}

// Every caption is shown whole, with the fonts the window really uses: labels and check boxes
// wide enough and not cut at top or bottom, frame titles given room for their font.
void expectCaptionsWhole(Form1 &form) {
    for (QWidget *widget : form.findChildren<QWidget *>()) {
        auto *label = qobject_cast<QLabel *>(widget);
        auto *box = qobject_cast<QCheckBox *>(widget);
        if (!label && !box)
            continue;
        const std::string name = widget->objectName().toStdString();
        const int needed = label ? QFontMetrics(label->font()).horizontalAdvance(label->text())
                                 : box->sizeHint().width();
        EXPECT_LE(needed, widget->width()) << name;
        const QImage image = widget->grab().toImage();
        EXPECT_FALSE(inkOnRow(image, 0)) << name << " is cut at the top";
        EXPECT_FALSE(inkOnRow(image, image.height() - 1)) << name << " is cut at the bottom";
    }
    for (QGroupBox *frame : form.findChildren<QGroupBox *>()) {
        if (frame->title().isEmpty())
            continue;
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxLabel, frame);
        const QFontMetrics metrics(frame->font());
        const std::string name = frame->objectName().toStdString();
        EXPECT_GE(title.height(), metrics.height()) << name;
        EXPECT_GE(title.width(), metrics.horizontalAdvance(frame->title())) << name;
        // Nothing inside the frame covers the title's letters, descenders included.
        const int inkBottom =
            title.top() + metrics.ascent() + metrics.boundingRect(frame->title()).bottom();
        const QRect ink(title.left(), title.top(), title.width(), inkBottom - title.top() + 1);
        for (QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (!child->isHidden()) {
                EXPECT_FALSE(child->geometry().intersects(ink))
                    << child->objectName().toStdString() << " covers the title of " << name;
            }
        }
    }
}

} // namespace

TEST_F(WizardTest, StartsOnTheSourceMapPageWithTheDesignedControls) {
    Form1 &form = makeForm();

    expectPage(form, 1);
    EXPECT_EQ(form.size(), QSize(326 - NominalFrameWidth, 141 - NominalFrameHeight));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the user must not resize the window";
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.windowTitle(), "Velquarindostrammelfenboriax             V1.0");
    EXPECT_EQ(form.windowTitle().size(), 45);
    EXPECT_EQ(form.Frame1, nullptr) << "pages 2 and 3 are made when first needed";
    EXPECT_EQ(form.Frame4, nullptr);

    // The staging tree lives in a private temporary folder, never in the program folder.
    EXPECT_TRUE(
        form.stagingFolder().startsWith(QDir::tempPath() + "/" + WindowStagingPrefix + "-"));
    EXPECT_TRUE(QDir(form.stagingFolder()).exists());
    EXPECT_FALSE(QFileInfo::exists(programFolder() + "/TEMP"));

    EXPECT_EQ(form.state().DefaultSceneries.count(), 255);
    EXPECT_TRUE(form.state().MapName.isEmpty());
    EXPECT_EQ(form.state().retcode, 0);

    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QCoreApplication::processEvents();
    EXPECT_EQ(form.windowIcon().availableSizes().size(), 2) << "set once the window is up";
    goToPage(form, 3);

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
    EXPECT_EQ(form.lScADD->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(form.Label5->text(), CreditsLine);
    EXPECT_EQ(form.Label6->text(), "Visit " + WebAddress);

    // Controls are found by their names, lie where they were designed and never stick out.
    ASSERT_NE(form.findChild<QPushButton *>("cmdGO"), nullptr);
    EXPECT_EQ(form.cmdGO->geometry(), QRect(6, 153, 160, 70));
    EXPECT_EQ(form.Frame3->geometry(), QRect(189, 14, 127, 212));
    expectInsideParents(form);
    EXPECT_TRUE(boxes().isEmpty());
    expectCaptionsWhole(form);
}

// At twice the size (QT_SCALE_FACTOR=2) a caption's letters must not lose their descenders,
// and the lists' pictures are made for the finer pixels (ItemsShowPicturesOfTheirImages).
TEST_F(WizardTest, CaptionsAreWholeAtTwiceTheSize) {
    if (!qEnvironmentVariableIsSet("VELQUAR_SCALED_RUN")) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_SCALE_FACTOR", "2");
        environment.insert("VELQUAR_SCALED_RUN", "1");
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=WizardTest.CaptionsAreWholeAtTwiceTheSize:"
                     "WizardTest.ItemsShowPicturesOfTheirImages"});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 2 tests")) << output.toStdString();
        return;
    }
    Form1 &form = makeForm();
    form.show();
    EXPECT_EQ(form.devicePixelRatio(), 2.0);
    goToPage(form, 3);
    expectCaptionsWhole(form);
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

// Tab reads page 3 as it is laid out, top to bottom and left to right, and every control shows
// that it has the focus.
TEST_F(WizardTest, TabReadsThePagesInOrderAndTheFocusShows) {
    Form1 &form = makeForm();
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    // The Tab chain from `start`, each control checked to look focused.
    auto tabChain = [&](QWidget *start) {
        QList<QWidget *> chain;
        for (QWidget *at = start; chain.size() < 30 && (chain.isEmpty() || at != start);
             at = QApplication::focusWidget()) {
            at->clearFocus();
            const QImage unfocused = at->grab().toImage();
            at->setFocus(Qt::TabFocusReason);
            EXPECT_NE(at->grab().toImage(), unfocused) << at->objectName().toStdString();
            chain << at;
            QTest::keyClick(at, Qt::Key_Tab);
        }
        return chain;
    };
    EXPECT_EQ(tabChain(form.txtPath),
              QList<QWidget *>({form.txtPath, form.cmdBrowse, form.cmdNextFrame}));
    goToPage(form, 2);
    EXPECT_EQ(tabChain(form.lScADD).size(), 9)
        << "both lists, four move buttons, Preview, Back and Next";

    goToPage(form, 3);
    for (QCheckBox *box : {form.chkPass, form.chkComment, form.chkExpert})
        box->click();
    const QList<QWidget *> chain = tabChain(form.cComp);
    EXPECT_EQ(chain.size(), 16);
    // As read: the page's left column, its right column (right of Line1), the buttons below;
    // in each top to bottom, a row left to right.
    auto place = [&](const QWidget *widget) {
        const QPoint at = widget->mapTo(&form, QPoint(0, 0));
        return std::make_tuple(widget->parentWidget() != form.Frame4 ? 2 : at.x() > form.Line1->x(),
                               at.y() / 6, at.x());
    };
    EXPECT_TRUE(std::is_sorted(chain.begin(), chain.end(),
                               [&](QWidget *a, QWidget *b) { return place(a) < place(b); }));
}

// Unticked check boxes and disabled text reach 4.5:1 against the page, as drawn.
TEST_F(WizardTest, UntickedBoxesAndDisabledTextStandOutFromThePage) {
    Form1 &form = makeForm();
    form.show();
    goToPage(form, 3);
    int disabled = 0;
    for (QCheckBox *box : form.Frame4->findChildren<QCheckBox *>()) {
        const QImage image = box->grab().toImage();
        const int square = box->height() + 2; // the indicator and its margin; then the caption
        double best[2] = {1, 1};
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                best[x >= square] = qMax(
                    best[x >= square], WizardLayout::contrastRatio(image.pixelColor(x, y),
                                                                   WizardLayout::WindowBackground));
        }
        EXPECT_GE(qMin(best[0], best[1]), 4.5) << box->objectName().toStdString();
        disabled += !box->isEnabled();
    }
    EXPECT_EQ(disabled, 4);
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

    // A typed path is read on the way to page 2; one that cannot be read keeps page 1.
    form.txtPath->setText("no such map");
    form.cmdNextFrame->click();
    expectPage(form, 1);
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes()[1].title, "Cannot Read Map");
    form.txtPath->setText(fixtureMap());
    form.cmdNextFrame->click();
    expectPage(form, 2);
    expectInsideParents(form);
    EXPECT_EQ(form.state().MapPath, fixtureMap());
    EXPECT_EQ(form.lScADD->count(), 4);
    EXPECT_EQ(boxes().size(), 2);

    form.cmdNextFrame->click();
    expectPage(form, 3);
    expectInsideParents(form);

    // Quit answered No: the question, then page 3 as it was.
    MessageBoxTestHook::setNextAnswer(MessageAnswer::No);
    form.cmdNextFrame->click();
    ASSERT_EQ(boxes().size(), 3);
    EXPECT_EQ(boxes()[2].text, "Are you sure you wish to quit?");
    EXPECT_EQ(boxes()[2].title, "Confirm Exit");
    EXPECT_EQ(boxes()[2].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes()[2].icon, MessageIcon::Information);
    EXPECT_EQ(programEnds, 0);
    expectPage(form, 3);

    // Back twice, then forward again: the map read stays read, contents survive the trip.
    form.lScExclude->addItem("kept.png");
    form.chkPass->click();
    form.cmdBackFrame->click();
    expectPage(form, 2);
    form.cmdBackFrame->click();
    expectPage(form, 1);
    form.cmdNextFrame->click();
    form.cmdNextFrame->click();
    expectPage(form, 3);
    EXPECT_EQ(items(form.lScExclude), QStringList({"kept.png"}));
    EXPECT_EQ(boxes().size(), 3);
    EXPECT_TRUE(form.chkPass->isChecked());
}

TEST_F(WizardTest, KeysClickTheFocusedButtonAndEscapeGoesBack) {
    Form1 &form = makeForm();
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.txtPath->setText(fixtureMap());

    QTest::keyClick(&form, Qt::Key_Escape);
    expectPage(form, 1);
    form.cmdNextFrame->setFocus();
    QTest::keyClick(form.cmdNextFrame, Qt::Key_Return);
    expectPage(form, 2);
    form.cmdNextFrame->setFocus();
    QTest::keyClick(form.cmdNextFrame, Qt::Key_Enter);
    expectPage(form, 3);
    form.txtComment->setFocus(); // Escape from inside a text box as well
    QTest::keyClick(form.txtComment, Qt::Key_Escape);
    expectPage(form, 2);
    QTest::keyClick(&form, Qt::Key_Escape);
    expectPage(form, 1);
    EXPECT_TRUE(boxes().isEmpty());
}

TEST_F(WizardTest, QuitAnsweredYesRemovesTheStagingFolderAndEndsAtOnce) {
    Form1 &form = makeForm();
    goToPage(form, 3);
    const QString staging = form.stagingFolder();
    writeBytes(staging + "/TEMP/Maps/staged.pms", "staged");

    MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes);
    form.cmdNextFrame->click();
    EXPECT_EQ(programEnds, 1);
    expectPage(form, 3);
    EXPECT_FALSE(QFileInfo::exists(staging));
}

TEST_F(WizardTest, ClosingAndEndingTheWindowEachClearTheStagingTree) {
    Form1 &form = makeForm();
    form.show();
    const QString staging = form.stagingFolder();
    writeBytes(staging + "/TEMP/Scenery-gfx/a.png", "a");
    writeBytes(staging + "/TEMP/Textures/b.bmp", "b");
    // Closing asks as "!! Quit !!" does; No keeps the window and its files.
    MessageBoxTestHook::setNextAnswer(MessageAnswer::No);
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(QFile::exists(staging + "/TEMP/Textures/b.bmp"));
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes);
    EXPECT_TRUE(form.close());
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes()[1].text, "Are you sure you wish to quit?");
    EXPECT_EQ(boxes()[1].buttons, MessageButtons::YesNo);
    EXPECT_FALSE(QFile::exists(staging + "/TEMP/Scenery-gfx/a.png"));
    EXPECT_FALSE(QFile::exists(staging + "/TEMP/Textures/b.bmp"));

    writeBytes(staging + "/TEMP/Maps/c.pms", "c");
    this->form.reset();
    EXPECT_FALSE(QFileInfo::exists(staging)) << "the folder goes with the window";
}

TEST_F(WizardTest, EngineLinesShowOnFreeBackgroundAndInEveryFailureBox) {
    Form1 &form = makeForm();
    form.show();
    form.appendOutput("adding: a");
    form.appendOutput(" (deflated)\r\n\abell\r\n");
    EXPECT_EQ(form.outputText(), "adding: a (deflated)\r\n\abell\r\n");
    EXPECT_EQ(form.engineLines(), "adding: a (deflated)\n bell\n");

    // No control covers the lines, on any page.
    form.txtPath->setText(fixtureMap());
    for (int page = 1; page <= 3; ++page) {
        if (page > 1)
            form.cmdNextFrame->click();
        for (QWidget *child : form.findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisible()) {
                EXPECT_FALSE(child->geometry().intersects(form.outputArea()))
                    << child->objectName().toStdString() << " on page " << page;
            }
        }
        EXPECT_GE(form.outputArea().height(), QFontMetrics(form.font()).lineSpacing());
    }

    const QList<std::pair<MessageIcon, bool>> icons = {{MessageIcon::Error, true},
                                                       {MessageIcon::Warning, true},
                                                       {MessageIcon::Information, false},
                                                       {MessageIcon::None, false}};
    for (const auto &[icon, withDetails] : icons)
        form.showMessage("text", "title", icon);
    ASSERT_EQ(boxes().size(), icons.size());
    for (qsizetype i = 0; i < icons.size(); ++i)
        EXPECT_EQ(boxes()[i].details, icons[i].second ? form.engineLines() : QString()) << i;

    // The latest line, whole, is the tip of the lines; back on page 1 they are gone.
    const QString note = "The map is stored as maps/other.pms, the name the game looks for.";
    form.appendOutput(note + "\n \n");
    QHelpEvent tip(QEvent::ToolTip, form.outputArea().center(),
                   form.mapToGlobal(form.outputArea().center()));
    QApplication::sendEvent(&form, &tip);
    EXPECT_EQ(QToolTip::text(), note);
    form.cmdBackFrame->click();
    EXPECT_FALSE(form.outputText().isEmpty()) << "kept on page 2";
    form.cmdBackFrame->click();
    EXPECT_TRUE(form.outputText().isEmpty());
}
