#include "wizard/SceneryPage.h"

#include "wizard/SceneryList.h"
#include "wizard/SceneryThumbnails.h"
#include "wizard/WizardLayout.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {

// The two list frames start two pixels below the page's caption, which they would cut.
constexpr int ListFrameTop = 210;
constexpr int ListFrameHeight = 3180;
constexpr int ListTop = 180;
constexpr int ListHeight = 2955;
// Notice lines start at the page's left edge, as the list frames do, and end where they do.
constexpr int NoticeLeft = 45;
constexpr int NoticeRight = 4740;

} // namespace

void SceneryPage::buildSceneryPage(QWidget *window, GameImages &images) {
    using namespace WizardLayout;
    Frame1 = makeFrame(window, "Frame1", QStringLiteral("Scenery-gfx"), 0, 0, 4785, 3435);
    Frame1->hide();
    Frame2 =
        makeFrame(Frame1, "Frame2", QStringLiteral("ADD"), 45, ListFrameTop, 1905, ListFrameHeight);
    lScADD = place(new SceneryList(Frame2), "lScADD", 45, ListTop, 1815, ListHeight);
    lScADD->setToolTip(QStringLiteral("Sceneries that will be added to the ZIP archive."));
    Frame3 = makeFrame(Frame1, "Frame3", QStringLiteral("EXCLUDE"), 2835, ListFrameTop, 1905,
                       ListFrameHeight);
    lScExclude = place(new SceneryList(Frame3), "lScExclude", 45, ListTop, 1815, ListHeight);
    lScExclude->setToolTip(QStringLiteral("Sceneries that will NOT be added to the ZIP Archive."));
    thumbnails = new SceneryThumbnails(images, Frame1);
    for (QListWidget *list : {lScADD, lScExclude})
        thumbnails->attach(list);
    lScADD->setPlaceholder(NoMapYet);
    cmdAllL2R = makeButton(Frame1, "cmdAllL2R", QStringLiteral(">>"), 2025, 585, 735, 420,
                           QStringLiteral("Exclude All"));
    cmdL2R = makeButton(Frame1, "cmdL2R", QStringLiteral(">"), 2025, 1080, 735, 420,
                        QStringLiteral("Exclude Selected"));
    cmdAllR2L = makeButton(Frame1, "cmdAllR2L", QStringLiteral("<<"), 2025, 2700, 735, 420,
                           QStringLiteral("Add All"));
    cmdR2L = makeButton(Frame1, "cmdR2L", QStringLiteral("<"), 2025, 2205, 735, 420,
                        QStringLiteral("Add Selected"));
    // In the free room between the two pairs of move buttons, as wide as the gap between the
    // lists allows.
    cmdPreview = makeButton(Frame1, "cmdPreview", QStringLiteral("Preview..."), 1980, 1643, 825,
                            420, QStringLiteral("See the map as the game shows it"));
    // Placed by placeNotices(), in a row of its own, as wide as the page.
    LabelGameFolder = makeLabel(Frame1, "LabelGameFolder", NoGameFolder, NoticeLeft, ListFrameTop,
                                NoticeRight - NoticeLeft, 180);
    LabelGameFolder->hide();
    LabelRefused = makeLabel(Frame1, "LabelRefused", QString(), NoticeLeft, ListFrameTop,
                             NoticeRight - NoticeLeft, 180);
    LabelRefused->hide();

    setFonts(Frame1, window->font());
    for (QGroupBox *listFrame : {Frame2, Frame3})
        listFrame->setFont(titleFont(6.75, true));
    for (QLabel *label : {LabelGameFolder, LabelRefused})
        label->setFont(titleFont(6.75, true));
    for (QListWidget *list : {lScADD, lScExclude})
        list->setFont(systemSansFont(8.25));
    const QColor captionText = systemCaptionText();
    finishLooks(Frame1, {{lScADD, captionText},
                         {lScExclude, captionText},
                         {LabelGameFolder, FocusRing},
                         {LabelRefused, FocusRing}});
}

void SceneryPage::showMapNotice(bool read, bool inGameFolder, const QString &textureName,
                                bool textureFound, const QString &refused) {
    showRefusal(read ? refused : QString());
    QString text, tip;
    if (read && !inGameFolder) {
        text = NoGameFolder;
        tip = QStringLiteral("No scenery-gfx folder lies beside or above the map, so every image "
                             "counts as missing. Move the map into a game folder's maps folder.");
    } else if (read && !textureName.isEmpty() && !textureFound) {
        text = NoTexture.arg(textureName);
        tip = text + QStringLiteral(", so the archive will lack it, and the map will show no "
                                    "texture where the texture is not installed.");
    }
    // A long texture name is cut in its middle; the tip holds it whole.
    LabelGameFolder->setText(WizardLayout::shortened(QFontMetrics(LabelGameFolder->font()), text,
                                                     LabelGameFolder->width(), Qt::ElideMiddle));
    LabelGameFolder->setToolTip(tip);
    LabelGameFolder->setVisible(!text.isEmpty());
    placeNotices();
}

void SceneryPage::showRefusal(QString refused) {
    if (!refused.isEmpty())
        refused[0] = refused[0].toUpper();
    LabelRefused->setText(WizardLayout::shortened(QFontMetrics(LabelRefused->font()), refused,
                                                  LabelRefused->width(), Qt::ElideRight));
    LabelRefused->setToolTip(refused.isEmpty()
                                 ? QString()
                                 : refused + QStringLiteral(": a count in the map is over the "
                                                            "game's own limit, and the game "
                                                            "refuses the whole map."));
    LabelRefused->setVisible(!refused.isEmpty());
}

void SceneryPage::placeNotices() {
    using namespace WizardLayout;
    int top = px(ListFrameTop);
    for (QLabel *line : noticeLines()) {
        if (line->isHidden())
            continue;
        line->setGeometry(px(NoticeLeft), top, px(NoticeRight - NoticeLeft),
                          QFontMetrics(line->font()).height() + 2);
        top += line->height();
    }
    const int taken = top - px(ListFrameTop);
    for (QGroupBox *frame : {Frame2, Frame3}) {
        frame->setGeometry(frame->x(), top, frame->width(), px(ListFrameHeight) - taken);
        QWidget *list = frame == Frame2 ? lScADD : lScExclude;
        list->setGeometry(list->x(), list->y(), list->width(), px(ListHeight) - taken);
    }
}

QStringList SceneryPage::itemTexts(const QListWidget *list) {
    QStringList texts;
    texts.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

void SceneryPage::setItemTexts(QListWidget *list, const QStringList &texts) {
    list->clear();
    list->addItems(texts);
}

void SceneryPage::moveSelected(QListWidget *source, QListWidget *target) {
    QList<int> rows;
    for (const QListWidgetItem *item : source->selectedItems()) {
        if (!item->text().isEmpty())
            rows.append(source->row(item));
    }
    std::sort(rows.begin(), rows.end());
    for (const int row : std::as_const(rows))
        target->addItem(source->item(row)->text());
    for (auto row = rows.crbegin(); row != rows.crend(); ++row)
        delete source->takeItem(*row);
    source->clearSelection();
    if (!rows.isEmpty() && source->count() > 0)
        source->setCurrentRow(qMin(rows.first(), source->count() - 1),
                              QItemSelectionModel::NoUpdate);
}

void SceneryPage::moveAll(QListWidget *source, QListWidget *target) {
    target->addItems(itemTexts(source));
    source->clear();
}
