// Page 2: moving items between the add and the exclude list with the buttons, the keyboard and
// the mouse; what an item shows (picture, tip) and what an empty add list says; the preview.

#include "WizardTestSupport.h"
#include "support/MapWriter.h"

#include "intake/GameFolder.h"
#include "wizard/PreviewWindow.h"
#include "wizard/SceneryList.h"
#include "wizard/SceneryThumbnails.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

#include <tuple>

namespace {

// Clicks row `row` of `list` with `modifiers`, as the user would.
void clickRow(QListWidget *list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                      list->visualItemRect(list->item(row)).center());
}

} // namespace

TEST_F(WizardTest, ItemsMoveByButtonKeyAndDoubleClickOneOrSeveralAtATime) {
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
            const QString text = list->item(row)->text(), tip = list->item(row)->toolTip();
            EXPECT_EQ(tip.startsWith(text + "\nThe game cannot find") && tip.contains("left out"),
                      text.startsWith("(!) ") && tip != text)
                << tip.toStdString();
        }
    }

    // Shift and Ctrl select several items, which ">" and "<" move in list order; Enter and a
    // double click move an item across, Delete excludes it; none of them turns the page.
    form.show();
    QApplication::setActiveWindow(&form);
    form.lScADD->clear();
    form.lScExclude->clear();
    form.lScADD->addItems({"a", "b", "c", "d"});
    clickRow(form.lScADD, 0);
    clickRow(form.lScADD, 2, Qt::ControlModifier);
    form.cmdL2R->click();
    clickRow(form.lScExclude, 0);
    clickRow(form.lScExclude, 1, Qt::ShiftModifier);
    form.cmdR2L->click();
    EXPECT_EQ(items(form.lScADD), QStringList({"b", "d", "a", "c"}));

    form.lScADD->setFocus();
    form.lScADD->setCurrentRow(1, QItemSelectionModel::NoUpdate); // the cursor, nothing selected
    QTest::keyClick(form.lScADD, Qt::Key_Return);
    QTest::keyClick(form.lScADD, Qt::Key_Enter); // the cursor stayed in place: "a" goes next
    clickRow(form.lScADD, 0);
    QTest::keyClick(form.lScADD, Qt::Key_Delete);
    EXPECT_EQ(items(form.lScExclude), QStringList({"d", "a", "b"}));
    clickRow(form.lScExclude, 1); // a double click's first click
    QTest::mouseDClick(form.lScExclude->viewport(), Qt::LeftButton, Qt::NoModifier,
                       form.lScExclude->visualItemRect(form.lScExclude->item(1)).center());
    QTest::keyClick(form.lScExclude, Qt::Key_Delete); // excluded already: nothing
    EXPECT_EQ(items(form.lScADD), QStringList({"c", "a"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"d", "b"}));
    EXPECT_EQ(form.windowHeightTwips(), TallPageHeight);
    EXPECT_EQ(form.cmdNextFrame->text(), "Next >>") << "still page 2";
}

// A name too long for the list is cut in its middle, its extension kept, within what the list
// shows; its tip, the whole name, shows as soon as the mouse is on it.
TEST_F(WizardTest, ALongNameShowsItsEndAndItsTipAtOnce) {
    Form1 &form = makeForm();
    form.show();
    QApplication::setActiveWindow(&form);
    form.openMap(fixtureMap("ctf_Aftermath"));
    goToPage(form, 2);
    SceneryList *list = form.lScADD;
    int cut = 0;
    for (int row = 0; row < list->count(); ++row) {
        const QListWidgetItem *item = list->item(row);
        const QString shown = list->shownName(item);
        EXPECT_TRUE(shown.endsWith("." + QFileInfo(item->text()).suffix())) << shown.toStdString();
        EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(shown),
                  list->viewport()->width() - list->iconSize().width());
        list->scrollToItem(item);
        QToolTip::hideText();
        QTest::mouseMove(list->viewport(), list->visualItemRect(item).center());
        cut += shown != item->text();
        EXPECT_EQ(QToolTip::isVisible() && QToolTip::text() == item->toolTip(),
                  shown != item->text());
    }
    EXPECT_TRUE(cut > 0 && cut < list->count());
}

// Notices say in a row of their own above the lists what the game will miss: the game folder
// around the map, or its texture. The list frames keep their bottom.
TEST_F(WizardTest, NoticesTakeARowOfTheirOwnAboveTheLists) {
    QTemporaryDir game, lone;
    QDir().mkpath(game.filePath("scenery-gfx"));
    writeBytes(game.filePath("textures/here.png"), "x");
    Form1 &form = makeForm();
    for (const auto &[map, texture, said] :
         {std::tuple{game.filePath("maps/a.pms"), "here.png", QString()},
          {game.filePath("maps/b.pms"), "gone.png", SceneryPage::NoTexture.arg("gone.png")},
          {lone.filePath("maps/c.pms"), "here.png", SceneryPage::NoGameFolder},
          {lone.filePath("maps/unread.pms"), "", QString()}}) {
        MapSpec spec;
        spec.texture = texture;
        if (!spec.texture.isEmpty())
            writeMap(map, spec);
        form.openMap(map);
        const QLabel *notice = form.LabelGameFolder;
        EXPECT_EQ(notice->isHidden() ? QString() : notice->text(), said);
        const int top = notice->isHidden() ? 14 : notice->geometry().bottom() + 1;
        for (const QGroupBox *frame : {form.Frame2, form.Frame3})
            EXPECT_EQ(frame->geometry(), QRect(frame->x(), top, 127, 226 - top));
        EXPECT_EQ(form.lScADD->geometry().bottom(), form.Frame2->height() - 4);
    }
}

