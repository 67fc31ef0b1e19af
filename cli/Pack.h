#pragma once
// mapzip pack: the options of one command line, shared by a single build and a batch.

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
};

// The password from the first line of `passwordFile` or, with `fromStdin`, of standard input:
// empty when neither is asked for. False, with `error` set, when it cannot be read or is empty.
bool readPassword(const QString &passwordFile, bool fromStdin, QString &password, QString &error);

// One map into one archive; `password` as read by readPassword. Returns the exit status.
int packOne(const PackOptions &options, const QString &password);
// Every map into the output folder, each by a child `mapzip pack` process.
int packBatch(const PackOptions &options, const QString &password);
