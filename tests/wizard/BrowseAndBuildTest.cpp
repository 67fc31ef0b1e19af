// Choosing a map with "..." or by typing it, and building its archive with "Make ZIP", through
// the real window, the real map reader, staging and archive engine. Archives are checked with
// Python's zipfile.

#include "WizardTestSupport.h"
#include "support/MapWriter.h"
#include "support/PlainUser.h"
#include "support/ZipVerify.h"

#include "archive/ZipBinding.h"
#include "package/ProgramInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

bool hasEntryEndingWith(const QStringList &names, const QString &end) {
    for (const QString &name : names) {
        if (name.endsWith(end, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

const QStringList VietSceneries = {"inka_2.bmp", "mnp-jungle5.bmp", "mnp-underground2.bmp",
                                   "mnp-underground1.bmp"};

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

TEST_F(BrowseTest, ChoosingAMapFillsThePathAndTheLists) {
    Form1 &form = makeForm();
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
    EXPECT_EQ(items(form.lScADD), VietSceneries);
    EXPECT_EQ(form.state().TextureName, "xt_forrestdirtrock.png");
    EXPECT_EQ(form.state().MapDescription, "Viet");
    EXPECT_EQ(form.state().MapPath, viet());
    EXPECT_TRUE(form.state().MapName.isEmpty()) << "only a build derives the map name";
    EXPECT_TRUE(boxes().isEmpty());

    // The same map again rebuilds both lists, undoing moves.
    form.lScADD->setCurrentRow(0);
    form.cmdL2R->click();
    FileDialogTestHook::setNextPaths({viet()});
    form.cmdBrowse->click();
    EXPECT_EQ(items(form.lScADD), VietSceneries);
    EXPECT_EQ(form.lScExclude->count(), 0);
}

// Enter in the path box reads the typed map, a path relative to the current folder too, and
// turns to page 2; a file that is no map is refused as such, with the reason. Two more presses
// of Enter lead to the save dialog: Enter never lands on "!! Quit !!".
TEST_F(BrowseTest, EnterReadsTheTypedMapAndWalksToTheSaveDialog) {
    writeBytes(game() + "/maps/empty.pms", {});
    writeBytes(game() + "/maps/notes.pms", QByteArray("Play it at night.\n").repeated(9));
    QFile::copy(game() + "/scenery-gfx/inka_2.bmp", game() + "/maps/picture.pms");
    Form1 &form = makeForm();
    form.zipBinding().setEngineCandidates({QStringLiteral(MAPZIP_ZIP32_PATH)});
    form.show();
    QApplication::setActiveWindow(&form);
    const QString before = QDir::currentPath();
    QDir::setCurrent(game());
    for (const QString name : {"missing", "empty", "notes", "picture", "ctf_Viet"}) {
        MessageBoxTestHook::reset();
        MessageBoxTestHook::hideBoxes();
        form.txtPath->setText("maps/" + name + ".pms");
        QTest::keyClick(form.txtPath, Qt::Key_Return);
        EXPECT_EQ(form.txtPath->text(), game() + "/maps/" + name + ".pms") << "as read";
        if (name == "ctf_Viet")
            break;
        ASSERT_EQ(boxes().size(), 1) << name.toStdString();
        EXPECT_TRUE(boxes()[0].text.startsWith(name == "missing" ? form.txtPath->text()
                                                                 : "This is not a Soldat map: "))
            << boxes()[0].text.toStdString();
        EXPECT_TRUE(form.lScADD->count() == 0 && form.state().MapPath.isEmpty() &&
                    form.windowHeightTwips() == ShortPageHeight); // unread, on page 1
    }
    QDir::setCurrent(before);
    EXPECT_TRUE(boxes().isEmpty());
    EXPECT_EQ(items(form.lScADD), VietSceneries);
    EXPECT_EQ(form.windowHeightTwips(), TallPageHeight) << "read, and on to page 2";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter); // on "Next >>"
    EXPECT_TRUE(form.cmdGO && form.cmdGO->hasFocus() && form.cmdGO->isDefault()) << "page 3";
    FileDialogTestHook::setNextCancel();
    QTest::keyClick(form.chkMask, Qt::Key_Return); // from a check box Enter still makes it
    EXPECT_EQ(FileDialogTestHook::asked().value(0).title, "Save ZIP Map Archive...");
    EXPECT_EQ(programEnds + boxes().size(), 0);
}

// The open dialog starts at the map in the path box where its folder is there. Once "..." has
// read a map, Enter goes on from "Next >>": three presses reach the save dialog, which first
// starts beside the map.
TEST_F(BrowseTest, AfterBrowsingEnterWalksToASaveDialogBesideTheMap) {
    Form1 &form = makeForm();
    form.zipBinding().setEngineCandidates({QStringLiteral(MAPZIP_ZIP32_PATH)});
    form.show();
    QApplication::setActiveWindow(&form);
    for (const auto &[typed, file] : {std::pair{QString(), QString()},
                                      {game() + "/nowhere/x.pms", QString()},
                                      {viet(), viet()}}) {
        form.txtPath->setText(typed);
        FileDialogTestHook::setNextCancel();
        form.cmdBrowse->click();
        EXPECT_EQ(FileDialogTestHook::asked().last().file, file) << typed.toStdString();
        EXPECT_EQ(FileDialogTestHook::asked().last().initialDir, defaultMapsFolder());
    }
    FileDialogTestHook::setNextPaths({viet()});
    FileDialogTestHook::setNextCancel();
    form.cmdBrowse->setFocus();
    for (int press = 0; press < 4; ++press)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(FileDialogTestHook::asked().size(), 5);
    EXPECT_EQ(FileDialogTestHook::asked()[4].title, "Save ZIP Map Archive...");
    EXPECT_EQ(FileDialogTestHook::asked()[4].initialDir, game() + "/maps");
}

// A map dropped on the window opens as if chosen with "..."; other drops are refused.
TEST_F(BrowseTest, ADroppedMapOpensAsIfChosen) {
    Form1 &form = makeForm();
    const QUrl map = QUrl::fromLocalFile(viet());
    for (const QList<QUrl> &urls : {QList<QUrl>{QUrl::fromLocalFile(game() + "/maps/x.txt")},
                                    {map, QUrl::fromLocalFile(game() + "/maps/htf_Dorothy.pms")},
                                    {QUrl("https://example.org/ctf_Viet.pms")},
                                    {map}}) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&form, &enter);
        EXPECT_EQ(enter.isAccepted(), urls == QList<QUrl>{map});
        QCoreApplication::sendEvent(&form, &drop);
        EXPECT_EQ(form.txtPath->text(), enter.isAccepted() ? viet() : QString());
    }
    EXPECT_EQ(items(form.lScADD), VietSceneries);
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
    Form1 &preparedForm(const QString &map = {}, const QString &folder = {}) {
        Form1 &form = makeForm(folder);
        if (folder.isEmpty())
            form.zipBinding().setEngineCandidates({QStringLiteral(MAPZIP_ZIP32_PATH)});
        form.show();
        FileDialogTestHook::setNextPaths({map.isEmpty() ? viet() : map});
        form.cmdBrowse->click();
        form.cmdNextFrame->click();
        form.lScADD->setCurrentRow(1);
        form.cmdL2R->click();
        form.cmdNextFrame->click();
        EXPECT_EQ(form.cmdNextFrame->text(), "!! Quit !!");
        return form;
    }
    QString saveTo() const { return gameDir.path() + "/out/Viet archive.zip"; }

    // Runs `act` each time the build lets window events through, until it returns true.
    void whileBuilding(Form1 &form, std::function<bool()> act) {
        auto *timer = new QTimer(&form);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, act] {
            if (act())
                timer->stop();
        });
        timer->start(0);
    }
};

