#pragma once
// File names as the map and the game folder give them: which ones are safe to use, and the
// folder lookup that ignores letter case, as the game's own platform does.

#include <QString>

// True for a text that can safely be used as one file name inside a folder: not empty, not
// "." or "..", and holding no '/', '\\' or NUL.
bool isPlainFileName(const QString &name);

// The folder `name` directly under `parent`, found ignoring letter case (an exact match wins).
// Returns the path with the name as stored on disk, or an empty string when there is none.
// `error`, when given, gets the system's reason when `parent` exists but could not be listed:
// then whether it has such a folder is unknown.
QString findFolderIgnoringCase(const QString &parent, const QString &name,
                               QString *error = nullptr);

// True when `path` lies inside `folder`, below it at any depth; both canonical. `folder` may be
// a root ("/", "C:/"); an empty one holds nothing.
bool isInsideFolder(const QString &path, const QString &folder);
