#pragma once
// Page 2, "Scenery-gfx" (frame Frame1): the sceneries that go into the archive (lScADD, in
// frame "ADD") and those left out (lScExclude, in "EXCLUDE"), and the four buttons between them
// that move items. The map reader fills the add list; a build packs what stands in it. Items
// show small pictures of their images (SceneryThumbnails). "Preview..." below the move buttons
// opens the map's picture; notice lines above the lists, one a row, say when the game will not
// load the map, and what it will miss: no game folder around the map, or its texture.

#include "wizard/SceneryList.h"

#include <QString>
#include <QStringList>

class GameImages;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;
class SceneryThumbnails;

class SceneryPage {
public:
    QGroupBox *Frame1 = nullptr;
    QGroupBox *Frame2 = nullptr;
    QGroupBox *Frame3 = nullptr;
    SceneryList *lScADD = nullptr;
    SceneryList *lScExclude = nullptr;
    QPushButton *cmdAllL2R = nullptr;
    QPushButton *cmdL2R = nullptr;
    QPushButton *cmdAllR2L = nullptr;
    QPushButton *cmdR2L = nullptr;
    QPushButton *cmdPreview = nullptr;
    QLabel *LabelGameFolder = nullptr; // no game folder around the map, or no texture in it
    // Why the game will not load the map (refusedSentence); hidden when it will.
    QLabel *LabelRefused = nullptr;
    SceneryThumbnails *thumbnails = nullptr;

    // Why an empty add list is empty.
    static inline const QString NoMapYet = QStringLiteral("No map read yet");
    static inline const QString AllStock =
        QStringLiteral("Every scenery of this map is stock: nothing to add");
    static inline const QString AllExcluded =
        QStringLiteral("Every scenery of this map is excluded");
    // Above the lists for a map with no game folder around it, or whose texture the game
    // folder lacks (%1 its name).
    static inline const QString NoGameFolder = QStringLiteral("No game folder around this map");
    static inline const QString NoTexture = QStringLiteral("The game folder lacks the texture %1");

    // The notice lines above the lists, in order; hidden ones take no room.
    QList<QLabel *> noticeLines() const { return {LabelRefused, LabelGameFolder}; }
    // Says what the game will miss of the map last read: no game folder around it, or its
    // texture `textureName` (when there is one and it was not found); nothing once `read`
    // failed.
    void showMapNotice(bool read, bool inGameFolder, const QString &textureName, bool textureFound,
                       const QString &refused = {});
    // Stacks the shown notice lines one a row below the page's caption, each cut in its
    // middle to the page's width; the list frames take the room below them.
    void placeNotices();
    // The line saying why the game will not load the map; hidden for an empty `refused`.
    void showRefusal(QString refused);

    // The texts of a list's items, in order.
    static QStringList itemTexts(const QListWidget *list);
    static void setItemTexts(QListWidget *list, const QStringList &texts);
    // Moves the selected items of `source`, in list order, to the end of `target`; items with
    // an empty text stay. The source is left without a selection, its cursor where the first
    // moved item was, so that the keyboard carries on there.
    static void moveSelected(QListWidget *source, QListWidget *target);
    // Moves every item of `source`, in order, to the end of `target`.
    static void moveAll(QListWidget *source, QListWidget *target);

protected:
    // Makes the page on `window`, hidden, with its looks; the window wires its events.
    // `images` decodes the items' pictures.
    void buildSceneryPage(QWidget *window, GameImages &images);
};
