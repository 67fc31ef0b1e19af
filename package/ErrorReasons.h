#pragma once
// Why a build ended with an error code, in our own words: the first line of the "Error Code N."
// box, before the code and the engine's own lines.

#include <QString>

// A sentence saying that `archive` (the path the user chose, empty when none was chosen yet)
// was not made, and why, for an archive engine code (above 0) or one of the program's own
// codes (below 0, see ZipBinding.h).
QString errorCodeReason(int code, const QString &archive);
