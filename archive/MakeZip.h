#pragma once
// MakeZip: one archive run from the ZIP settings page's values.

#include "archive/ZipRequest.h"
#include "intake/WizardState.h"

#include <QString>

class ArchiveHost;
class ZipBinding;

// Fills `request` from `settings` (RootFolder = stagingFolder + "/TEMP", ArchiveName =
// state.MapName + ".zip", FileSpecs[0] = "*.*"), clears the host's text output and runs the
// engine once, storing its result in state.retcode.
// Returns false without running the engine, and with state.retcode untouched, when the
// request cannot be built (no compression level selected, or a result outside 16 bits);
// `error` then says why.
bool MakeZip(WizardState &state, ZipRequest &request, ZipBinding &binding,
             const ZipSettings &settings, const QString &stagingFolder, ArchiveHost &host,
             QString &error);
