#pragma once
// The wizard's working data. Owned by the window (or by mapzip), lives as long as it does.

#include "intake/DefaultSceneries.h"

#include <QString>
#include <QtGlobal>

struct WizardState {
    QString TextureName;    // the map's texture file name, as read from the map
    QString MapDescription; // the map's description, as read from the map
    QString MapName;        // map file name without folder and last extension (set by a build)
    QString NFO;            // the generated readme text
    QString SoldatPath;     // the game's root folder, ends with '/'
    QString MapPath;        // the map last read successfully; empty when the last read failed
    QString rSaveTo;        // the archive path chosen in this build's save dialog
    QString SaveFolder;     // the folder of the last save, where the next save dialog opens
    qint16 retcode = 0;     // result of the last archive engine run; 0 is success
    DefaultSceneryTable DefaultSceneries;
};
