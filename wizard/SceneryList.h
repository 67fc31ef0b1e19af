#pragma once
// A scenery list of page 2 as the user works it: several items selected with Shift and Ctrl;
// Enter, Return or a double click asks to move the selection to the other list, Delete asks
// to exclude it; an empty list says why it is empty. A name too long for the list is cut in
// its middle, so that its end and extension stay in sight, and its tip shows as soon as the
// mouse is on it.

#include <QListWidget>
#include <QString>

class SceneryList : public QListWidget {
    Q_OBJECT

public:
    explicit SceneryList(QWidget *parent = nullptr);

    // Shown in the middle of the list while it has no items.
    void setPlaceholder(const QString &text);
    const QString &placeholder() const { return m_placeholder; }
    // The name of `item` as the list shows it: whole, or cut in its middle for want of room.
    QString shownName(const QListWidgetItem *item) const;

Q_SIGNALS:
    // Enter or Return (with nothing selected, the item under the cursor is taken), or a
    // double click on an item. The keys are always taken here: they never reach the window's
    // default button.
    void moveRequested();
    // Delete, with an item selected.
    void deleteRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void showTipAtOnce(const QModelIndex &index);

    QString m_placeholder;
};
