#include "dialogs/FileDialogs.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>

#include <cmath>
#include <optional>

namespace {

// One queued test answer: the chosen paths, or nothing for a cancelled dialog.
using QueuedAnswer = std::optional<QStringList>;

struct FileDialogHookState {
    QList<QueuedAnswer> answers;
    QList<DialogRecord> asked;
};

FileDialogHookState &hookState() {
    static FileDialogHookState state;
    return state;
}

FileChoice cancelledChoice() {
    return FileChoice{};
}

// Turns the dialog's chosen full paths into the result record. One path: the folder with its
// trailing separator and the bare name. Several (always from one folder): the folder without
// its trailing separator and the names in the dialog's order. There is no upper limit on the
// number of names.
FileChoice choiceFromPaths(const QStringList &paths) {
    if (paths.isEmpty())
        return cancelledChoice();
    FileChoice choice;
    choice.Cancelled = false;
    const QString first = QDir::fromNativeSeparators(paths.first());
    const qsizetype cut = first.lastIndexOf(QLatin1Char('/')) + 1;
    choice.Folder = first.left(cut);
    for (const QString &path : paths) {
        const QString normal = QDir::fromNativeSeparators(path);
        choice.FileNames.append(normal.mid(normal.lastIndexOf(QLatin1Char('/')) + 1));
    }
    choice.NameCount = int(choice.FileNames.size());
    // The root folder keeps its separator: without it there would be no folder at all.
    if (choice.NameCount > 1 && choice.Folder.size() > 1 && !choice.Folder.endsWith(u":/"))
        choice.Folder.chop(1);
    return choice;
}

// What the name box of the next open dialog starts with: the full path of a single choice,
// the folder of a multiple one.
QString nameBoxAfter(const FileChoice &choice) {
    if (choice.NameCount == 1)
        return choice.Folder + choice.FileNames.first();
    return choice.Folder;
}

// Moves the dialog once, when it is first shown, to the centre of its owner's window (or of
// the owner's screen), measured on the windows' frames.
class CentreWhenShown : public QObject {
public:
    CentreWhenShown(QWidget *dialog, QWidget *owner, bool centreOnOwner)
        : QObject(dialog), m_dialog(dialog), m_owner(owner), m_centreOnOwner(centreOnOwner) {
        dialog->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_dialog && event->type() == QEvent::Show) {
            m_dialog->removeEventFilter(this);
            m_dialog->move(centredPosition(area(), m_dialog->frameGeometry().size()));
        }
        return false;
    }

private:
    QRect area() const {
        if (m_owner && m_centreOnOwner)
            return m_owner->window()->frameGeometry();
        QScreen *screen = m_owner ? m_owner->screen() : m_dialog->screen();
        return screen ? screen->geometry() : QRect();
    }

    QWidget *m_dialog;
    QWidget *m_owner;
    bool m_centreOnOwner;
};

// Asks the test hook or the user for the chosen paths; nothing when cancelled.
QueuedAnswer askForPaths(const DialogRecord &record, QWidget *owner, bool centreOnOwner,
                         bool saving) {
    FileDialogHookState &hook = hookState();
    hook.asked.append(record);
    if (!hook.answers.isEmpty())
        return hook.answers.takeFirst();

    QFileDialog dialog(owner);
    applyDialogRecord(dialog, record, saving);
    new CentreWhenShown(&dialog, owner, centreOnOwner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedFiles();
}

// Windows-style pattern lists ("*.bmp;*.png") to Qt's, where "*.*" means every file.
QStringList qtPatterns(const QString &patternList) {
    QStringList patterns;
    for (const QString &part : patternList.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty())
            continue;
        patterns.append(pattern == u"*.*" ? QStringLiteral("*") : caseInsensitivePattern(pattern));
    }
    return patterns;
}

} // namespace

QPoint centredPosition(const QRect &owner, const QSize &dialog) {
    // QRect's width is the platform's right minus left, as the arithmetic expects.
    const double x = owner.width() / 2.0 + owner.left() - dialog.width() / 2.0;
    const double y = owner.height() / 2.0 + owner.top() - dialog.height() / 2.0;
    // nearbyint in the default rounding mode sends exact halves to the even neighbour.
    return QPoint(int(std::nearbyint(x)), int(std::nearbyint(y)));
}

