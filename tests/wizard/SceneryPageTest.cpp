// Page 2: moving items between the add and the exclude list with the buttons, the keyboard and
// the mouse; what an item shows (picture, tip) and what an empty add list says.

#include "WizardTestSupport.h"
#include "support/MapWriter.h"

#include "intake/GameFolder.h"
#include "wizard/SceneryList.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace {

// Clicks row `row` of `list` with `modifiers`, as the user would.
void clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                      list->visualItemRect(list->item(row)).center());
}

} // namespace

TEST_F(WizardTest, MoveButtonsShiftSelectedAndAllItems) {
    Form1 &form = makeForm();
    goToPage(form, 2);
    form.lScADD->clear();
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

    // Every item, however it came there, names itself in full as its tip; a marked one also
    // says that the game cannot find its image, so it will be left out.
    form.cmdAllL2R->click();
    for (QListWidget *list : {form.lScADD, form.lScExclude}) {
        for (int row = 0; row < list->count(); ++row) {
            const QString tip = list->item(row)->toolTip();
            EXPECT_TRUE(tip.startsWith(list->item(row)->text()));
            const bool marked = list->item(row)->text().startsWith("(!) ");
            EXPECT_EQ(marked, tip.contains("cannot find") && tip.contains("left out"))
                << tip.toStdString();
        }
    }
}

// Shift and Ctrl select several items, which ">" and "<" move in list order; Enter and a double
// click move an item across, Delete excludes it, and none of them turns the page.
TEST_F(WizardTest, ListsTakeSeveralItemsTheKeyboardAndTheMouse) {
    Form1 &form = makeForm();
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    goToPage(form, 2);
    form.lScADD->clear();
    form.lScADD->addItems({"a", "b", "c", "d"});

    clickRow(form.lScADD, 0);
    clickRow(form.lScADD, 2, Qt::ControlModifier);
    form.cmdL2R->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"b", "d"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"a", "c"}));
    clickRow(form.lScExclude, 0);
    clickRow(form.lScExclude, 1, Qt::ShiftModifier);
    form.cmdR2L->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"b", "d", "a", "c"}));

    form.lScADD->setFocus();
    form.lScADD->setCurrentRow(1, QItemSelectionModel::NoUpdate); // the cursor, nothing selected
    QTest::keyClick(form.lScADD, Qt::Key_Return);
    EXPECT_EQ(items(form.lScExclude), QStringList({"d"}));
    QTest::keyClick(form.lScADD, Qt::Key_Enter); // the cursor stayed in place: "a" goes next
    clickRow(form.lScADD, 0);
    QTest::keyClick(form.lScADD, Qt::Key_Delete);
    EXPECT_EQ(items(form.lScADD), QStringList({"c"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"d", "a", "b"}));
    clickRow(form.lScExclude, 1); // a double click's first click
    QTest::mouseDClick(form.lScExclude->viewport(), Qt::LeftButton, Qt::NoModifier,
                       form.lScExclude->visualItemRect(form.lScExclude->item(1)).center());
    EXPECT_EQ(items(form.lScADD), QStringList({"c", "a"}));
    form.lScExclude->setFocus();
    QTest::keyClick(form.lScExclude, Qt::Key_Delete); // excluded already: nothing
    EXPECT_EQ(items(form.lScExclude), QStringList({"d", "b"}));
    EXPECT_EQ(form.windowHeightTwips(), TallPageHeight);
    EXPECT_EQ(form.cmdNextFrame->text(), "Next >>");
}

TEST_F(WizardTest, AnEmptyAddListSaysWhy) {
    QTemporaryDir game;
    MapSpec stockOnly;
    stockOnly.sceneries = {{"cratebox.bmp", {}}, {"Grass.bmp", {}}};
    writeMap(game.filePath("maps/stock.pms"), stockOnly);
    Form1 &form = makeForm();
    const struct {
        QString map;
        bool excludeAll;
        QString why;
    } cases[] = {{game.filePath("maps/stock.pms"), false,
                  "Every scenery of this map is stock: nothing to add"},
                 {fixtureMap(), true, "Every scenery of this map is excluded"},
                 {game.filePath("maps/none.pms"), false, "No map read yet"}};
    for (const auto &c : cases) {
        form.openMap(c.map);
        if (c.excludeAll)
            form.cmdAllL2R_Click();
        EXPECT_EQ(form.lScADD->count(), 0);
        EXPECT_EQ(form.lScADD->placeholder(), c.why);
    }
}

// Each item shows a picture of the image the game loads for it, made in the background and
// sharp at the screen's pixel ratio; an item whose image the game cannot find shows a warning.
TEST_F(WizardTest, ItemsShowPicturesOfTheirImages) {
    Form1 &form = makeForm();
    form.show();
    form.openMap(fixtureMap("ctf_Aftermath"));
    const qreal ratio = form.lScADD->devicePixelRatioF();
    const QImage warning = QApplication::style()
                               ->standardIcon(QStyle::SP_MessageBoxWarning)
                               .pixmap(QSize(16, 16), ratio)
                               .toImage();
    const GameFolder game(form.state().SoldatPath);
    int pictures = 0;
    for (int row = 0; row < form.lScADD->count(); ++row) {
        QListWidgetItem *item = form.lScADD->item(row);
        const QString name = item->text();
        auto shown = [&] { return item->icon().pixmap(QSize(16, 16), ratio).toImage(); };
        if (name.startsWith("(!) ")) {
            EXPECT_EQ(shown(), warning) << name.toStdString();
            continue;
        }
        const QString file = game.scenery(name).target;
        const int edge = qCeil(16 * ratio);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.images().thumbnail(file, edge).isNull(); }))
            << name.toStdString();
        QCoreApplication::processEvents();
        EXPECT_EQ(shown(), form.images().thumbnail(file, edge)) << name.toStdString();
        ++pictures;
    }
    EXPECT_GE(pictures, 10);
    EXPECT_LT(pictures, form.lScADD->count());
    if (qEnvironmentVariableIsSet("VELQUAR_SCALED_RUN")) {
        EXPECT_EQ(ratio, 2.0) << "run again at twice the size by CaptionsAreWholeAtTwiceTheSize";
    }
}
