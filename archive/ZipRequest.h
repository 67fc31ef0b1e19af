#pragma once
// The archive engine request, and the values of the ZIP settings page it is made from.

#include <QString>
#include <QtGlobal>
#include <array>

// One request for the engine. A null QString crosses to the engine as a null pointer.
struct ZipRequest {
    QString DateFilter;
    QString RootFolder;
    QString TempFolder;
    qint16 EncryptFlag = 0;
    qint16 JunkPathsFlag = 0;
    qint16 UpdateFlag = 0;
    qint16 FreshenFlag = 0;
    qint16 CommentFlag = 0;
    qint16 RecurseFlag = 0;
    qint16 LevelChar = 0;
    qint16 FileCount = 0;
    quint32 EntryTime = 0; // 0, or the time every entry gets (seconds since 1970)
    qint32 Threads = 0;    // 0: one engine worker per core
    QString ArchiveName;
    std::array<QString, 100> FileSpecs;
};

// The settings page as plain values: check boxes 0 or 1 (only 1 counts as checked), and the
// text of the selected compression entry (empty when none is selected). Defaults are the
// page's values at start-up.
struct ZipSettings {
    int chkJunk = 0;
    int chkRecurse = 1;
    int chkUpdate = 0;
    int chkFreshen = 0;
    int chkPass = 0;
    int chkComment = 0;
    QString compressionLevel = QStringLiteral("9");
    quint32 entryTime = 0; // not on the page: set by the build for reproducible archives
    int threads = 0;       // not on the page: 0 lets the engine use every core
};
