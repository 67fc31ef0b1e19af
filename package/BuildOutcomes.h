#pragma once
// How each way a build can end is told: the window's box (title, text, icon) and mapzip's line
// and exit status stand side by side in one table, so that the two never drift apart.

#include "archive/ArchiveHost.h"

#include <QString>
#include <QStringList>

// What the build came to, as the window and its callers see it.
enum class BuildOutcome {
    NotStarted,        // a guard refused it before anything was done
    PasswordMismatch,  // M1 shown
    Cancelled,         // the save dialog was cancelled
    Stopped,           // the user asked to stop (host.stopRequested()); nothing delivered
    MapChanged,        // the map on disk is not the one the lists came from (see BuildHost)
    Failed,            // an error message shown; nothing delivered, the earlier file kept
    PackedWithMissing, // delivered, but files the map needs were left out, or the game will
                       // not load the map (warning shown)
    Succeeded,         // delivered with everything the map needs; M2 shown
};

// Every way a build ends, each with its own wording.
enum class BuildEnd {
    MapNotRead,
    PasswordMismatch,
    NoPassword,
    CommentNotPossible,
    NoMapFile,
    CheckUnavailable,
    StagingFolderError,
    Cancelled,
    ServerMapPassword,
    TargetFolderUnusable,
    MapNotPacked,
    FileNotPacked,
    MapChanged,
    TargetRefused,
    ReadmeNotWritten,
    EngineError,
    CheckFailed,
    NotSaved,
    Stopped,
    PackedWithMissing,
    RefusedByGame, // delivered, but the game will not load the map (its counts, GameLimits)
    Succeeded,
};

// What to say about one end, with its blanks filled: `file` (a path) and `reason` (the
// system's or the check's words), `code` (the engine's code, for EngineError), and for a
// delivered archive the lines of the files it lacks (`leftOut`, shown under "Left out:") and
// the notes of the build.
struct BuildMessage {
    MessageIcon icon = MessageIcon::None;
    QString title;
    QString windowText;      // empty: the window shows no box
    QString commandLineText; // empty: mapzip prints no line for it
    QString archive;         // the delivered archive; empty when none was
};

BuildMessage buildMessage(BuildEnd end, const QString &file = {}, const QString &reason = {},
                          int code = 0, const QStringList &notes = {}, const QString &leftOut = {});

// True for the ends that delivered an archive.
bool isDelivered(BuildEnd end);

BuildOutcome outcomeOf(BuildEnd end);

// mapzip's exit status for an end: 0 everything the game loads is in the archive, 3 delivered
// with gaps, 1 nothing written. Stopped has none of its own: 128 + the signal's number.
int exitStatusOf(BuildEnd end);