// Each item shows a picture of the image the game loads for it, made in the background for the
// screen's pixel ratio; an item whose image the game cannot find shows a warning. An empty add
// list says why it is empty.
TEST_F(WizardTest, ItemsShowPicturesOfTheirImages) {
    Form1 &form = makeForm();
    form.show();
    form.openMap(fixtureMap("ctf_Aftermath"));
    const qreal ratio = form.lScADD->devicePixelRatioF();
    EXPECT_TRUE(ratio == 2.0 || !qEnvironmentVariableIsSet("VELQUAR_SCALED_RUN"))
        << "run again at twice the size by CaptionsAreWholeAtTwiceTheSize";
    const GameFolder game(form.state().SoldatPath);
    const int edge = qCeil(16 * ratio);
    auto fileOf = [&](int row) { return game.scenery(form.lScADD->item(row)->text()).target; };
    // A loaded machine may take its time.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int row = 0; row < form.lScADD->count(); ++row) {
                if (!fileOf(row).isEmpty() && form.images().thumbnail(fileOf(row), edge).isNull())
                    return false;
            }
            return true;
        },
        30000));
    QCoreApplication::processEvents(); // the pictures reach their items
    const QImage warning = QApplication::style()
                               ->standardIcon(QStyle::SP_MessageBoxWarning)
                               .pixmap(QSize(16, 16), ratio)
                               .toImage();
    int pictures = 0;
    for (int row = 0; row < form.lScADD->count(); ++row) {
        const QString file = fileOf(row); // empty for a "(!) " item
        EXPECT_EQ(form.lScADD->item(row)->icon().pixmap(QSize(16, 16), ratio).toImage(),
                  file.isEmpty() ? warning : form.images().thumbnail(file, edge))
            << form.lScADD->item(row)->text().toStdString();
        pictures += !file.isEmpty();
    }
    EXPECT_GE(pictures, 10);
    EXPECT_LT(pictures, form.lScADD->count());

    QTemporaryDir stock;
    MapSpec stockOnly;
    stockOnly.sceneries = {{"cratebox.bmp", {}}, {"Grass.bmp", {}}};
    writeMap(stock.filePath("maps/stock.pms"), stockOnly);
    for (const auto &[map, excludeAll, why] :
         {std::tuple{stock.filePath("maps/stock.pms"), false,
                     "Every scenery of this map is stock: nothing to add"},
          std::tuple{fixtureMap(), true, "Every scenery of this map is excluded"},
          std::tuple{stock.filePath("maps/none.pms"), false, "No map read yet"}}) {
        form.openMap(map);
        if (excludeAll)
            form.cmdAllL2R_Click();
        EXPECT_EQ(form.lScADD->count(), 0);
        EXPECT_EQ(form.lScADD->placeholder(), QLatin1String(why));
    }
}

