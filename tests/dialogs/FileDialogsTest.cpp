#include "dialogs/FileDialogs.h"
#include "DialogTestSupport.h"
#include "dialogs/MessageBox.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString MapFilter = QStringLiteral("Soldat Map File (*.PMS)") + QChar(0) +
                          QStringLiteral("*.PMS") + QChar(0) + QStringLiteral("All Files (*.*)") +
                          QChar(0) + QStringLiteral("*.*") + QChar(0);
// As the build describes its save dialog.
const QString ZipFilter =
    QStringLiteral("Zip Archive (*.zip)") + QChar(0) + QStringLiteral("*.zip") + QChar(0) +
    QStringLiteral("Server Map Archive (*.smap)") + QChar(0) + QStringLiteral("*.smap") + QChar(0) +
    QStringLiteral("All Files (*.*)") + QChar(0) + QStringLiteral("*.*") + QChar(0);

void touch(const QString &path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

class FileDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        FileDialogTestHook::reset();
        ASSERT_TRUE(folder.isValid());
        maps = folder.path() + QStringLiteral("/maps");
        ASSERT_TRUE(QDir().mkpath(maps));
        record.filter = MapFilter;
        record.title = QStringLiteral("Browse for map...");
        record.initialDir = maps;
    }
    void TearDown() override { FileDialogTestHook::reset(); }

    // The names the dialog's file list shows in its current folder, once they stop changing.
    static QStringList listedNames(QFileDialog *dialog) {
        auto *model = dialog->findChild<QFileSystemModel *>();
        if (!model)
            return {};
        const QModelIndex root = model->index(dialog->directory().absolutePath());
        QStringList names;
        for (int attempt = 0; attempt < 50; ++attempt) {
            QTest::qWait(20);
            QStringList now;
            for (int row = 0; row < model->rowCount(root); ++row)
                now.append(model->index(row, 0, root).data().toString());
            now.sort();
            if (!now.isEmpty() && now == names)
                break;
            names = now;
        }
        return names;
    }

    // What a user typing into the name box does (selectFile leaves a focused box alone).
    static void typeName(QFileDialog *dialog, const QString &name) {
        if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->setText(name);
    }

    QTemporaryDir folder;
    QString maps;
    DialogRecord record;
};

TEST_F(FileDialogs, OpenChoicesBecomeResultsAndCarryOverInTheRecord) {
    record.flags = DialogFlags::OverwritePrompt; // the open dialog uses its own flags

    FileDialogTestHook::setNextPaths({maps + QStringLiteral("/ctf_Run.pms")});
    FileChoice one = PromptOpenFile(record, nullptr, true);
    EXPECT_FALSE(one.Cancelled);
    EXPECT_EQ(one.NameCount, 1);
    EXPECT_EQ(one.Folder, maps + u'/');
    EXPECT_EQ(one.FileNames, QStringList{QStringLiteral("ctf_Run.pms")});
    EXPECT_EQ(record.flags, OpenDialogFlags);
    EXPECT_EQ(record.file, maps + QStringLiteral("/ctf_Run.pms"));

    // The next open dialog starts with the previous full path in its name box.
    FileDialogTestHook::setNextPaths(
        {maps + QStringLiteral("/b.pms"), maps + QStringLiteral("/a.pms")});
    FileChoice two = PromptOpenFile(record, nullptr, true);
    ASSERT_EQ(FileDialogTestHook::asked().size(), 2);
    EXPECT_EQ(FileDialogTestHook::asked()[1].file, maps + QStringLiteral("/ctf_Run.pms"));
    EXPECT_EQ(FileDialogTestHook::asked()[1].title, QStringLiteral("Browse for map..."));
    EXPECT_FALSE(two.Cancelled);
    EXPECT_EQ(two.NameCount, 2);
    EXPECT_EQ(two.Folder, maps);
    EXPECT_EQ(two.FileNames, (QStringList{QStringLiteral("b.pms"), QStringLiteral("a.pms")}));
    EXPECT_EQ(record.file, maps); // a multiple choice leaves its folder in the name box

    FileDialogTestHook::setNextCancel();
    FileChoice cancelled = PromptOpenFile(record, nullptr, true);
    EXPECT_TRUE(cancelled.Cancelled);
    EXPECT_EQ(cancelled.NameCount, 0);
    EXPECT_TRUE(cancelled.Folder.isEmpty());
    EXPECT_TRUE(cancelled.FileNames.isEmpty());
    EXPECT_EQ(record.file, maps);
}

