#pragma once
// The map file reader: a game map (*.pms) into its model, and the add list made of it.

#include "intake/GameFolder.h"
#include "intake/MapModel.h"
#include "intake/WizardState.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

// Marker in front of an add-list item whose image is not in the game's scenery-gfx folder.
inline const QString MissingMarker = QStringLiteral("(!) ");
// An add-list item's scenery name, without the marker.
inline QString withoutMarker(const QString &item) {
    return item.startsWith(MissingMarker) ? item.mid(MissingMarker.size()) : item;
}

// Reads the map at `path` up to the end of its scenery list. On failure returns false and sets
// `error` to a sentence naming the file and what is wrong with it: not a regular file, cannot
// be opened, "This is not a Soldat map" and why (empty, an image, text, another version), ends
// inside a block, or a count out of its limits. Every count is checked against the bytes
// that are there before anything is made for it. Never waits on a FIFO or device.
// A count the game refuses (GameLimits) does not end the read: it goes to `contents.refused`,
// with the counts of the blocks after the scenery list where the file holds them.
bool readMapFile(const QString &path, MapFileContents &contents, QString &error);

// The same from an open, seekable device; `shownName` names it in the error.
bool readMapFrom(QIODevice &device, const QString &shownName, MapFileContents &contents,
                 QString &error);

// The game root for a map path: the nearest folder, from the map's own folder upwards, that
// holds a scenery-gfx folder (letter case ignored); else the parent of the map's folder.
// Always ends with '/'. Relative paths are taken against the current folder.
QString gameFolderForMap(const QString &pathBoxText);

// What a read found for each add-list item and for the texture, for callers that show it.
struct IntakeDetails {
    struct Scenery {
        QString written;  // the name as the map writes it
        QString item;     // the add-list item made of it
        ImageFile file;   // what the game loads for it
        bool used = true; // a drawn prop shows it; otherwise the game never loads it
    };
    QList<Scenery> sceneries; // in add-list order
    ImageFile texture;        // what the game loads for TextureName
    // False when no folder beside or above the map holds a scenery-gfx folder: the map lies
    // outside any game folder, and every image counts as missing.
    bool inGameFolder = false;
    QList<RefusedCount> refused; // the counts the game refuses: it will not load the map
};

// Builds the add list for a map: clears `ListBox1`, reads the map at `filepath` (used as it
// is: a path may hold any character) and, for every non-empty, non-stock scenery, appends its
// lower-cased name, or MissingMarker + name when the game would not find its image (see
// GameFolder) or the name is not a plain file name. On success sets MapDescription,
// TextureName, SoldatPath (from `pathBoxText`, whether or not the map has sceneries) and
// MapPath (`filepath`). An empty path only clears the list.
// `cache`, when given, supplies the game folder's listing (kept across calls); otherwise the
// game folder is listed afresh. `details`, when given, receives what was looked up.
// When the map cannot be read: returns false, `error` says why, the list stays empty,
// MapPath is emptied (the path box no longer names a map that was read) and the other fields
// keep their earlier values.
bool listStuff(WizardState &state, QString &filepath, const QString &pathBoxText,
               QStringList &ListBox1, QString &error, GameFolderCache *cache = nullptr,
               IntakeDetails *details = nullptr);
