#pragma once
// mapzip's output: whole texts to standard output or standard error, flushed at once so that
// the two streams interleave in the order things happened. Text from maps, archives and file
// names can hold anything; nothing printed may drive the terminal.

#include "intake/GameLimits.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Exit statuses shared by every command.
namespace ExitStatus {
constexpr int Ok = 0;
constexpr int Failed = 1;     // nothing (or not everything) could be done
constexpr int Usage = 2;      // bad command line
constexpr int Incomplete = 3; // done, but files a map needs are missing
// A run ended by a caught interrupt exits with 128 + the signal's number, as shells expect.
constexpr int interrupted(int signal) {
    return 128 + signal;
}
// The worse of two statuses: Failed over Incomplete over Ok.
int worse(int a, int b);
// `status`, or Failed when something printed could not be written (a full disk, a closed
// pipe): what was lost may be what the caller runs mapzip for, such as the sha1 line.
int afterOutput(int status);
} // namespace ExitStatus

// Prints `text`; control characters other than line feed and tab are shown escaped.
void printOut(const QString &text);
void printErr(const QString &text);
// While set, what printOut() and printErr() print is added to `out` and `err` instead, as it
// would have been printed: a batch's worker hands each build's messages to its batch. Null
// pointers print again.
void captureOutput(QString *out, QString *err);
// One JSON object on a line of standard output, with every control character escaped.
void printJsonLine(const QJsonObject &object);
// The counts the game refuses as --json gives them: [{block, count, limit}], each with "map"
// when `map` is given.
QJsonArray refusedJson(const QList<RefusedCount> &refused, const QString &map = {});

// `text` for a single line of plain output: control characters (line ends included) and
// bidirectional overrides become visible escapes such as \n, \r, \x1b and \u202e.
QString escapeControls(const QString &text);

// The stock scenery list to use: `given`, or defaults.txt in the program folder.
QString defaultsPath(const QString &given);
