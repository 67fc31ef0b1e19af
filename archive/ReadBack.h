#pragma once
// The read-back library mapzip_readback (libmapzip_readback.so, mapzip_readback.dll on Windows):
// the archive reader and the SHA-1 (ArchiveReader.h, Sha1.h) with the libraries they need. It
// lies in the program folder and is loaded the first time a reader or a hash is made.

#include <QString>

class ArchiveReader;
class Sha1;

// Where the library is looked for: the program folder (ProgramFolder.h) unless set. Tests run from
// another folder than the program's and set it before anything is read back.
void setReadBackFolder(const QString &folder);

// Loads the library now, if it is not loaded yet: false with `error` saying why it cannot be
// used. A build asks first, so that it never writes an archive it cannot check.
bool loadReadBackLibrary(QString &error);

// The library's entry points; each returns a new object that the caller owns.
using CreateArchiveReaderFunction = ArchiveReader *(*)();
using CreateSha1Function = Sha1 *(*)();
inline constexpr char CreateArchiveReaderSymbol[] = "mapzipCreateArchiveReader";
inline constexpr char CreateSha1Symbol[] = "mapzipCreateSha1";