TEST_F(BuildTest, MakeZipShowsProgressIgnoresClicksAndWritesTheChosenArchive) {
    writeBytes(saveTo(), "an older file, replaced after a question");
    Form1 &form = preparedForm();
    form.cComp->setCurrentIndex(6);
    form.chkComment->click();
    form.txtComment->setPlainText("Have fun\nwith Viet");

    QStringList captions;
    bool inputWhileBuilding = false; // anywhere but "Make ZIP", which stops the build
    whileBuilding(form, [&] {
        captions << form.cmdGO->text();
        inputWhileBuilding |= form.cComp->isEnabled() || form.chkPass->isEnabled() ||
                              form.txtComment->isEnabled() || form.cmdBackFrame->isEnabled() ||
                              !form.cmdGO->isEnabled();
        QTest::mouseClick(form.cmdBackFrame, Qt::LeftButton);
        QTest::keyClick(form.cmdGO, Qt::Key_Return); // Enter does not stop a build
        return false;
    });
    FileDialogTestHook::setNextPaths({saveTo()});
    MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes); // replace the older file
    MessageBoxTestHook::setNextAnswer(MessageAnswer::ShowInFolder);
    form.cmdGO->click();

    // The map needs the excluded scenery: packed, and said so.
    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::PackedWithMissing);
    ASSERT_EQ(FileDialogTestHook::asked().size(), 2);
    const DialogRecord &save = FileDialogTestHook::asked()[1];
    EXPECT_EQ(save.title, "Save ZIP Map Archive...");
    EXPECT_EQ(save.file, "ctf_Viet.zip");
    ASSERT_EQ(boxes().size(), 2);
    EXPECT_EQ(boxes()[0].text, "Viet archive.zip already exists. Do you want to replace it?");
    EXPECT_EQ(boxes()[1].title, "Map Packed With Missing Files");
    EXPECT_TRUE(boxes()[1].text.contains("\r\n\r\nPath: " + saveTo() + "\r\n\r\n"));
    EXPECT_TRUE(boxes()[1].text.endsWith("mnp-jungle5.bmp: excluded"));

    // Busy, "Make ZIP" shows how far the build is and stops it; nothing else takes input.
    const QRegularExpression progress("^Generating ZIP Archive\\.\\.\\. \\d+%\nStop \\(Esc\\)$");
    EXPECT_TRUE(captions.indexOf(progress) >= 0) << captions.join(" | ").toStdString();
    EXPECT_FALSE(inputWhileBuilding);
    EXPECT_EQ(form.cmdNextFrame->text(), "!! Quit !!") << "the clicks on Back were dropped";
    EXPECT_TRUE(form.cmdBackFrame->isEnabled());
    EXPECT_TRUE(form.cComp->isEnabled() && form.txtComment->isEnabled() &&
                !form.txtPass->isEnabled())
        << "each control as it was";
    // "Show in Folder": with no file manager to select the archive, its folder opens.
    EXPECT_EQ(boxes()[1].buttons, MessageButtons::OkShowInFolder);
    EXPECT_EQ(openedUrls, QList<QUrl>{QUrl::fromLocalFile(QFileInfo(saveTo()).absolutePath())});
    // When nothing can show it, a box names the folder.
    openUrlResult = false;
    MessageBoxTestHook::setNextAnswer(MessageAnswer::ShowInFolder);
    form.showDelivered("text", "title", MessageIcon::Information, saveTo());
    ASSERT_EQ(boxes().size(), 4);
    EXPECT_EQ(boxes()[3].text,
              FolderNotShown.arg(QDir::toNativeSeparators(QFileInfo(saveTo()).absolutePath())));
    EXPECT_TRUE(form.cmdGO->isEnabled());
    EXPECT_EQ(form.cmdGO->text(), "Make ZIP");

    const ArchiveListing listing = readArchive(saveTo());
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "ctf_Viet.pms"));
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "ctf_Viet_ReadMe.txt"));
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "inka_2.bmp"));
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "xt_forrestdirtrock.png"));
    EXPECT_FALSE(hasEntryEndingWith(listing.names(), "mnp-jungle5.bmp")) << "it was excluded";
    EXPECT_TRUE(listing.comment.contains("Have fun")) << listing.comment.toStdString();
}

