#include "package/BuildOutcomes.h"

#include <QDir>

#include <iterator>

namespace {

// mapzip's status for a stop is the signal's, not the table's.
constexpr int BySignal = -1;

struct Row {
    BuildEnd end;
    BuildOutcome outcome;
    int exitStatus;
    MessageIcon icon;
    const char16_t *title;
    // %1 the file or path, %2 the reason, %3 the code.
    const char16_t *window;
    const char16_t *commandLine; // nullptr: worded as in the window
};

// clang-format off
const Row Rows[] = {
    {BuildEnd::MapNotRead, BuildOutcome::NotStarted, 1, MessageIcon::Error, u"Map Not Read",
     u"The map %1 has not been read. Choose the map with '...' first.", nullptr},
    {BuildEnd::PasswordMismatch, BuildOutcome::PasswordMismatch, 1, MessageIcon::Error,
     u"Password's Do Not Match!", u"ERROR: Password Mismatch, please re-type your password.",
     nullptr},
    {BuildEnd::NoPassword, BuildOutcome::NotStarted, 1, MessageIcon::Error, u"No Password!",
     u"ERROR: No password given, please type your password or untick \"Password\".",
     u"The password is empty: give one, or leave out --password-stdin and --password-file."},
    {BuildEnd::CommentNotPossible, BuildOutcome::NotStarted, 1, MessageIcon::Error,
     u"Comment Not Possible",
     u"Nothing was built: the comment holds characters that the readme and the archive comment "
     u"cannot hold (Windows-1252 has no %2). Write the comment without them.", nullptr},
    {BuildEnd::NoMapFile, BuildOutcome::NotStarted, 1, MessageIcon::Error, u"No Map File",
     u"The map path %1 does not name a map file. Choose the map file on the first page.",
     u"The map path %1 does not name a map file."},
    {BuildEnd::CheckUnavailable, BuildOutcome::Failed, 1, MessageIcon::Error,
     u"Archive Check Unavailable", u"Nothing was built: %2.", nullptr},
    {BuildEnd::StagingFolderError, BuildOutcome::Failed, 1, MessageIcon::Error,
     u"Staging Folder Error",
     u"The staging folder could not be made ready, so nothing was built: %2.", nullptr},
    {BuildEnd::Cancelled, BuildOutcome::Cancelled, 1, MessageIcon::None, u"", u"", u""},
    {BuildEnd::ServerMapPassword, BuildOutcome::Failed, 1, MessageIcon::Error,
     u"No Password For Server Maps",
     u"A server map archive (.smap) cannot have a password: the game cannot open an encrypted "
     u"archive. Untick \"Password\", or save it as a ZIP archive.",
     u"A server map archive (.smap) cannot have a password: the game cannot open an encrypted "
     u"archive. Leave out --password-stdin and --password-file, or write a .zip archive."},
    {BuildEnd::TargetFolderUnusable, BuildOutcome::Failed, 1, MessageIcon::Error,
     u"Archive Not Saved", u"Nothing was built: the archive cannot be saved to %1: %2.", nullptr},
    {BuildEnd::MapNotPacked, BuildOutcome::Failed, 1, MessageIcon::Error, u"Map Not Packed",
     u"The map file could not be packed, so nothing was built: %2.", nullptr},
    {BuildEnd::FileNotPacked, BuildOutcome::Failed, 1, MessageIcon::Error, u"File Not Packed",
     u"%1 could not be packed, so nothing was built: %2.", nullptr},
    {BuildEnd::MapChanged, BuildOutcome::MapChanged, 1, MessageIcon::Warning, u"Map Changed",
     u"The map %1 has changed on disk since it was read, so nothing was built. Its lists are "
     u"read again now: check them, then press \"Make ZIP\" again.",
     u"The map %1 has changed on disk since it was read, so nothing was built."},
    {BuildEnd::TargetRefused, BuildOutcome::Failed, 1, MessageIcon::Error, u"Archive Not Saved",
     u"Nothing was built: the archive cannot be saved to %1, as it %2.", nullptr},
    {BuildEnd::ReadmeNotWritten, BuildOutcome::Failed, 1, MessageIcon::Error,
     u"Readme Not Written", u"The readme %1 could not be written: %2. Nothing was built.",
     nullptr},
    {BuildEnd::EngineError, BuildOutcome::Failed, 1, MessageIcon::Error, u"Error Code %3.",
     u"%2\r\n\r\nThere was an error creating your ZIP file :'(. Please write down this code "
     u"(%3). Please refer to readme.txt to see what error you are getting.", nullptr},
    {BuildEnd::CheckFailed, BuildOutcome::Failed, 1, MessageIcon::Error, u"Archive Check Failed",
     u"The archive did not pass its check after writing, so it was not saved: %2. Any file that "
     u"was at %1 before is unchanged.", nullptr},
    {BuildEnd::NotSaved, BuildOutcome::Failed, 1, MessageIcon::Error, u"Archive Not Saved",
     u"The archive could not be saved to %1: %2. Any file that was there before is unchanged.",
     nullptr},
    {BuildEnd::Stopped, BuildOutcome::Stopped, BySignal, MessageIcon::None, u"", u"",
     u"stopped; nothing was written"},
    // mapzip names each left-out file, and the limit the map is over, on a line of its own.
    {BuildEnd::PackedWithMissing, BuildOutcome::PackedWithMissing, 3, MessageIcon::Warning,
     u"Map Packed With Missing Files",
     u"Your map has been compiled, but the archive lacks files the map needs.\r\n\r\n"
     u"Path: %1", u""},
    {BuildEnd::RefusedByGame, BuildOutcome::PackedWithMissing, 3, MessageIcon::Warning,
     u"Map Packed, But The Game Refuses It",
     u"Your map has been compiled, but %2.\r\n\r\nPath: %1", u""},
    {BuildEnd::Succeeded, BuildOutcome::Succeeded, 0, MessageIcon::Information, u"100% Complete",
     u"Congratulations! Your map has successfully been compiled.\r\n\r\nPath: %1\r\n\r\n"
     u"Please do not remove the readme that was automatically generated.", nullptr},
};
// clang-format on
static_assert(std::size(Rows) == size_t(BuildEnd::Succeeded) + 1, "a row for every end");

const Row &rowOf(BuildEnd end) {
    return Rows[size_t(end)];
}

// `text` with %1, %2 and %3 replaced in one pass, so that a path holding "%2" stays as it is.
QString filled(const char16_t *text, const QString (&blanks)[3]) {
    const QString pattern = QString::fromUtf16(text);
    QString result;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar next = i + 1 < pattern.size() ? pattern.at(i + 1) : QChar();
        if (pattern.at(i) == u'%' && next >= u'1' && next <= u'3') {
            result += blanks[next.unicode() - u'1'];
            ++i;
        } else {
            result += pattern.at(i);
        }
    }
    return result;
}

} // namespace

