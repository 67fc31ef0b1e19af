#include "dialogs/FileDialogs.h"

#include "dialogs/MessageBox.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScreen>

#include <cmath>
#include <memory>
#include <optional>

namespace {

// What a dialog answered: the chosen paths and the index of the chosen name filter.
struct Answer {
    QStringList paths;
    qsizetype filterIndex = 0;
};
// Nothing for a cancelled dialog.
using QueuedAnswer = std::optional<Answer>;

struct FileDialogHookState {
    bool active = false;
    QList<std::optional<std::pair<QStringList, QString>>> answers; // paths, filter description
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
// the owner's screen), measured on the windows' frames. A dialog larger than the screen's
// free area (Qt's default size on a small or scaled screen) is first made to fit it, so that
// its buttons stay reachable.
class CentreWhenShown : public QObject {
public:
    CentreWhenShown(QWidget *dialog, QWidget *owner, bool centreOnOwner)
        : QObject(dialog), m_dialog(dialog), m_owner(owner), m_centreOnOwner(centreOnOwner) {
        dialog->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_dialog && event->type() == QEvent::Show) {
            m_dialog->removeEventFilter(this);
            if (QScreen *screen = m_dialog->screen()) {
                const QSize frame = m_dialog->frameGeometry().size() - m_dialog->size();
                const QSize room = screen->availableGeometry().size() - frame;
                if (!room.isEmpty())
                    m_dialog->resize(m_dialog->size().boundedTo(room));
            }
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

// One name filter of a record: its description and its patterns as the record writes them.
struct RecordFilter {
    QString description;
    QStringList patterns;
};

QList<RecordFilter> recordFilters(const QString &recordFilter) {
    const QStringList texts = recordFilter.split(QChar(0), Qt::SkipEmptyParts);
    QList<RecordFilter> filters;
    for (qsizetype i = 0; i + 1 < texts.size(); i += 2) {
        QStringList patterns;
        for (const QString &part : texts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!part.trimmed().isEmpty())
                patterns.append(part.trimmed());
        }
        if (!patterns.isEmpty())
            filters.append({texts.at(i).trimmed(), patterns});
    }
    return filters;
}

// Windows-style patterns to Qt's, where "*.*" means every file.
QStringList qtPatterns(const QStringList &patterns) {
    QStringList converted;
    for (const QString &pattern : patterns)
        converted.append(pattern == u"*.*" ? QStringLiteral("*") : caseInsensitivePattern(pattern));
    return converted;
}

qsizetype filterIndexOf(const QString &recordFilter, const QString &description) {
    const QList<RecordFilter> filters = recordFilters(recordFilter);
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters.at(i).description == description)
            return i;
    }
    return 0;
}

// The index of the filter chosen in `dialog`, which names it by its shown description.
qsizetype chosenFilterIndex(const QFileDialog &dialog) {
    const QString chosen = dialog.selectedNameFilter();
    const QStringList filters = dialog.nameFilters();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters.at(i) == chosen || filters.at(i).startsWith(chosen + QStringLiteral(" (")))
            return i;
    }
    return 0;
}

// Keeps the name box's extension in step with the chosen filter, as the platform's dialog
// does. Qt's dialog swaps the extension itself, but writes the filter's case-blind pattern
// ("[sS][mM][aA][pP]"); that, or the previous filter's extension, becomes the new one.
void followFilterExtension(QFileDialog &dialog, const QString &recordFilter) {
    auto previous = std::make_shared<QString>(filterExtension(recordFilter, 0));
    QObject::connect(
        &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, recordFilter, previous] {
            // After the dialog's own handling of the same choice.
            QMetaObject::invokeMethod(
                &dialog,
                [&dialog, recordFilter, previous] {
                    const QString from = *previous;
                    const QString to = filterExtension(recordFilter, chosenFilterIndex(dialog));
                    *previous = to;
                    const QStringList typed = dialog.selectedFiles();
                    if (to.isEmpty() || typed.size() != 1)
                        return;
                    const QString name = QFileInfo(typed.first()).fileName();
                    const qsizetype dot = name.lastIndexOf(u'.');
                    const QString extension = dot < 0 ? QString() : name.mid(dot);
                    if (!extension.contains(u'[') &&
                        (from.isEmpty() || extension.compare(from, Qt::CaseInsensitive) != 0))
                        return;
                    // selectFile() leaves the name box alone while it has the focus.
                    if (auto *nameBox =
                            dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                        nameBox->setText(name.left(dot) + to);
                    else
                        dialog.selectFile(name.left(dot) + to);
                },
                Qt::QueuedConnection);
        });
}

