#pragma once
// "Make ZIP": from the map and the window's values to the archive at the chosen path.

#include "archive/ZipBinding.h"
#include "archive/ZipRequest.h"
#include "dialogs/FileChoice.h"
#include "intake/WizardState.h"
#include "package/BuildHost.h"

enum class BuildOutcome {
    NotStarted,       // the path guard ended it silently, or another guard refused
    PasswordMismatch, // M1 shown
    Cancelled,        // the save dialog was cancelled
    Failed,           // an error message shown (M3 or a clear message of its own)
    Succeeded,        // the archive is at state.rSaveTo; M2 shown
};

// The program's shared pieces a build works with. All outlive the call.
struct BuildContext {
    QString programFolder; // holds TEMP, the staging tree
    ZipRequest &request;
    ZipBinding &binding;
    DialogRecord &dialog;
};

// Runs the build command once: guards, busy state, map name, readme text, staging, save
// dialog, fill, readme file, archive, delivery, result message.
// - A path text without a separator ends it silently (NotStarted). A path that names no map
//   file (ends in a separator, or its name is not a plain file name) is refused with an error
//   message before the button goes busy and before anything is staged (NotStarted).
// - A staging tree that cannot be made: error message naming the folder, before the save
//   dialog (Failed).
// - This map's staged archive from an earlier build is kept only when the update or freshen
//   switch is on (the engine then works on it); archives of other maps are always removed.
// - MakeZip refusing the request: retcode becomes ZipRequestFailed and M3 shows it (Failed).
// - The archive is delivered only when retcode is 0, through a temporary file in the target
//   folder renamed into place; when that fails an error message names the path and the reason
//   and the file that was at the target stays as it was (Failed).
BuildOutcome cmdGO_Click(WizardState &state, BuildHost &host, BuildContext &context);

// MapName for a path box text: file name without its last extension; a name without "."
// is kept whole. Empty when the path names no file (ends in a separator, or no separator).
QString mapNameFromPath(const QString &pathText);

// Copies `stagedArchive` to `target` through a temporary file beside `target` that is renamed
// into place. On failure `target` is untouched and `error` says why.
bool deliverArchive(const QString &stagedArchive, const QString &target, QString &error);
