#pragma once
// "Make ZIP": from the map and the window's values to the archive at the chosen path.

#include "archive/ZipBinding.h"
#include "archive/ZipRequest.h"
#include "dialogs/FileChoice.h"
#include "intake/WizardState.h"
#include "package/BuildHost.h"
#include "package/BuildOutcomes.h"
#include "package/Staging.h"

#include <functional>

struct BuildResult {
    BuildOutcome outcome = BuildOutcome::NotStarted;
    BuildEnd end = BuildEnd::MapNotRead; // how it ended, in detail (see BuildOutcomes)
    QList<LeftOutFile> leftOut; // images the map needs that the archive lacks, with reasons
    QList<LeftOutFile> notUsed; // sceneries left out that the game never loads: no gap
    QString refused;            // why the game will not load the map (refusedSentence), or empty
    QStringList notes; // what the build decided on its own (in the text output and final box)
    QByteArray sha1;   // of the delivered archive
    ArchiveFormat format = ArchiveFormat::Zip;
    bool delivered() const { return isDelivered(end); }
};

// The program's shared pieces a build works with. All outlive the call.
struct BuildContext {
    QString stagingFolder; // holds TEMP, the staging tree
    ZipRequest &request;
    ZipBinding &binding;
    DialogRecord &dialog;
    // Test seam: runs on the staged archive between writing and checking it.
    std::function<void(const QString &stagedArchive)> afterArchiveWritten = {};
};

// Runs the build command once, as a list of steps (BuildSteps): guards, busy state, staging
// clean-up, save dialog, the map, the images, readme, archive, check, delivery, and at the end
// one message from the table of BuildOutcomes.
// - A path text that does not name the map last read successfully (typed and not read, or its
//   read failed) is refused with "Choose the map with '...' first", before anything else.
// - Password: M1 when the two boxes differ; a clear message when "Password" is ticked and the
//   password is empty; a server map archive (.smap) with a password is refused after the save
//   dialog, before anything is staged (the game cannot open an encrypted archive).
// - A comment with characters Windows-1252 lacks is refused with a message naming them, before
//   anything else is done: the readme and the archive comment could not hold them.
// - The engine is loaded before anything is staged ("VB Zip" and code -1 when it cannot be).
// - The save dialog suggests <MapName>.zip in the folder of the last save. What is at the
//   chosen path must be missing or a regular file that is none of the build's inputs
//   (checkDeliveryTarget), and its folder must take a new file, or nothing is staged.
// - The map must be staged byte for byte, else the build stops with an error naming it. The
//   staged copy is read, and it is what gets built: when its scenery list or texture differ
//   from the pages' lists, the map changed on disk since it was read, and the host decides
//   (BuildHost::packChangedMap): the window stops with MapChanged and a message, mapzip packs
//   the map as it is, with the same names excluded.
// - The archive's folders are named as the game folder's own (StagingPaths::under). With the
//   texture goes its edge texture, where the game has one (not with "Junk Directories").
// - A file the game folder lacks is a gap; any error of the system while staging (a file that
//   cannot be read, a folder that cannot be listed, a full disk) or a file that changed while it
//   was copied, twice, fails the build. The written archive is checked by the rule mapzip
//   verify applies (checkArchive): each file the game loads for the map and the archive lacks
//   (excluded ones too) is left out, with its reason, and a warning box "Map Packed With
//   Missing Files" takes the place of M2. A listed scenery that no drawn prop shows is never
//   loaded: when the game folder lacks it, it goes to BuildResult::notUsed, and the build
//   still succeeds.
// - A map whose counts the game refuses (GameLimits) is packed as asked, but the build is
//   incomplete: BuildResult::refused names the limit, in the box "Map Packed, But The Game
//   Refuses It" (with the files left out, if any).
// - The readme counts the sceneries actually staged. Without update and freshen every entry
//   gets the newest modification time of what was staged, so the same inputs give the same
//   archive byte for byte.
// - The staged archive is read back and checked against the staged files, then delivered
//   through a temporary file beside the target, renamed into place only when its SHA-1 is the
//   staged archive's. Any failure: an error message, nothing delivered, the earlier file kept.
// - A stop counts until the archive is renamed into place; after that the build reports what
//   it delivered. The notes of a delivered build stand under the result in its final box.
BuildResult cmdGO_Click(WizardState &state, BuildHost &host, BuildContext &context);

// Moves every add-list item named in `excludes` to `excludeList`. A name matches an item with
// or without the "(!) " marker on either side: whether an image is missing may have changed
// since the list was shown. Returns the names that matched no item.
QStringList applyExcludes(const QStringList &excludes, QStringList &addList,
                          QStringList &excludeList);

// MapName for a path box text: file name without its last extension; a name without "."
// is kept whole. Empty when the path names no file (ends in a separator, or no separator).
QString mapNameFromPath(const QString &pathText);
