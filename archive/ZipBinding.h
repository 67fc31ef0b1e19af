#pragma once
// The only code that talks to the archive engine library zip32.

#include "archive/ZipRequest.h"

#include <QString>
#include <QStringList>
#include <memory>

class ArchiveHost;

// Codes of the program's own, beside the engine's ZE_ codes (zip32.h); negative so that they
// never meet an engine code. readme.txt explains them.
constexpr int ZipEngineNotLoaded = -1; // the engine library or ZpInit failed
constexpr int ZipRequestFailed = -2;   // the request could not be built (see MakeZip)
constexpr int ZipPasswordTooLong = -3; // the password does not fit the engine's buffer
// The password holds characters outside the archive's 8-bit code page (Windows-1252).
constexpr int ZipPasswordNotEncodable = -4;

class ZipBinding {
public:
    // The engine is looked up as libzip32 (zip32.dll on Windows): first in `programFolder`,
    // then on the system's search path.
    explicit ZipBinding(QString programFolder);
    ~ZipBinding();
    ZipBinding(const ZipBinding &) = delete;
    ZipBinding &operator=(const ZipBinding &) = delete;

    // Test hook: the library file names or paths to try instead, in order.
    void setEngineCandidates(QStringList candidates);

    // Loads the engine (once; later calls reuse it). A library file that is not a complete,
    // loadable library of this platform is never handed to the system's loader, which would
    // crash on it. False when no candidate is usable.
    bool load();
    // EngineMissingText, then one line for each library tried: the file and why it cannot
    // be used, in the system loader's words.
    QString engineMissingMessage() const;

    // Runs one archive: ZpInit, ZpSetOptions, ZpSetExtras (where the engine has it: the entry
    // time and worker count), ZpArchive. Returns ZpArchive's result, or
    // ZipEngineNotLoaded after telling the user through `host` (title "VB Zip").
    // The host serves the callbacks while the engine runs: messages, password, comment,
    // progress, and stopping (the engine then returns ZE_ABORT).
    int RunZip(const ZipRequest &request, ArchiveHost &host);

private:
    struct Engine;
    QString m_programFolder;
    QStringList m_candidates;
    std::unique_ptr<Engine> m_engine;
    QStringList m_whyNotLoaded;
};

// The text the user sees when the engine cannot be used.
extern const QString EngineMissingText;
extern const QString EngineMissingTitle;

// The file QLibrary would load for `candidate` ("folder/zip32" is folder/libzip32.so here,
// folder/zip32.dll on Windows), or the file `candidate` names; empty for a bare name, which
// the system's search path resolves.
QString libraryFileFor(const QString &candidate);

// True when `file` looks like a complete shared library for this platform and processor: its
// header, and every part the loader maps, lie inside the file. `why` says what is wrong.
bool isLoadableLibraryFile(const QString &file, QString &why);

// The engine's callbacks. They reach the host of the RunZip call in progress; outside one
// they do nothing and return the values below.
int OnZipPrint(const char *text, quint32 length);
int OnZipComment(char *buffer);
int OnZipPassword(char *buffer, qint32 size, const char *prompt, const char *name);
int OnZipService(const char *name, qint32 size);
