// Choosing a map with "..." and building its archive with "Make ZIP", through the real window,
// the real map reader, staging and archive engine. Archives are checked with Python's zipfile.

#include "WizardTestSupport.h"
#include "support/ZipVerify.h"

#include "archive/ZipBinding.h"
#include "package/ProgramInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

bool hasEntryEndingWith(const QStringList &names, const QString &end) {
    for (const QString &name : names) {
        if (name.endsWith(end, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace

class BrowseTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        ASSERT_TRUE(gameDir.isValid());
        copyTree(testDataPath("soldat"), game());
    }
    QString game() const { return gameDir.path() + "/soldat"; }
    QString viet() const { return game() + "/maps/ctf_Viet.pms"; }

    QTemporaryDir gameDir;
};

TEST_F(BrowseTest, ChoosingAMapFillsThePathAndTheAddList) {
    Form1 &form = makeForm();
    form.lScExclude->addItem("from an earlier map.png");
    FileDialogTestHook::setNextPaths({viet()});
    form.cmdBrowse->click();

    ASSERT_EQ(FileDialogTestHook::asked().size(), 1);
    const DialogRecord &asked = FileDialogTestHook::asked().first();
    EXPECT_EQ(asked.title, "Browse for map...");
    const QChar nul(0);
    EXPECT_EQ(asked.filter, QString("Soldat Map File (*.PMS)") + nul + "*.PMS" + nul +
                                "All Files (*.*)" + nul + "*.*" + nul);
    EXPECT_EQ(asked.initialDir, defaultMapsFolder());

    EXPECT_EQ(form.txtPath->text(), viet());
    EXPECT_EQ(items(form.lScADD),
              QStringList({"inka_2.bmp", "mnp-jungle5.bmp", "(!) mnp-underground2.bmp",
                           "(!) mnp-underground1.bmp"}));
    EXPECT_EQ(items(form.lScExclude), QStringList({"from an earlier map.png"}));
    EXPECT_EQ(form.state().TextureName, "xt_forrestdirtrock.png");
    EXPECT_EQ(form.state().MapDescription, "Viet");
    EXPECT_TRUE(form.state().MapName.isEmpty()) << "only a build derives the map name";
    EXPECT_TRUE(boxes().isEmpty());

    // The same map again rebuilds the list, undoing moves.
    form.lScADD->setCurrentRow(0);
    form.cmdL2R->click();
    FileDialogTestHook::setNextPaths({viet()});
    form.cmdBrowse->click();
    EXPECT_EQ(form.lScADD->count(), 4);
    EXPECT_EQ(items(form.lScExclude), QStringList({"from an earlier map.png", "inka_2.bmp"}));
}

TEST_F(BrowseTest, CancelOrSeveralFilesChangeNothing) {
    Form1 &form = makeForm();
    FileDialogTestHook::setNextPaths({viet()});
    form.cmdBrowse->click();
    const QStringList addBefore = items(form.lScADD);
    form.lScExclude->addItem("x.png");

    FileDialogTestHook::setNextCancel();
    form.cmdBrowse->click();
    EXPECT_TRUE(boxes().isEmpty());

    FileDialogTestHook::setNextPaths(
        {game() + "/maps/ctf_Viet.pms", game() + "/maps/htf_Dorothy.pms"});
    form.cmdBrowse->click();
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].icon, MessageIcon::Error);
    EXPECT_TRUE(boxes()[0].text.contains("one map")) << boxes()[0].text.toStdString();

    EXPECT_EQ(form.txtPath->text(), viet());
    EXPECT_EQ(items(form.lScADD), addBefore);
    EXPECT_EQ(items(form.lScExclude), QStringList({"x.png"}));
    EXPECT_EQ(form.state().TextureName, "xt_forrestdirtrock.png");
}

TEST_F(BrowseTest, AnUnreadableMapIsReportedAndLeavesTheAddListEmpty) {
    Form1 &form = makeForm();
    FileDialogTestHook::setNextPaths({viet()});
    form.cmdBrowse->click();
    ASSERT_EQ(form.lScADD->count(), 4);

    const QString broken = game() + "/maps/broken.pms";
    writeBytes(broken, QByteArray("\x05\x00\x00\x00not a map", 13));
    FileDialogTestHook::setNextPaths({broken});
    form.cmdBrowse->click();
    EXPECT_EQ(form.txtPath->text(), broken);
    EXPECT_EQ(form.lScADD->count(), 0);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].icon, MessageIcon::Error);
    EXPECT_FALSE(boxes()[0].text.isEmpty());
    EXPECT_EQ(form.state().TextureName, "xt_forrestdirtrock.png")
        << "an unread map changes no state";
}

