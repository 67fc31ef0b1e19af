#pragma once
// The small pictures and tips of the scenery lists' items. Each item shows the image the game
// loads for it (intake's lookup, given by the last map read), decoded in the background by the
// shared GameImages and drawn sharp at the screen's pixel ratio; an item whose image the game
// cannot find, or that cannot be shown, shows a warning icon instead. An item that no prop of
// the map shows is grey. Items carry their looks wherever they move.

#include "intake/MapReader.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QSet>

class GameImages;
class QListWidget;
class QListWidgetItem;

class SceneryThumbnails : public QObject {
    Q_OBJECT

public:
    // Icons are this many logical pixels square.
    static constexpr int Edge = 16;
    // The tip's line for a scenery that no prop shows.
    static inline const QString UnusedTip =
        QStringLiteral("No prop of this map shows this scenery, so the game never loads it.");

    SceneryThumbnails(GameImages &images, QObject *parent = nullptr);

    // Decorates the items of `list` as they are added.
    void attach(QListWidget *list);
    // The images the last map read found, by scenery name (without "(!) "); undecorated
    // requests of an earlier map are dropped.
    void setImages(const QList<IntakeDetails::Scenery> &sceneries);

    // The tip of an item: its full name; for a "(!) " item also that the game cannot find
    // the image, so it will be left out; for an `unused` one that the game never loads it.
    static QString tipFor(const QString &itemText, const QString &reason = {}, bool unused = false);

private:
    void decorate(QListWidget *list, QListWidgetItem *item);
    void pictureReady(const QString &path);
    int deviceEdge(const QListWidget *list) const;

    GameImages &m_images;
    QList<QListWidget *> m_lists;
    QHash<QString, ImageFile> m_files; // by scenery name
    QSet<QString> m_unused;            // names of sceneries no prop shows
    QIcon m_blank;
};
