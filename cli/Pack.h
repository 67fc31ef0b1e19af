#pragma once
// mapzip pack: the options of one command line, shared by a single build and a batch.

#include "archive/ProgramFolder.h"
#include "archive/ZipBinding.h"
#include "intake/DefaultSceneries.h"
#include "package/Staging.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct PackOptions {
    QStringList maps;
    QString output;    // -o: one map to this archive
    QString outputDir; // -d: every map to <dir>/<MapName>.<ext>
    bool smap = false; // a server map archive: from --format or -o's extension
    QStringList excludes;
    bool noTexture = false;
    QString level = QStringLiteral("9");
    std::optional<QString> comment; // as given; the build gets CR LF line ends
    QString passwordFile;
    bool passwordStdin = false;
    bool junkPaths = false;
    bool noRecurse = false;
    bool update = false;
    bool freshen = false;
    QString defaults;
    QString staging;
    bool quiet = false;
    int jobs = 0;          // batch runs at once; 0: one per core
    int engineThreads = 0; // the engine's workers for one build; 0: one per core
    bool worker = false;   // a batch's worker: maps and targets come from standard input
};

// The password from the first line of `passwordFile` or, with `fromStdin`, of standard input:
// empty when neither is asked for. False, with `error` set, when it cannot be read or is empty.
bool readPassword(const QString &passwordFile, bool fromStdin, QString &password, QString &error);

// What the builds of one process share: the stock list, read once; one staging folder, held
// from the first build that needs it to the end; the engine, loaded once.
class PackSession {
public:
    // One map into the archive `target`: the exit status, and the archive's SHA-1 in `sha1`
    // when it was written. Messages go to standard error, the "sha1" line to standard output.
    int build(const PackOptions &options, const QString &password, const QString &map,
              const QString &target, QByteArray &sha1);

private:
    void loadDefaults(const PackOptions &options);
    // False, the cause printed, when no staging folder can be had.
    bool holdStaging(const PackOptions &options);

    DefaultSceneryTable m_defaults;
    QString m_defaultsWarning;
    bool m_defaultsRead = false;
    StagingLock m_lock;
    std::optional<PrivateStagingFolder> m_privateFolder;
    QString m_stagingFolder;
    ZipBinding m_binding{programFolder()};
};

// One map into one archive; `password` as read by readPassword. Returns the exit status.
int packOne(const PackOptions &options, const QString &password);
// Every map into the output folder, by a few child `mapzip pack --worker` processes.
int packBatch(const PackOptions &options, const QString &password);
// A batch's worker: reads the password and then one map and target after another from
// standard input, builds each (PackSession) and answers each with one line on standard output.
// Ends at the end of its input, or after the build during which an interrupt came.
int runPackWorker(const PackOptions &options);