class BuildTest : public BrowseTest {
protected:
    // From "..." on page 1 to page 3, with the second scenery excluded.
    Form1 &preparedForm() {
        Form1 &form = makeForm();
        form.zipBinding().setEngineCandidates({QStringLiteral(MAPZIP_ZIP32_PATH)});
        form.show();
        FileDialogTestHook::setNextPaths({viet()});
        form.cmdBrowse->click();
        form.cmdNextFrame->click();
        form.lScADD->setCurrentRow(1);
        form.cmdL2R->click();
        form.cmdNextFrame->click();
        EXPECT_EQ(form.cmdNextFrame->text(), "!! Quit !!");
        return form;
    }
    QString saveTo() const { return gameDir.path() + "/out/Viet archive.zip"; }
};

TEST_F(BuildTest, MakeZipWritesTheChosenArchive) {
    QDir().mkpath(gameDir.path() + "/out");
    writeBytes(saveTo(), "an older file, replaced without a question");
    Form1 &form = preparedForm();
    form.cComp->setCurrentIndex(6);
    form.chkComment->click();
    form.txtComment->setPlainText("Have fun\nwith Viet");

    FileDialogTestHook::setNextPaths({saveTo()});
    form.cmdGO->click();

    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::Succeeded);
    ASSERT_EQ(FileDialogTestHook::asked().size(), 2);
    EXPECT_EQ(FileDialogTestHook::asked()[1].title, "Save ZIP Map Archive...");
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].title, "100% Complete");
    EXPECT_TRUE(boxes()[0].text.contains("\r\n\r\nPath: " + saveTo() + "\r\n\r\n"));
    EXPECT_TRUE(form.cmdGO->isEnabled());
    EXPECT_EQ(form.cmdGO->text(), "Make ZIP");
    EXPECT_EQ(form.state().MapName, "ctf_Viet");
    EXPECT_EQ(form.state().rSaveTo, saveTo());

    const ArchiveListing listing = readArchive(saveTo());
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "ctf_Viet.pms"));
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "ctf_Viet_ReadMe.txt"));
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "inka_2.bmp"));
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "xt_forrestdirtrock.png"));
    EXPECT_FALSE(hasEntryEndingWith(listing.names(), "mnp-jungle5.bmp")) << "it was excluded";
    EXPECT_TRUE(listing.comment.contains("Have fun")) << listing.comment.toStdString();
}

TEST_F(BuildTest, CancelledSaveAndPasswordMismatchBuildNothing) {
    Form1 &form = preparedForm();
    form.chkPass->click();
    form.txtPass->setText("Secret");
    form.txtPass2->setText("secret");
    form.cmdGO->click();
    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::PasswordMismatch);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].title, "Password's Do Not Match!");
    EXPECT_EQ(FileDialogTestHook::asked().size(), 1) << "no save dialog";

    form.txtPass2->setText("Secret");
    FileDialogTestHook::setNextCancel();
    form.cmdGO->click();
    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::Cancelled);
    EXPECT_EQ(boxes().size(), 1);
    EXPECT_TRUE(form.cmdGO->isEnabled());
    EXPECT_EQ(form.cmdGO->text(), "Make ZIP");
    EXPECT_FALSE(QFile::exists(saveTo()));
}

TEST_F(BuildTest, ClosingTheWindowDuringABuildEndsItQuietly) {
    Form1 &form = preparedForm();
    FileDialogTestHook::setNextPaths({saveTo()});
    QDir().mkpath(gameDir.path() + "/out");
    // Runs at the first moment the build lets window events through.
    QTimer::singleShot(0, &form, [&form] { form.close(); });
    form.cmdGO->click();

    EXPECT_TRUE(form.isHidden());
    EXPECT_TRUE(boxes().isEmpty()) << "no box after the window has gone";
    EXPECT_TRUE(form.cmdGO->isEnabled());
    EXPECT_NE(form.lastBuildOutcome(), BuildOutcome::NotStarted);
    // Whatever the engine had finished is a whole archive or no file at all.
    if (QFile::exists(saveTo())) {
        EXPECT_TRUE(readArchive(saveTo()).ok);
    }
}