TEST_F(FileDialogs, SaveSuggestsTheRecordsNameAndOnlyDefaultsZeroFlags) {
    record.file = QStringLiteral("ctf_Run.zip");
    record.filter = ZipFilter;
    record.defaultExt = QStringLiteral(".zip");
    record.flags = 0;

    // A line break typed into the name box is no part of the name.
    FileDialogTestHook::setNextPaths({maps + QStringLiteral("/o\r\nut.zip")});
    FileChoice saved = PromptSaveFile(record, nullptr, true);
    ASSERT_EQ(FileDialogTestHook::asked().size(), 1);
    EXPECT_EQ(FileDialogTestHook::asked()[0].file, QStringLiteral("ctf_Run.zip"));
    EXPECT_EQ(FileDialogTestHook::asked()[0].flags, SaveDialogDefaultFlags);
    EXPECT_FALSE(saved.Cancelled);
    EXPECT_EQ(saved.NameCount, 1);
    EXPECT_EQ(saved.Folder + saved.FileNames.value(0), maps + QStringLiteral("/out.zip"));

    // Caller's non-zero flags stay as written; a cancel keeps the name box; an open dialog
    // after a save starts with the saved path.
    record.flags = 0x280004;
    FileDialogTestHook::setNextCancel();
    FileChoice cancelled = PromptSaveFile(record, nullptr, true);
    EXPECT_TRUE(cancelled.Cancelled);
    EXPECT_EQ(record.flags, 0x280004u);
    EXPECT_EQ(record.file, maps + QStringLiteral("/out.zip"));

    FileDialogTestHook::setNextPaths({maps + QStringLiteral("/again.zip")});
    PromptSaveFile(record, nullptr, true);
    FileDialogTestHook::setNextCancel();
    PromptOpenFile(record, nullptr, true);
    EXPECT_EQ(FileDialogTestHook::asked().last().file, maps + QStringLiteral("/again.zip"));
}

TEST_F(FileDialogs, SaveAddsTheChosenFiltersExtensionAndAsksBeforeReplacing) {
    touch(maps + QStringLiteral("/old.zip"));
    record.filter = ZipFilter;
    record.defaultExt = QStringLiteral(".zip");
    struct Case {
        QStringList typed; // one answer of the dialog each
        QString filter;
        quint32 flags;
        QList<MessageAnswer> answers; // to the question before replacing
        QString saved;                // empty: cancelled
        int questions;
    };
    const QString zip = QStringLiteral("Zip Archive (*.zip)");
    const QString smap = QStringLiteral("Server Map Archive (*.smap)");
    const QString all = QStringLiteral("All Files (*.*)");
    const QList<Case> cases = {
        {{"out"}, zip, 0, {}, "out.zip", 0},
        {{"out"}, smap, 0, {}, "out.smap", 0},
        {{"out."}, smap, 0, {}, "out.smap", 0},
        {{"out"}, all, 0, {}, "out.zip", 0},
        {{"out.txt"}, smap, 0, {}, "out.txt", 0},
        {{"old"}, zip, 0, {MessageAnswer::Yes}, "old.zip", 1},
        {{"old", "new"}, zip, 0, {MessageAnswer::No}, "new.zip", 1},
        {{"old"}, zip, 0, {MessageAnswer::No}, "", 1},
        {{"old.zip"}, zip, DialogFlags::Explorer, {}, "old.zip", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.typed.join(u',').toStdString() + " " + c.filter.toStdString());
        FileDialogTestHook::reset();
        MessageBoxTestHook::reset();
        MessageBoxTestHook::hideBoxes();
        for (const MessageAnswer answer : c.answers)
            MessageBoxTestHook::setNextAnswer(answer);
        for (const QString &name : c.typed)
            FileDialogTestHook::setNextPaths({maps + u'/' + name}, c.filter);
        record.flags = c.flags;

        const FileChoice choice = PromptSaveFile(record, nullptr, true);
        EXPECT_EQ(choice.Cancelled, c.saved.isEmpty());
        if (!c.saved.isEmpty()) {
            EXPECT_EQ(choice.Folder + choice.FileNames.value(0), maps + u'/' + c.saved);
        }
        const QList<MessageBoxTestHook::Shown> &shown = MessageBoxTestHook::shown();
        ASSERT_EQ(shown.size(), c.questions);
        if (c.questions > 0) {
            EXPECT_EQ(shown[0].text,
                      QStringLiteral("old.zip already exists. Do you want to replace it?"));
            EXPECT_EQ(shown[0].buttons, MessageButtons::YesNo);
        }
        // No goes back to the dialog, which asks again.
        EXPECT_EQ(FileDialogTestHook::asked().size(),
                  c.questions > 0 && c.answers.value(0) == MessageAnswer::No ? 2 : 1);
    }
    MessageBoxTestHook::reset();
}