// Asks the test hook or the user for the chosen paths; nothing when cancelled.
QueuedAnswer askForPaths(const DialogRecord &record, QWidget *owner, bool centreOnOwner,
                         bool saving) {
    FileDialogHookState &hook = hookState();
    hook.asked.append(record);
    // Once tests answer, a dialog they did not answer counts as cancelled, never shown.
    if (hook.active) {
        const auto queued = hook.answers.isEmpty() ? std::nullopt : hook.answers.takeFirst();
        if (!queued)
            return std::nullopt;
        return Answer{queued->first, filterIndexOf(record.filter, queued->second)};
    }

    QFileDialog dialog(owner);
    applyDialogRecord(dialog, record, saving);
    if (saving)
        followFilterExtension(dialog, record.filter);
    new CentreWhenShown(&dialog, owner, centreOnOwner);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return Answer{dialog.selectedFiles(), chosenFilterIndex(dialog)};
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
    QStringList filters;
    // The dialog hides the part in the last parentheses, so the description shows as written.
    for (const RecordFilter &filter : recordFilters(recordFilter))
        filters.append(filter.description + QStringLiteral(" (") +
                       qtPatterns(filter.patterns).join(u' ') + u')');
    if (filters.isEmpty())
        filters.append(QStringLiteral("All Files (*)"));
    return filters;
}

QString filterExtension(const QString &recordFilter, qsizetype filterIndex) {
    const QList<RecordFilter> filters = recordFilters(recordFilter);
    if (filterIndex < 0 || filterIndex >= filters.size())
        return {};
    const QString pattern = filters.at(filterIndex).patterns.first();
    const QString extension = pattern.mid(1);
    static const QRegularExpression fixed(QStringLiteral("^\\.[^*?\\[\\]]+$"));
    return pattern.startsWith(u'*') && fixed.match(extension).hasMatch() ? extension : QString();
}

QString withExtension(const QString &path, const QString &extension) {
    if (extension.isEmpty() || extension == u".")
        return path;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (!QFileInfo(name).suffix().isEmpty())
        return path;
    // "map." has no extension either; the dot is not doubled.
    QString base = path;
    if (base.endsWith(u'.'))
        base.chop(1);
    return base + (extension.startsWith(u'.') ? extension : u'.' + extension);
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

    dialog.setOption(QFileDialog::DontResolveSymlinks,
                     (record.flags & DialogFlags::NoDereferenceLinks) != 0);
    if (saving) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // PromptSaveFile adds the extension and asks before replacing a file itself, so that
        // the same happens for every answer.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode((record.flags & DialogFlags::AllowMultiSelect)
                               ? QFileDialog::ExistingFiles
                               : QFileDialog::ExistingFile);
    }

    // The name box starts with record.file: a bare name in the start folder, or a full path,
    // which also names the folder to start in.
    if (!record.file.isEmpty()) {
        const QFileInfo previous(record.file);
        if (!record.file.contains(u'/') && !record.file.contains(u'\\'))
            dialog.selectFile(record.file);
        else if (previous.isDir())
            dialog.setDirectory(previous.absoluteFilePath());
        else if (previous.absoluteDir().exists())
            dialog.selectFile(previous.absoluteFilePath());
    }
}

FileChoice PromptOpenFile(DialogRecord &record, QWidget *owner, bool CentreOnOwner) {
    record.flags = OpenDialogFlags;
    const QueuedAnswer answer = askForPaths(record, owner, CentreOnOwner, false);
    const FileChoice choice = answer ? choiceFromPaths(answer->paths) : cancelledChoice();
    // A cancelled dialog leaves the name box as it was.
    if (!choice.Cancelled)
        record.file = nameBoxAfter(choice);
    return choice;
}

FileChoice PromptSaveFile(DialogRecord &record, QWidget *owner, bool CentreOnOwner) {
    if (record.flags == 0)
        record.flags = SaveDialogDefaultFlags;
    for (;;) {
        const QueuedAnswer answer = askForPaths(record, owner, CentreOnOwner, true);
        if (!answer || answer->paths.isEmpty())
            return cancelledChoice();
        // A save has one name; a test answer with more keeps only the first.
        QString extension = filterExtension(record.filter, answer->filterIndex);
        if (extension.isEmpty())
            extension = record.defaultExt;
        // A line break typed into the name box is no part of the name.
        QString typed = QDir::fromNativeSeparators(answer->paths.first());
        typed.remove(QLatin1Char('\n'));
        typed.remove(QLatin1Char('\r'));
        const QString path = withExtension(typed, extension);
        record.file = path;
        if ((record.flags & DialogFlags::OverwritePrompt) && QFileInfo::exists(path) &&
            showMessageBox(owner,
                           QFileInfo(path).fileName() +
                               QStringLiteral(" already exists. Do you want to replace it?"),
                           QStringLiteral("Confirm Save As"), MessageButtons::YesNo,
                           MessageIcon::Warning) != MessageAnswer::Yes)
            continue;
        return choiceFromPaths({path});
    }
}

namespace FileDialogTestHook {

void setNextPaths(const QStringList &paths, const QString &filter) {
    hookState().active = true;
    hookState().answers.append(std::pair(paths, filter));
}

void setNextCancel() {
    hookState().active = true;
    hookState().answers.append(std::nullopt);
}

const QList<DialogRecord> &asked() {
    return hookState().asked;
}

void reset() {
    hookState() = FileDialogHookState{};
}

} // namespace FileDialogTestHook
