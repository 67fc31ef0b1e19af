#pragma once
// The small pictures and tips of the scenery lists' items. Each item shows the image the game
// loads for it (intake's lookup, given by the last map read), decoded in the background by the
// shared GameImages and drawn sharp at the screen's pixel ratio; an item whose image the game
// cannot find, or that cannot be shown, shows a warning icon instead. Items carry their
// picture wherever they move.

#include "intake/MapReader.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>

class GameImages;
class QListWidget;
class QListWidgetItem;

class SceneryThumbnails : public QObject {
    Q_OBJECT

public:
    // Icons are this many logical pixels square.
    static constexpr int Edge = 16;

    SceneryThumbnails(GameImages &images, QObject *parent = nullptr);

    // Decorates the items of `list` as they are added.
    void attach(QListWidget *list);
    // The images the last map read found, by scenery name (without "(!) "); undecorated
    // requests of an earlier map are dropped.
    void setImages(const QList<IntakeDetails::Scenery> &sceneries);

    // The tip of an item: its full name; for a "(!) " item also that the game cannot find
    // the image, so it will be left out.
    static QString tipFor(const QString &itemText, const QString &reason = {});

private:
    void decorate(QListWidget *list, QListWidgetItem *item);
    void pictureReady(const QString &path);
    int deviceEdge(const QListWidget *list) const;

    GameImages &m_images;
    QList<QListWidget *> m_lists;
    QHash<QString, ImageFile> m_files; // by scenery name
    QIcon m_blank;
};