TEST_F(BuildTest, MissingImagesEndInAWarningThatCarriesTheEngineLines) {
    Form1 &form = preparedForm(game() + "/maps/ctf_Aftermath.pms");
    QDir().mkpath(QFileInfo(saveTo()).absolutePath());
    FileDialogTestHook::setNextPaths({saveTo()});
    form.cmdGO->click();

    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::PackedWithMissing);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].title, "Map Packed With Missing Files");
    EXPECT_EQ(boxes()[0].icon, MessageIcon::Warning);
    EXPECT_FALSE(boxes()[0].details.isEmpty());
    EXPECT_EQ(boxes()[0].details, form.engineLines());
    EXPECT_TRUE(readArchive(saveTo()).ok);
}

// A map saved again after it was read is never built from the old lists: the window reads it
// again and shows the new lists, the user's exclusion kept; the next click builds it.
TEST_F(BuildTest, AMapChangedOnDiskIsReadAgainBeforeAnythingIsBuilt) {
    Form1 &form = preparedForm();
    MapSpec spec;
    spec.texture = "xt_forrestdirtrock.png";
    spec.sceneries = {{"mnp-jungle5.bmp", {}}, {"inka_2.bmp", {}}, {"new.png", {}}};
    writeMap(viet(), spec);
    QDir().mkpath(QFileInfo(saveTo()).absolutePath());
    FileDialogTestHook::setNextPaths({saveTo()});
    form.cmdGO->click();

    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::MapChanged);
    ASSERT_EQ(boxes().size(), 1);
    EXPECT_EQ(boxes()[0].title, "Map Changed");
    EXPECT_EQ(items(form.lScADD), (QStringList{"inka_2.bmp", "(!) new.png"}));
    EXPECT_EQ(items(form.lScExclude), QStringList{"mnp-jungle5.bmp"});
    EXPECT_FALSE(QFile::exists(saveTo()));

    FileDialogTestHook::setNextPaths({saveTo()});
    form.cmdGO->click();
    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::PackedWithMissing);
    EXPECT_TRUE(boxes().last().text.endsWith("new.png: not in the game folder"));
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