bool isDelivered(BuildEnd end) {
    return end == BuildEnd::Succeeded || end == BuildEnd::PackedWithMissing ||
           end == BuildEnd::RefusedByGame;
}

BuildMessage buildMessage(BuildEnd end, const QString &file, const QString &reason, int code,
                          const QStringList &notes, const QString &leftOut) {
    const Row &row = rowOf(end);
    Q_ASSERT(row.end == end);
    const QString blanks[3] = {QDir::toNativeSeparators(file), reason, QString::number(code)};
    BuildMessage message;
    message.icon = row.icon;
    message.title = filled(row.title, blanks);
    message.windowText = filled(row.window, blanks);
    message.commandLineText = filled(row.commandLine ? row.commandLine : row.window, blanks);
    const bool delivered = isDelivered(end);
    if (delivered)
        message.archive = file;
    if (delivered && !leftOut.isEmpty())
        message.windowText += QStringLiteral("\r\n\r\nLeft out:") + leftOut;
    // Under the result, what the build decided on its own.
    if (delivered && !notes.isEmpty())
        message.windowText +=
            QStringLiteral("\r\n\r\nNotes:\r\n") + notes.join(QStringLiteral("\r\n"));
    return message;
}

BuildOutcome outcomeOf(BuildEnd end) {
    return rowOf(end).outcome;
}

int exitStatusOf(BuildEnd end) {
    return rowOf(end).exitStatus;
}
