#pragma once
// The few things that need the operating system's own calls. They live here and nowhere else,
// so that the rest of the program stays portable Qt and standard C++.

#include <QString>

class QFile;

namespace platform {

// Opens `path` for reading when it names a regular file (a link is followed). Never blocks: a
// FIFO, device, socket or folder is refused at once. False with `error` set otherwise.
bool openRegularFile(const QString &path, QFile &file, QString &error);

// True when `path` itself (a link is not followed) belongs to the user running the program.
// Always true where files have no owners.
bool ownedByCurrentUser(const QString &path);

// Writes the data of an open file through to the disk. False with `error` set otherwise.
bool syncToDisk(QFile &file, QString &error);

// Readies the C library's memory for a build, which reads and deflates tens of megabytes
// through buffers that come and go on several threads: freed memory is kept for reuse, in one
// pool, and the part of it the buffers take is backed by large pages. Memory fresh from the
// system costs a fault for every 4 KiB page first touched, which on some machines took as long
// as the deflating. Call before the first build; later calls do nothing. Does nothing where the
// C library has no such settings.
void prepareForLargeBuffers();

// From the call on, an interrupt (Ctrl+C, termination, hang-up) no longer ends the process at
// once: it is recorded, and the program winds down by itself. A second one ends it at once.
void catchInterrupts();
// The recorded interrupt's signal number, 0 while there is none.
int caughtInterrupt();

} // namespace platform