// A running build stops without a question on Escape or a click on the busy "Make ZIP": the
// caption says "Stopping..." until it has ended, nothing is delivered, the staging folder goes
// and the wizard stays on page 3. Closing the window or "!! Quit !!" asks first, No being the
// default: Yes stops it the same way and the window or the program goes; No lets it finish.
// Closed while it stops, the window goes once it has stopped, unasked.
TEST_F(BuildTest, ABuildStopsWithoutQuittingOrAsksBeforeQuitting) {
    enum How { Escape, StopButton, Close, Quit, StopThenClose };
    for (const auto &[how, yes] :
         {std::pair{Escape, true}, std::pair{StopButton, true}, std::pair{Close, true},
          std::pair{Quit, true}, std::pair{Close, false}, std::pair{StopThenClose, true}}) {
        SCOPED_TRACE(std::to_string(how) + (yes ? " yes" : " no"));
        MessageBoxTestHook::reset();
        programEnds = 0;
        writeBytes(saveTo(), "earlier");
        Form1 &form = preparedForm();
        const QString staging = form.stagingFolder();
        QStringList afterStop; // the captions while the build winds down
        whileBuilding(form, [&, how = how] {
            if (afterStop.isEmpty() && (how == Escape || how == StopThenClose)) {
                QApplication::setActiveWindow(&form); // the key goes to the active window
                QTest::keyClick(&form, Qt::Key_Escape);
                if (how == StopThenClose)
                    form.close();
            } else if (afterStop.isEmpty()) {
                how == StopButton ? QTest::mouseClick(form.cmdGO, Qt::LeftButton)
                : how == Close    ? void(form.close())
                                  : form.cmdNextFrame->click();
            }
            afterStop << form.cmdGO->text();
            return false;
        });
        FileDialogTestHook::setNextPaths({saveTo()});
        MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes); // replace "earlier"
        MessageBoxTestHook::setNextAnswer(yes ? MessageAnswer::Yes : MessageAnswer::No);
        form.cmdGO->click();

        const bool asks = how == Close || how == Quit;
        ASSERT_EQ(boxes().size(), asks ? 2 + !yes : 1); // no result box after a stop
        EXPECT_TRUE(!asks || boxes()[1].buttons == MessageButtons::YesNoDefaultNo);
        EXPECT_EQ(form.lastBuildOutcome(),
                  yes ? BuildOutcome::Stopped : BuildOutcome::PackedWithMissing);
        EXPECT_EQ(QFile(saveTo()).size() == qint64(sizeof("earlier") - 1), yes) << "not delivered";
        EXPECT_EQ(QFileInfo::exists(staging), !yes);
        EXPECT_TRUE(!yes || afterStop.count("Stopping...") == afterStop.size())
            << afterStop.join(" | ").toStdString();
        EXPECT_EQ(form.isHidden(), yes && (how == Close || how == StopThenClose));
        EXPECT_EQ(programEnds, yes && how == Quit ? 1 : 0);
        // Still on page 3, and the next "Make ZIP" builds, in a fresh staging folder.
        if (!asks && how != StopThenClose) {
            EXPECT_TRUE(form.cmdGO->isEnabled() && form.cmdGO->text() == "Make ZIP" &&
                        form.cmdNextFrame->text() == "!! Quit !!");
            EXPECT_NE(form.stagingFolder(), staging);
            FileDialogTestHook::setNextPaths({saveTo()});
            MessageBoxTestHook::setNextAnswer(MessageAnswer::Yes); // replace "earlier"
            form.cmdGO->click();
            EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::PackedWithMissing);
            EXPECT_TRUE(readArchive(saveTo()).ok);
        }
    }
}

