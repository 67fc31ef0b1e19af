#include "wizard/SceneryList.h"

#include "wizard/WizardLayout.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace {

// Where an item's picture and name go: the picture close to the left edge, the name in all the
// width that is left, with a small margin on either side.
struct ItemParts {
    QRect picture;
    QRect name;
};

ItemParts partsOf(const QRect &itemRect, const QSize &pictureSize, const QWidget *viewport) {
    // An item is as wide as the longest name; only what the list shows of it counts.
    QRect item = itemRect;
    if (viewport)
        item.setRight(qMin(item.right(), viewport->rect().right()));
    constexpr int edge = 2;
    constexpr int gap = 4;
    const QRect picture(item.left() + edge, item.center().y() - pictureSize.height() / 2 + 1,
                        pictureSize.width(), pictureSize.height());
    return {picture, item.adjusted(picture.right() + 1 + gap - item.left(), 0, -edge, 0)};
}

// Draws an item as the style draws its background, selection and focus, with the name cut in
// its middle to the room partsOf() gives it.
class NameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        const QString name = item.text;
        const QIcon picture = item.icon;
        item.text.clear();
        item.icon = QIcon();
        item.features &= ~(QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration);
        const auto *list = qobject_cast<const QAbstractItemView *>(item.widget);
        QStyle *style = list ? list->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, list);

        const bool selected = item.state & QStyle::State_Selected;
        const ItemParts parts =
            partsOf(item.rect, item.decorationSize, list ? list->viewport() : nullptr);
        picture.paint(painter, parts.picture, Qt::AlignCenter,
                      item.state & QStyle::State_Enabled ? QIcon::Normal : QIcon::Disabled);
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter,
                          item.fontMetrics.elidedText(name, Qt::ElideMiddle, parts.name.width()));
        painter->restore();
    }
};

} // namespace

SceneryList::SceneryList(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setUniformItemSizes(true); // a map may list hundreds
    // Names are cut, never scrolled sideways: all the list's width goes to them.
    setItemDelegate(new NameDelegate(this));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true); // for entered()
    connect(this, &QListWidget::itemDoubleClicked, this, &SceneryList::moveRequested);
    connect(this, &QAbstractItemView::entered, this, &SceneryList::showTipAtOnce);
}

QString SceneryList::shownName(const QListWidgetItem *item) const {
    const QRect room = partsOf(visualItemRect(item), iconSize(), viewport()).name;
    return QFontMetrics(font()).elidedText(item->text(), Qt::ElideMiddle, room.width());
}

void SceneryList::showTipAtOnce(const QModelIndex &index) {
    const QListWidgetItem *item = itemFromIndex(index);
    if (item && shownName(item) != item->text())
        QToolTip::showText(QCursor::pos(), item->toolTip(), viewport(), visualItemRect(item));
}

void SceneryList::setPlaceholder(const QString &text) {
    m_placeholder = text;
    viewport()->update();
}

void SceneryList::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (selectedItems().isEmpty() && currentItem())
            currentItem()->setSelected(true);
        Q_EMIT moveRequested();
        event->accept();
        return;
    case Qt::Key_Delete:
        if (!selectedItems().isEmpty()) {
            Q_EMIT deleteRequested();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QListWidget::keyPressEvent(event);
}

void SceneryList::paintEvent(QPaintEvent *event) {
    QListWidget::paintEvent(event);
    if (count() > 0 || m_placeholder.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(WizardLayout::dimmed(WizardLayout::systemCaptionText()));
    painter.drawText(viewport()->rect().adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
                     m_placeholder);
}
