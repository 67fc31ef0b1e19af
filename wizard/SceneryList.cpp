#include "wizard/SceneryList.h"

#include "wizard/WizardLayout.h"

#include <QKeyEvent>
#include <QPainter>

SceneryList::SceneryList(QWidget *parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
    setUniformItemSizes(true); // a map may list hundreds
    connect(this, &QListWidget::itemDoubleClicked, this, &SceneryList::moveRequested);
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