QString caseInsensitivePattern(const QString &pattern) {
    QString result;
    bool inSet = false;
    for (const QChar c : pattern) {
        const QChar lower = c.toLower();
        const QChar upper = c.toUpper();
        if (inSet) {
            result.append(c);
            if (c == u']')
                inSet = false;
            else if (lower != upper)
                result.append(c == lower ? upper : lower);
        } else if (c == u'[') {
            inSet = true;
            result.append(c);
        } else if (lower != upper) {
            result.append(u'[').append(lower).append(upper).append(u']');
        } else {
            result.append(c);
        }
    }
    return result;
}

QStringList nameFiltersFor(const QString &recordFilter) {
    const QStringList texts = recordFilter.split(QChar(0), Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < texts.size(); i += 2) {
        const QStringList patterns = qtPatterns(texts.at(i + 1));
        if (patterns.isEmpty())
            continue;
        // The dialog hides the part in the last parentheses, so the description shows as written.
        filters.append(texts.at(i).trimmed() + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    if (filters.isEmpty())
        filters.append(QStringLiteral("All Files (*)"));
    return filters;
}

void applyDialogRecord(QFileDialog &dialog, const DialogRecord &record, bool saving) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setWindowTitle(record.title);
    dialog.setNameFilters(nameFiltersFor(record.filter));

    const QString startFolder = !record.initialDir.isEmpty() && QDir(record.initialDir).exists()
                                    ? record.initialDir
                                    : QDir::homePath();
    dialog.setDirectory(startFolder);

    QString suffix = record.defaultExt;
    if (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);

    dialog.setOption(QFileDialog::DontResolveSymlinks,
                     (record.flags & DialogFlags::NoDereferenceLinks) != 0);
    if (saving) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite,
                         (record.flags & DialogFlags::OverwritePrompt) == 0);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode((record.flags & DialogFlags::AllowMultiSelect)
                               ? QFileDialog::ExistingFiles
                               : QFileDialog::ExistingFile);
    }

    // The name box starts with the previous choice, which also names the folder to start in.
    if (!record.file.isEmpty()) {
        const QFileInfo previous(record.file);
        if (previous.isDir())
            dialog.setDirectory(previous.absoluteFilePath());
        else if (previous.absoluteDir().exists())
            dialog.selectFile(previous.absoluteFilePath());
    }
}

FileChoice PromptOpenFile(DialogRecord &record, QWidget *owner, bool CentreOnOwner) {
    record.flags = OpenDialogFlags;
    const QueuedAnswer paths = askForPaths(record, owner, CentreOnOwner, false);
    const FileChoice choice = paths ? choiceFromPaths(*paths) : cancelledChoice();
    // A cancelled dialog leaves the name box as it was.
    if (!choice.Cancelled)
        record.file = nameBoxAfter(choice);
    return choice;
}

FileChoice PromptSaveFile(DialogRecord &record, QWidget *owner, bool CentreOnOwner) {
    record.file.clear();
    if (record.flags == 0)
        record.flags = SaveDialogDefaultFlags;
    QueuedAnswer paths = askForPaths(record, owner, CentreOnOwner, true);
    // A save has one name; a test answer with more keeps only the first.
    if (paths && paths->size() > 1)
        *paths = paths->mid(0, 1);
    const FileChoice choice = paths ? choiceFromPaths(*paths) : cancelledChoice();
    if (!choice.Cancelled)
        record.file = nameBoxAfter(choice);
    return choice;
}

namespace FileDialogTestHook {

void setNextPaths(const QStringList &paths) {
    hookState().answers.append(paths);
}

void setNextCancel() {
    hookState().answers.append(std::nullopt);
}

const QList<DialogRecord> &asked() {
    return hookState().asked;
}

void reset() {
    hookState() = FileDialogHookState{};
}

} // namespace FileDialogTestHook
