#pragma once
// The file dialogs' description and result as plain values, shared by the core (which asks
// for a save path) and the dialogs module (which shows the dialogs).

#include <QString>
#include <QStringList>

// Dialog flags with the platform's values; only their meaning is used here.
namespace DialogFlags {
constexpr quint32 HideReadOnly = 0x4;
constexpr quint32 OverwritePrompt = 0x2;
constexpr quint32 AllowMultiSelect = 0x200;
constexpr quint32 CreatePrompt = 0x2000;
constexpr quint32 Explorer = 0x80000;
constexpr quint32 NoDereferenceLinks = 0x100000;
constexpr quint32 LongNames = 0x200000;
} // namespace DialogFlags

// What callers write before a dialog; a dialog's own fields are kept between calls.
struct DialogRecord {
    QString filter;     // description and pattern pairs, each text followed by a NUL
    QString initialDir; // the folder the dialog opens in
    QString title;      // the dialog's title
    QString defaultExt; // default extension (".zip"), kept until a caller changes it
    quint32 flags = 0;  // DialogFlags
    QString file;       // the name box's content; the previous result after a dialog
};

struct FileChoice {
    int NameCount = 0;     // 0 when cancelled
    QStringList FileNames; // chosen names without folder, in the order the dialog lists them
    QString Folder;        // ends with '/' for a single choice
    bool Cancelled = true;
};
