#pragma once
// The open and save file dialogs, over Qt's own widget dialog, centred over their owner.

#include "dialogs/FileChoice.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>

class QFileDialog;
class QWidget;

// The flags the open dialog always uses, and those the save dialog uses when the record's
// flags are 0.
constexpr quint32 OpenDialogFlags = 0x382204;
constexpr quint32 SaveDialogDefaultFlags = 0x280006;

// Open dialog: multiple choice allowed; flags, file-name buffer and the name box's start
// value are the operation's own. Updates `record` as the next dialog will find it.
FileChoice PromptOpenFile(DialogRecord &record, QWidget *owner, bool CentreOnOwner);
// Save dialog: one name. Starts in record.initialDir with record.file (a bare name, or a full
// path) in the name box. Line feeds and carriage returns in the answer are removed. A name
// typed without extension gets the chosen filter's extension,
// else record.defaultExt. When record.flags asks for it (0 means the operation's default,
// which does) and the file exists, asks before replacing it; No shows the dialog again.
FileChoice PromptSaveFile(DialogRecord &record, QWidget *owner, bool CentreOnOwner);

// Top-left corner that centres a dialog of `dialog` size over `owner` (screen pixels);
// halves are rounded to the even neighbour.
QPoint centredPosition(const QRect &owner, const QSize &dialog);

// The dialog's name filters for a record's filter text (description and pattern pairs, each
// text followed by a NUL): the description is shown, the pattern filters, letter case ignored.
QStringList nameFiltersFor(const QString &recordFilter);
// The extension a filter's first pattern names (".smap" for "*.smap"), empty for one without
// a fixed extension ("*.*"); `filterIndex` counts the filters nameFiltersFor returns.
QString filterExtension(const QString &recordFilter, qsizetype filterIndex);
// `path` with `extension` added when its name has none.
QString withExtension(const QString &path, const QString &extension);
// A wildcard pattern that matches names in any letter case: "*.PMS" -> "*.[pP][mM][sS]".
QString caseInsensitivePattern(const QString &pattern);
// Sets `dialog` up as the open or save dialog that `record` describes: title, filters,
// start folder and name, default extension and the flags' meaning.
void applyDialogRecord(QFileDialog &dialog, const DialogRecord &record, bool saving);

namespace FileDialogTestHook {
// The next dialog is not shown and answers with these full paths (several for a multiple
// choice in the open dialog), with the filter whose description is `filter` chosen (empty:
// the first); each call queues one answer. A save answer still goes through the extension
// and the question before replacing a file.
void setNextPaths(const QStringList &paths, const QString &filter = {});
// The next dialog answers as if cancelled.
void setNextCancel();
// The DialogRecord each dialog saw when it was asked for, in order.
const QList<DialogRecord> &asked();
void reset();
} // namespace FileDialogTestHook