TEST_F(FileDialogs, ManyFilesAreAllKept) {
    QStringList paths;
    for (int i = 0; i < 250; ++i)
        paths.append(maps + QStringLiteral("/map%1.pms").arg(i));
    FileDialogTestHook::setNextPaths(paths);
    FileChoice choice = PromptOpenFile(record, nullptr, true);
    EXPECT_EQ(choice.NameCount, 250);
    ASSERT_EQ(choice.FileNames.size(), 250);
    EXPECT_EQ(choice.FileNames.last(), QStringLiteral("map249.pms"));
}

TEST_F(FileDialogs, CentringRoundsHalvesToEven) {
    const QSize dialog(400, 100);
    EXPECT_EQ(centredPosition(QRect(100, 10, 501, 301), dialog), QPoint(150, 110));
    EXPECT_EQ(centredPosition(QRect(100, 10, 503, 303), dialog), QPoint(152, 112));
    // Left of the screen's origin: -48.5 goes to -48, not away from zero.
    EXPECT_EQ(centredPosition(QRect(-99, 0, 501, 100), dialog).x(), -48);
    EXPECT_EQ(centredPosition(QRect(0, 0, 800, 600), dialog), QPoint(200, 250));
}

TEST_F(FileDialogs, PatternsMatchAnyLetterCase) {
    EXPECT_EQ(caseInsensitivePattern(QStringLiteral("*.PMS")), QStringLiteral("*.[pP][mM][sS]"));
    EXPECT_EQ(caseInsensitivePattern(QStringLiteral("map_?[ab].z1p")),
              QStringLiteral("[mM][aA][pP]_?[aAbB].[zZ]1[pP]"));
    // Description shown, pattern filtering; an odd trailing text without pattern is dropped.
    const QStringList filters =
        nameFiltersFor(QStringLiteral("Images") + QChar(0) + QStringLiteral("*.bmp;*.PNG") +
                       QChar(0) + QStringLiteral("Dangling") + QChar(0));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Images (*.[bB][mM][pP] *.[pP][nN][gG])")});
    EXPECT_EQ(nameFiltersFor(QString()), QStringList{QStringLiteral("All Files (*)")});
}