// "Preview..." opens the map's picture, and a scenery selected in either list outlines the props
// that show it. A scenery no prop shows is grey with a tip saying so; a map with no game folder
// around it says so above the lists.
TEST_F(WizardTest, PreviewOutlinesTheSelectedSceneriesProps) {
    QTemporaryDir game;
    QDir().mkpath(game.filePath("scenery-gfx"));
    for (const QString image : {"veg_bush_10.png", "rir-hotel.png"})
        ASSERT_TRUE(QFile::copy(testDataPath("soldat/scenery-gfx/" + image),
                                game.filePath("scenery-gfx/" + image)));
    MapSpec spec;
    spec.sceneries = {{"veg_bush_10.png", {}}, {"gone.png", {}}, {"rir-hotel.png", {}}};
    using Place = MapSpec::Prop::Place;
    spec.props = std::vector<MapSpec::Prop>{
        {1, 0, 1, Place{0, 0}}, {1, 1, 1, Place{200, 0}}, {2, 2, 1, Place{100, 150}}};
    writeMap(game.filePath("maps/x.pms"), spec);
    Form1 &form = makeForm();
    form.show();
    form.openMap(game.filePath("maps/x.pms"));
    goToPage(form, 2);
    EXPECT_TRUE(form.LabelGameFolder->isHidden());
    form.cmdPreview->click();
    PreviewWindow *preview = form.previewWindow();
    ASSERT_TRUE(preview && preview->isVisible());
    auto drawn = [&] {
        return QTest::qWaitFor([&] { return !preview->drawing(); }, 30000) &&
               !preview->preview().picture.isNull();
    };
    ASSERT_TRUE(drawn());

    ASSERT_EQ(items(form.lScADD),
              QStringList({"veg_bush_10.png", "(!) gone.png", "rir-hotel.png"}));
    form.lScADD->setCurrentRow(1);
    form.cmdL2R->click(); // "(!) gone.png" is selected where it is now, in the exclude list
    const struct {
        QListWidget *list;
        int row, outlines;
        const char *said;
    } selections[] = {{form.lScADD, 0, 2, "veg_bush_10.png: 2 prop(s)"},
                      {form.lScExclude, 0, 1, "cannot find this image"},
                      {form.lScADD, 1, 0, "no prop shows"}};
    for (const auto &s : selections) {
        s.list->setCurrentRow(s.row);
        EXPECT_EQ(preview->outlines().size(), s.outlines) << s.said;
        EXPECT_TRUE(preview->statusText().contains(QLatin1String(s.said)))
            << preview->statusText().toStdString();
    }
    const QListWidgetItem *used = form.lScADD->item(0), *unused = form.lScADD->item(1);
    EXPECT_EQ(unused->text(), "rir-hotel.png");
    EXPECT_TRUE(unused->toolTip().contains(SceneryThumbnails::UnusedTip));
    EXPECT_FALSE(used->toolTip().contains(SceneryThumbnails::UnusedTip));
    EXPECT_NE(unused->foreground().color(), used->foreground().color());

    QTemporaryDir lone;
    writeMap(lone.filePath("maps/x.pms"), spec);
    form.openMap(lone.filePath("maps/x.pms"));
    EXPECT_FALSE(form.LabelGameFolder->isHidden());
    EXPECT_EQ(form.LabelGameFolder->text(), SceneryPage::NoGameFolder);
    ASSERT_TRUE(drawn());
    EXPECT_TRUE(preview->preview().problems.join("\n").contains("no game folder"));
    spec.sceneries.resize(501);
    writeMap(game.filePath("maps/x.pms"), spec);
    form.openMap(game.filePath("maps/x.pms"));
    EXPECT_FALSE(form.LabelRefused->isHidden());
    EXPECT_EQ(form.LabelRefused->text(),
              "The game will not load this map: 501 sceneries (at most 500)");

    // A map that can no longer be read keeps saying so when the window's size changes.
    QFile::remove(lone.filePath("maps/x.pms"));
    preview->showMap(lone.filePath("maps/x.pms"));
    ASSERT_FALSE(drawn());
    QSignalSpy redrawn(preview, &PreviewWindow::pictureReady);
    preview->resize(preview->size() + QSize(20, 20));
    ASSERT_TRUE(redrawn.wait());
    EXPECT_TRUE(preview->statusText().contains("cannot be drawn"))
        << preview->statusText().toStdString();
}

// The preview opens in the map's proportions; a new map drops the drawing under way; a closed
// preview draws nothing until it is shown again.
TEST_F(WizardTest, PreviewTakesTheMapsShapeAndDrawsOnlyWhatIsWanted) {
    QTemporaryDir game;
    QDir().mkpath(game.filePath("scenery-gfx"));
    MapSpec wide, tall;
    wide.triangles = {{0, 0, 1000, 0, 1000, 250}};
    tall.triangles = {{0, 0, 250, 0, 250, 1000}};
    writeMap(game.filePath("maps/wide.pms"), wide);
    writeMap(game.filePath("maps/tall.pms"), tall);
    Form1 &form = makeForm();
    form.show();
    form.openMap(game.filePath("maps/wide.pms"));
    goToPage(form, 2);
    form.cmdPreview->click();
    PreviewWindow *preview = form.previewWindow();
    QSignalSpy ready(preview, &PreviewWindow::pictureReady);
    auto drawnMapWidth = [&] { // of the map last drawn, in map units
        return preview->preview().map.polygons.value(0).vertices[1].x;
    };
    ASSERT_TRUE(ready.wait(30000));
    const QWidget *canvas = preview->findChild<QWidget *>("PreviewCanvas");
    const QSize room = canvas->size() * canvas->devicePixelRatioF();
    const QSize picture = preview->preview().picture.size();
    EXPECT_LE(std::abs(room.width() - picture.width()) + std::abs(room.height() - picture.height()),
              4)
        << "canvas " << room.width() << " x " << room.height() << ", picture " << picture.width()
        << " x " << picture.height();

    preview->showMap(game.filePath("maps/tall.pms"));
    preview->showMap(game.filePath("maps/wide.pms"));
    ASSERT_TRUE(ready.wait(30000));
    EXPECT_EQ(drawnMapWidth(), 1000) << "the first picture after a change is of the last map";

    ready.clear();
    preview->showMap(game.filePath("maps/tall.pms"));
    preview->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview->drawing(); }, 30000));
    EXPECT_EQ(ready.size(), 0);
    EXPECT_EQ(drawnMapWidth(), 1000);
    preview->show();
    ASSERT_TRUE(ready.wait(30000));
    EXPECT_EQ(drawnMapWidth(), 250);
}