// Paths in any language, and a program folder the user cannot write to: the staging tree
// lives in the private temporary folder, the engine is loaded from the program folder.
TEST_F(BuildTest, BuildsFromAReadOnlyProgramFolderWithCyrillicAndPolishNames) {
    if (rerunAsPlainUser())
        return;
    const QString program = programFolder() + "/программа-ąłż";
    ASSERT_TRUE(QDir().mkpath(program));
    ASSERT_TRUE(QFile::copy(programFolder() + "/defaults.txt", program + "/defaults.txt"));
    const QString engine = QStringLiteral(MAPZIP_ZIP32_PATH);
    ASSERT_TRUE(QFile::copy(engine, program + "/" + QFileInfo(engine).fileName()));
    const QString maps = gameDir.path() + "/карты-ąłż";
    copyTree(testDataPath("soldat"), maps);
    const QString map = maps + "/maps/карта-ąłż.pms";
    ASSERT_TRUE(QFile::rename(maps + "/maps/ctf_Viet.pms", map));
    const QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner;
    ASSERT_TRUE(QFile::setPermissions(program, readOnly));
    const QString archive = gameDir.path() + "/выход-ąłż/карта-ąłż.zip";
    QDir().mkpath(QFileInfo(archive).absolutePath());

    Form1 &form = preparedForm(map, program);
    FileDialogTestHook::setNextPaths({archive});
    form.cmdGO->click();
    QFile::setPermissions(program, readOnly | QFile::WriteOwner);

    // The map needs the scenery excluded on page 2.
    EXPECT_EQ(form.lastBuildOutcome(), BuildOutcome::PackedWithMissing)
        << (boxes().isEmpty() ? "" : boxes().last().text.toStdString());
    const ArchiveListing listing = readArchive(archive);
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    EXPECT_TRUE(listing.names().contains("Maps/карта-ąłż.pms", Qt::CaseInsensitive))
        << listing.names().join(", ").toStdString();
    EXPECT_TRUE(hasEntryEndingWith(listing.names(), "inka_2.bmp"));
    EXPECT_EQ(QDir(program).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 2)
        << "nothing was written into the program folder";
}
