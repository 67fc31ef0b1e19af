#pragma once
// The generated readme, packed beside the map and quoted in the archive comment.

#include "intake/WizardState.h"
#include "package/Staging.h"

#include <QString>

// Composes the ten-line readme from the state and the window's values and stores it in
// state.NFO (lines joined with CR LF, no line break after the last).
void GenerateNFO(WizardState &state, const QString &comment, int addCount, int excludeCount);

// A copy of state.NFO.
QString GetNFO(const WizardState &state);

// Where the readme goes: beside the staged map, <maps folder>/<MapName>_ReadMe.txt.
QString readmePath(const StagingPaths &paths, const WizardState &state);

// Appends NFO and CR LF to `path` in the game's code page, or, when NFO holds characters the
// code page lacks (a map named in Cyrillic), in UTF-8 after a byte-order mark. False, with
// `error` set, when the file cannot be written completely.
bool writeReadmeFile(const QString &path, const WizardState &state, QString &error);
