#pragma once
// The generated readme, packed beside the map and quoted in the archive comment.

#include "intake/WizardState.h"

#include <QString>

// Composes the ten-line readme from the state and the window's values and stores it in
// state.NFO (lines joined with CR LF, no line break after the last).
void GenerateNFO(WizardState &state, const QString &comment, int addCount, int excludeCount);

// A copy of state.NFO.
QString GetNFO(const WizardState &state);

// Appends NFO and CR LF to <program folder>/TEMP/Maps/<MapName>_ReadMe.txt in the game's code
// page. False when the file cannot be written.
bool writeReadmeFile(const QString &programFolder, const WizardState &state);
