#pragma once
// The few things that need the operating system's own calls. They live here and nowhere else,
// so that the rest of the program stays portable Qt and standard C++.

#include <QString>
#include <QStringList>

#include <filesystem>
#include <functional>
#include <string_view>
#include <system_error>

#include <cstddef>

class QFile;
class QProcess;

namespace platform {

// `path` as std::filesystem takes it: in the file system's own encoding, wide text on Windows.
std::filesystem::path nativePath(const QString &path);
// The system's words for `code`.
QString systemText(const std::error_code &code);

// Opens `path` for reading when it names a regular file (a link is followed). Never blocks: a
// FIFO, device, socket or folder is refused at once. False with `error` set otherwise.
bool openRegularFile(const QString &path, QFile &file, QString &error);

// True when `path` itself (a link is not followed) belongs to the user running the program.
// Always true where files have no owners.
bool ownedByCurrentUser(const QString &path);

// Writes the data of an open file through to the disk. False with `error` set otherwise.
bool syncToDisk(QFile &file, QString &error);

// Readies the C library's memory for a build, which reads and deflates tens of megabytes
// through buffers that come and go on several threads, and for decoding the game's images,
// up to 64 MiB each: freed memory is kept for reuse, in one pool, and the part of it the
// buffers take is backed by large pages. Memory fresh from the system costs a fault for every
// 4 KiB page first touched, which on some machines took as long as the deflating. Call before
// the first build or decode; later calls do nothing. Does nothing where the C library has no
// such settings.
void prepareForLargeBuffers();

// Asks the system to back the whole 2 MiB pages within the `size` bytes at `data`, memory
// not yet touched, with large pages: one fault for each instead of 512, for a buffer of
// hundreds of MiB written at once. Only a hint; does nothing where the system has no such
// pages or does not allow them.
void adviseLargePages(void *data, std::size_t size);

// Interrupts (Ctrl+C, termination, hang-up). A command-line program calls exitOnInterrupt()
// first thing, catchInterrupts() once it starts making files that must not outlive it, and
// stopCatchingInterrupts() once they are cleaned up: whenever an interrupt comes, the program
// ends with 128 + its number, as shells expect, and never leaves its files behind for it.

// An interrupt ends the process at once with 128 + its number. Signals that were ignored when
// the program started (nohup, background jobs) stay ignored, here and in catchInterrupts().
void exitOnInterrupt();
// An interrupt is recorded and the program winds down by itself; the same signal again ends it
// at once (128 + its number). A write to a pipe whose reader has gone (`mapzip ... | head -1`)
// is recorded as a stop too, but never ends the process at once: the clean-up may write more.
void catchInterrupts();
// The recorded interrupt's signal number, 0 while there is none.
int caughtInterrupt();
// Back to exitOnInterrupt(); returns the interrupt recorded until then (0 when none). One that
// comes during the call is either returned or ends the process: none is lost.
int stopCatchingInterrupts();

// The result of the run stands: interrupts from now on are ignored (only tidying up is left),
// and one recorded until now no longer counts: caughtInterrupt() and stopCatchingInterrupts()
// say 0 from here on.
void ignoreInterrupts();

// Makes `process`, once started, get a request to terminate (SIGTERM) when this process ends,
// however it ends, so that it can clean up after itself. Does nothing where the system cannot.
void endWithThisProcess(QProcess &process);

// Exclusive locks on files (flock; LockFileEx on Windows). The system drops a lock when the
// process that holds it ends, however it ends: a lock that can be taken tells that whoever held
// it is gone.

// Locks the open `file` (the file itself, whatever its names), trying for up to `waitMs`. The
// lock lasts until `file` is closed. False when another process holds it.
bool lockFile(QFile &file, int waitMs);

enum class Lock { Taken, Held, Failed };
// Opens `path` for reading and writing, made (readable by the user only) when missing, and locks
// it, trying for up to `waitMs`. A link or anything but a regular file is refused, never
// followed. Failed sets `error`.
Lock openLocked(const QString &path, int waitMs, QFile &file, QString &error);

// Opens the regular file `path` that belongs to the user (a link is not followed) and locks it,
// if nobody holds it and `path` still names it then. True: the caller holds the lock until it
// closes `file`, and may remove what a process that is gone left behind.
bool lockLeftover(const QString &path, QFile &file);

// Whether `path` (a link not followed) names the open `file`.
bool isFileAt(const QFile &file, const QString &path);

// Opens a new file in `folder` that has no name (O_TMPFILE), for reading and writing: a crash
// leaves nothing behind. False where the system or the file system has no such files.
bool openUnnamedFile(const QString &folder, QFile &file);

// Gives the open `file` the name `path`, which must not exist yet: its first name for an
// unnamed file, a second one (a hard link) otherwise. False with `error` set.
bool nameFile(QFile &file, const QString &path, QString &error);

// Renames `from`, the open `file`, to `to`, replacing what is there in one step. Where an open
// file cannot be renamed (Windows), `file` is closed first. False with `error` set.
bool renameOpenFile(QFile &file, const QString &from, const QString &to, QString &error);

// One state of a file: which file it is, its size, and the times of its last change. Any write
// to the file after the stamp was taken gives a different stamp, provided that the stamp's
// change time lies before fileClockNow() read just before taking it (the system stamps changes
// with a coarse clock: a change in the same tick as an earlier one keeps its time).
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0; // since 1970
    qint64 changedNs = 0;  // since 1970; where the system has no change time, the modification
    bool operator==(const FileStamp &) const = default;
};
// The stamp of the open `file`. False with `error` set.
bool stampOf(const QFile &file, FileStamp &stamp, QString &error);
// Now, by the clock the file system stamps changes with (ns since 1970).
qint64 fileClockNow();

// Makes the folder `path` that only the user may enter, in one step, so that it is never open
// to others for a moment. Fails where anything is at `path` already, a link included. False
// with `error` the system's reason.
bool makePrivateFolder(const QString &path, QString &error);

// Whether `a` and `b` lie on one file system (a file of one may be linked into the other).
bool sameFileSystem(const QString &a, const QString &b);

// The names in `folder` for which `wanted` (given the name in the file system's encoding)
// holds; none where it cannot be listed. Names only, no entry is looked at: a temporary or
// download folder may hold thousands of entries, of which a clean-up wants a few.
QStringList namesIn(const QString &folder, const std::function<bool(std::string_view)> &wanted);

// One entry of a folder as its listing tells it, without looking at the entry itself.
struct FolderEntry {
    enum class Kind { File, Folder, Link, Other };
    QString name;
    Kind kind = Kind::Other;
};
// The entries of `folder` ("." and ".." left out). False, with `error` the system's reason,
// when it cannot be listed whole.
bool listFolder(const QString &folder, QList<FolderEntry> &entries, QString &error);

} // namespace platform
