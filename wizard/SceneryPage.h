#pragma once
// Page 2, "Scenery-gfx" (frame Frame1): the sceneries that go into the archive (lScADD, in
// frame "ADD") and those left out (lScExclude, in "EXCLUDE"), and the four buttons between them
// that move items. The map reader fills the add list; a build packs what stands in it.

#include <QString>
#include <QStringList>

class QGroupBox;
class QListWidget;
class QPushButton;
class QWidget;

class SceneryPage {
public:
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    QListWidget *lScADD = nullptr;
    QListWidget *lScExclude = nullptr;
    QPushButton *cmdAllL2R = nullptr;
    QPushButton *cmdL2R = nullptr;
    QPushButton *cmdAllR2L = nullptr;
    QPushButton *cmdR2L = nullptr;

    // The texts of a list's items, in order.
    static QStringList itemTexts(const QListWidget *list);
    static void setItemTexts(QListWidget *list, const QStringList &texts);
    // Moves the selected item of `source` to the end of `target`; nothing when no item is
    // selected or its text is empty. The source is left without a selection.
    static void moveSelected(QListWidget *source, QListWidget *target);
    // Moves every item of `source`, in order, to the end of `target`.
    static void moveAll(QListWidget *source, QListWidget *target);

protected:
    // Makes the page on `window`, hidden, with its looks; the window wires its events.
    void buildSceneryPage(QWidget *window);
};
