#pragma once
// The map file reader: description, texture and scenery table of a game map (*.pms).

#include "intake/GameFolder.h"
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

// What a map file holds, as far as this program reads it. Texts are converted from the
// game's code page and not trimmed; scenery names are as stored (not lower-cased).
struct MapFileContents {
    QString description;
    QString texture;
    QStringList sceneryNames; // one per record, in file order; empty names included
};

// How an error begins when a file was read but its content is not a map's.
inline const QString NotAMap = QStringLiteral("This is not a Soldat map");

// Reads the fields of `path`. On failure returns false and sets `error` to a sentence naming
// the file and what is wrong with it: it is not a regular file or cannot be opened; or, after
// NotAMap, it is empty, ends inside a block or has a bad count. Never reads the geometry it
// skips, never waits on a FIFO or device.
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
        QString written; // the name as the map writes it
        QString item;    // the add-list item made of it
        ImageFile file;  // what the game loads for it
    };
    QList<Scenery> sceneries; // in add-list order
    ImageFile texture;        // what the game loads for TextureName
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