TEST_F(FileDialogs, RealOpenDialogListsMapsInAnyCaseAndCentresOverTheOwner) {
    touch(maps + QStringLiteral("/ctf_Run.pms"));
    touch(maps + QStringLiteral("/CTF_Viet.PMS"));
    touch(maps + QStringLiteral("/readme.txt"));
    touch(maps + QStringLiteral("/noextension"));

    // Partly off the screen's right edge, where Qt's own placement would pull the dialog back.
    QWidget owner;
    owner.setGeometry(600, 350, 501, 401);
    owner.show();

    struct Seen {
        QString title, shownFilter;
        QStringList mapNames, allNames;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        bool native = true;
        QPoint position, expected;
    } seen;
    auto watchdog = whenShown<QFileDialog>([&](QFileDialog *dialog) {
        seen.title = dialog->windowTitle();
        seen.mode = dialog->fileMode();
        seen.native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
        if (auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
            seen.shownFilter = combo->currentText();
        seen.position = dialog->frameGeometry().topLeft();
        seen.expected = centredPosition(owner.frameGeometry(), dialog->frameGeometry().size());
        seen.mapNames = listedNames(dialog);
        dialog->selectNameFilter(dialog->nameFilters().value(1));
        seen.allNames = listedNames(dialog);
        typeName(dialog, QStringLiteral("CTF_Viet.PMS"));
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
    });
    FileChoice choice = PromptOpenFile(record, &owner, true);

    EXPECT_EQ(seen.title, QStringLiteral("Browse for map..."));
    EXPECT_EQ(seen.shownFilter, QStringLiteral("Soldat Map File (*.PMS)"));
    EXPECT_EQ(seen.mode, QFileDialog::ExistingFiles);
    EXPECT_FALSE(seen.native);
    EXPECT_EQ(seen.mapNames,
              (QStringList{QStringLiteral("CTF_Viet.PMS"), QStringLiteral("ctf_Run.pms")}));
    EXPECT_EQ(seen.allNames.size(), 4) << seen.allNames.join(u',').toStdString();
    EXPECT_EQ(seen.position, seen.expected);
    EXPECT_FALSE(choice.Cancelled);
    EXPECT_EQ(choice.Folder, maps + u'/');
    EXPECT_EQ(choice.FileNames, QStringList{QStringLiteral("CTF_Viet.PMS")});
    EXPECT_EQ(record.file, maps + QStringLiteral("/CTF_Viet.PMS"));
}

TEST_F(FileDialogs, RealSaveDialogStartsWithTheSuggestionAndFollowsTheChosenFilter) {
    record.filter = ZipFilter;
    record.defaultExt = QStringLiteral(".zip");
    record.file = QStringLiteral("ctf_Run.zip");
    record.flags = DialogFlags::OverwritePrompt;

    struct Seen {
        QString nameBox, folder, afterFilter;
        bool qtAsksBeforeReplacing = true;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        QPoint position, expected;
    } seen;
    auto watchdog = whenShown<QFileDialog>([&](QFileDialog *dialog) {
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        seen.nameBox = edit ? edit->text() : QString();
        seen.folder = dialog->directory().absolutePath();
        seen.qtAsksBeforeReplacing = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
        seen.mode = dialog->acceptMode();
        seen.position = dialog->frameGeometry().topLeft();
        seen.expected =
            centredPosition(dialog->screen()->geometry(), dialog->frameGeometry().size());
        if (types) { // the user picks the server map archive
            types->setCurrentIndex(1);
            Q_EMIT types->activated(1);
            Q_EMIT types->textActivated(types->currentText());
        }
        QTest::qWait(50);
        seen.afterFilter = edit ? edit->text() : QString();
        typeName(dialog, QStringLiteral("mymap"));
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides it
    });
    const FileChoice choice = PromptSaveFile(record, nullptr, false);

    EXPECT_EQ(seen.nameBox, QStringLiteral("ctf_Run.zip"));
    EXPECT_EQ(seen.folder, maps);
    EXPECT_EQ(seen.afterFilter, QStringLiteral("ctf_Run.smap"));
    EXPECT_FALSE(seen.qtAsksBeforeReplacing) << "PromptSaveFile asks, for every answer alike";
    EXPECT_EQ(seen.mode, QFileDialog::AcceptSave);
    EXPECT_EQ(seen.position, seen.expected); // no owner: centred on screen
    EXPECT_FALSE(choice.Cancelled);
    EXPECT_EQ(choice.Folder, maps + u'/');
    EXPECT_EQ(choice.FileNames, QStringList{QStringLiteral("mymap.smap")});
}

} // namespace
