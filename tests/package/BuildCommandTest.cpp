// The whole "Make ZIP" build with a recording host and the real archive engine. Archives are
// read back with Python's zipfile and checked with unzip -t.

#include "FakeBuildHost.h"

#include "archive/ZipBinding.h"
#include "intake/MapReader.h"
#include "package/BuildCommand.h"
#include "package/ErrorReasons.h"
#include "package/ProgramInfo.h"
#include "package/Staging.h"
#include "support/MapWriter.h"
#include "support/PlainUser.h"
#include "support/TestSupport.h"
#include "text/CodePage.h"

#include "support/ZipVerify.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

const QString CrLf = QStringLiteral("\r\n");

QByteArray readFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The files of an archive (folder entries left out), in archive order.
QStringList fileNames(const ArchiveListing &listing) {
    QStringList names = listing.names();
    names.removeIf([](const QString &name) { return name.endsWith(QLatin1Char('/')); });
    return names;
}
QStringList fileNames(const QString &archive) {
    return fileNames(readArchive(archive));
}

QStringList filesIn(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// One window's worth of build: state, host and the program's shared records, with the map
// read as the browse button reads it.
class BuildTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.isValid());
        ASSERT_TRUE(out.isValid());
        const DefaultsLoadResult loaded = loadDefaultSceneries(
            testDataPath(QStringLiteral("defaults.txt")), state.DefaultSceneries);
        ASSERT_TRUE(loaded.fileRead);
        host.inputs.pathText.clear();
    }

    // Reads `mapPath` into the state and the add list, as browsing for it does.
    void chooseMap(const QString &mapPath) {
        host.inputs.pathText = mapPath;
        QString path = mapPath;
        QString error;
        ASSERT_TRUE(listStuff(state, path, mapPath, host.inputs.addList, error))
            << error.toStdString();
    }
    void chooseFixtureMap(const QString &name) {
        chooseMap(testDataPath(QStringLiteral("soldat/maps/") + name + QStringLiteral(".pms")));
    }
    // Moves `item` from the add list to the exclude list.
    void exclude(const QString &item) {
        ASSERT_TRUE(host.inputs.addList.removeOne(item)) << item.toStdString();
        host.inputs.excludeList << item;
    }

    BuildOutcome build(const QString &savePath) {
        host.savePath = savePath;
        host.messages.clear();
        host.buttons.clear();
        host.dialogs.clear();
        BuildContext context{programFolder(), request, binding, dialog, afterArchiveWritten};
        result = cmdGO_Click(state, host, context);
        return result.outcome;
    }
    virtual QString programFolder() const { return program.path(); }
    QString outPath(const QString &name) const { return out.path() + QLatin1Char('/') + name; }
    // The tree of the map last chosen, whose game folder names the folders.
    StagingPaths staging() const {
        return StagingPaths::under(programFolder(), ArchiveFormat::Zip,
                                   gameFolderNames(state.SoldatPath));
    }

    // The reason first, naming the archive the user chose (none before the save dialog),
    // then the code as it always read.
    void expectErrorCode(const ShownMessage &message, int code, const QString &archive = {}) {
        const QString number = QString::number(code);
        EXPECT_EQ(message.text, errorCodeReason(code, archive) + QStringLiteral("\r\n\r\n") +
                                    QStringLiteral("There was an error creating your ZIP file "
                                                   ":'(. Please write down this code (") +
                                    number +
                                    QStringLiteral("). Please refer to readme.txt to see what "
                                                   "error you are getting."));
        EXPECT_TRUE(archive.isEmpty() ? message.text.startsWith(QStringLiteral("No archive"))
                                      : message.text.startsWith(archive + QStringLiteral(" was "
                                                                                         "not")));
        EXPECT_EQ(message.title, QStringLiteral("Error Code ") + number + QLatin1Char('.'));
        EXPECT_EQ(message.icon, MessageIcon::Error);
    }
    void expectIdleAtEnd() {
        ASSERT_FALSE(host.buttons.isEmpty());
        EXPECT_TRUE(host.buttons.last().enabled);
        EXPECT_EQ(host.buttons.last().caption, QStringLiteral("Make ZIP"));
    }
    bool anySuccessShown() const {
        for (const ShownMessage &message : host.messages) {
            if (message.title == QStringLiteral("100% Complete"))
                return true;
        }
        return false;
    }

    QTemporaryDir program;
    QTemporaryDir out;
    WizardState state;
    FakeBuildHost host{state};
    ZipRequest request;
    ZipBinding binding{QStringLiteral(MAPZIP_PROGRAM_FOLDER)};
    DialogRecord dialog;
    std::function<void(const QString &)> afterArchiveWritten;
    BuildResult result;
};

} // namespace

TEST_F(BuildTest, PacksTheMapItsSceneriesTextureAndReadme) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    ASSERT_EQ(host.inputs.addList,
              (QStringList{QStringLiteral("inka_2.bmp"), QStringLiteral("mnp-jungle5.bmp"),
                           QStringLiteral("mnp-underground2.bmp"),
                           QStringLiteral("mnp-underground1.bmp")}));
    exclude(QStringLiteral("mnp-jungle5.bmp"));
    host.inputs.comment = QStringLiteral("Built by the test\r\nsecond line \u00e9");
    host.inputs.zip.chkComment = 1;

    const QString target = outPath(QStringLiteral("viet.zip"));
    // The map needs the excluded scenery: packed, but never called a success.
    ASSERT_EQ(build(target), BuildOutcome::PackedWithMissing);

    // The button went busy, then idle; the save dialog was described as the window does.
    ASSERT_EQ(host.buttons.size(), 2);
    EXPECT_FALSE(host.buttons[0].enabled);
    EXPECT_EQ(host.buttons[0].caption, QStringLiteral("Generating ZIP Archive..."));
    expectIdleAtEnd();
    ASSERT_EQ(host.dialogs.size(), 1);
    const DialogRecord &asked = host.dialogs[0];
    const char16_t filter[] = u"Zip Archive (*.zip)\0*.zip\0Server Map Archive (*.smap)\0*.smap\0"
                              u"All Files (*.*)\0*.*\0\0";
    EXPECT_EQ(asked.filter, QString::fromUtf16(filter, std::size(filter) - 1));
    EXPECT_EQ(asked.defaultExt, QStringLiteral(".zip"));
    EXPECT_EQ(asked.flags, 0x280006u) << "asks before replacing a file";
    EXPECT_EQ(asked.title, QStringLiteral("Save ZIP Map Archive..."));
    EXPECT_EQ(asked.initialDir, defaultMapsFolder());
    EXPECT_EQ(asked.file, QStringLiteral("ctf_Viet.zip"));
    EXPECT_EQ(state.rSaveTo, target);
    EXPECT_EQ(state.MapName, QStringLiteral("ctf_Viet"));
    EXPECT_EQ(state.retcode, 0);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Map Packed With Missing Files"));
    EXPECT_TRUE(host.messages[0].text.endsWith(
        QStringLiteral("\r\n\r\nPath: ") + target +
        QStringLiteral("\r\n\r\nLeft out:\r\nscenery-gfx/mnp-jungle5.bmp: excluded")))
        << host.messages[0].text.toStdString();

    const ArchiveListing zip = readArchive(target);
    ASSERT_TRUE(zip.ok) << zip.error.toStdString();
    // The game loads the .png files stored beside the .bmp names the map writes.
    EXPECT_EQ(fileNames(zip),
              (QStringList{"maps/ctf_Viet.PMS", "maps/ctf_Viet_ReadMe.txt",
                           "scenery-gfx/inka_2.bmp", "scenery-gfx/mnp-underground1.png",
                           "scenery-gfx/mnp-underground2.png", "textures/xt_forrestdirtrock.png"}));
    EXPECT_EQ(readEntry(target, QStringLiteral("scenery-gfx/mnp-underground1.png")),
              readFile(testDataPath(QStringLiteral("soldat/scenery-gfx/mnp-underground1.png"))));
    EXPECT_EQ(readEntry(target, QStringLiteral("maps/ctf_Viet.PMS")),
              readFile(testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms"))));
    EXPECT_EQ(readEntry(target, QStringLiteral("scenery-gfx/inka_2.bmp")),
              readFile(testDataPath(QStringLiteral("soldat/scenery-gfx/inka_2.bmp"))));
    EXPECT_EQ(readEntry(target, QStringLiteral("textures/xt_forrestdirtrock.png")),
              readFile(testDataPath(QStringLiteral("soldat/textures/xt_forrestdirtrock.png"))));

    // The readme, byte for byte: the sceneries in the archive count on line 4, the excluded
    // one after the slash; the comment's second line continues line 3.
    const QByteArray readme =
        QByteArray("Map Name: ctf_Viet\r\n"
                   "Map Description: Viet\r\n"
                   "Authors Notes: Built by the test\r\n"
                   "second line \xe9\r\n"
                   "Sceneries Added: 3/1\r\n"
                   "+--------------------------------------------------+\r\n"
                   "| Compiled using Velquarindostrammelfenboriax V1.0 |\r\n") +
        toCodePage(readmeCreditLine()) +
        QByteArray("\r\n"
                   "|                                                  |\r\n"
                   "|         Please do not remove this README.        |\r\n"
                   "+--------------------------------------------------+\r\n");
    EXPECT_EQ(readEntry(target, QStringLiteral("maps/ctf_Viet_ReadMe.txt")), readme);
    // The archive comment quotes the readme in the same code page, byte for byte.
    const QByteArray comment = "Authors Comments: " + toCodePage(host.inputs.comment) +
                               "\r\n\r\n------\r\n" + readme.chopped(2);
    EXPECT_EQ(zip.comment, comment);
    EXPECT_TRUE(unzipTest(target));
}

// A map the game refuses is packed, but the box says why the game will not load it.
TEST_F(BuildTest, AMapTheGameRefusesIsPackedButNeverASuccess) {
    MapSpec spec;
    spec.sceneries.resize(501); // with a prop each
    writeMap(outPath(QStringLiteral("maps/big.pms")), spec);
    chooseMap(outPath(QStringLiteral("maps/big.pms")));
    ASSERT_EQ(build(outPath(QStringLiteral("big.zip"))), BuildOutcome::PackedWithMissing);
    EXPECT_EQ(host.messages.value(0).title, QStringLiteral("Map Packed, But The Game Refuses It"));
    EXPECT_TRUE(host.messages.value(0).text.startsWith(
        QStringLiteral("Your map has been compiled, but the game will not load this map: 501 "
                       "props (at most 500), 501 sceneries (at most 500).\r\n\r\nPath: ")));
}

TEST_F(BuildTest, EncryptsWithThePasswordOfTheSettingsPage) {
    chooseFixtureMap(QStringLiteral("htf_Dorothy"));
    host.inputs.chkPass = host.inputs.zip.chkPass = 1;
    host.inputs.password = host.inputs.password2 = QStringLiteral("s3cret word");
    const QString target = outPath(QStringLiteral("dorothy.zip"));
    ASSERT_EQ(build(target), BuildOutcome::Succeeded);
    EXPECT_TRUE(unzipTest(target, toCodePage(host.inputs.password)));
    EXPECT_FALSE(unzipTest(target, "wrong"));
    const ArchiveListing zip = readArchive(target, toCodePage(host.inputs.password));
    ASSERT_TRUE(zip.ok) << zip.error.toStdString();
    EXPECT_TRUE(zip.dataChecked);
    const QStringList names = fileNames(zip);
    EXPECT_TRUE(names.contains(QStringLiteral("maps/htf_Dorothy.PMS")));
    EXPECT_TRUE(names.contains(QStringLiteral("textures/dorothy.png")));
    for (const ArchiveEntry &entry : zip.entries)
        EXPECT_TRUE(entry.name.endsWith(QLatin1Char('/')) || entry.encrypted)
            << entry.name.toStdString();
    for (const QString &name : names)
        EXPECT_FALSE(name.contains(QStringLiteral("(!)"))) << name.toStdString();
}

TEST_F(BuildTest, GuardsEndTheCommandBeforeAnythingIsStaged) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("x.zip"));

    // Passwords differing in letter case only.
    host.inputs.chkPass = 1;
    host.inputs.password = QStringLiteral("Secret");
    host.inputs.password2 = QStringLiteral("secret");
    EXPECT_EQ(build(target), BuildOutcome::PasswordMismatch);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("ERROR: Password Mismatch, please re-type your password."));
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Password's Do Not Match!"));
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(host.buttons.isEmpty());
    EXPECT_TRUE(host.dialogs.isEmpty());
    host.inputs.chkPass = 0;

    // A path that is not the map last read (typed, without a folder, or naming no file): only
    // that map's lists are on the pages, so nothing is built, and the user is told.
    const QString kept = host.inputs.pathText;
    for (const QString &typed :
         {QStringLiteral("ctf_Viet.pms"), kept.left(kept.lastIndexOf(QLatin1Char('/')) + 1),
          testDataPath(QStringLiteral("soldat/maps/htf_Dorothy.pms"))}) {
        host.inputs.pathText = typed;
        EXPECT_EQ(build(target), BuildOutcome::NotStarted);
        ASSERT_EQ(host.messages.size(), 1);
        EXPECT_EQ(host.messages[0].title, QStringLiteral("Map Not Read"));
        EXPECT_TRUE(
            host.messages[0].text.contains(QStringLiteral("Choose the map with '...' first")));
        EXPECT_TRUE(host.messages[0].text.contains(typed));
    }
    host.inputs.pathText = kept;

    // "Password" ticked, nothing typed: said before anything is asked or built.
    host.inputs.chkPass = host.inputs.zip.chkPass = 1;
    host.inputs.password = host.inputs.password2 = QString();
    EXPECT_EQ(build(target), BuildOutcome::NotStarted);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("No Password!"));
    host.inputs.chkPass = host.inputs.zip.chkPass = 0;

    // A comment the code page cannot hold: its characters named, each once.
    host.inputs.comment = QStringLiteral("Привет, café, Пока");
    EXPECT_EQ(build(target), BuildOutcome::NotStarted);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Comment Not Possible"));
    EXPECT_TRUE(host.messages[0].text.contains(
        QStringLiteral("(Windows-1252 has no П, р, и, в, е, т, о, к, а)")))
        << host.messages[0].text.toStdString();

    EXPECT_TRUE(host.dialogs.isEmpty());
    EXPECT_TRUE(host.buttons.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(staging().root));
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST_F(BuildTest, CancelAtTheSaveDialogLeavesEmptySubfoldersAndNoMessage) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("first.zip"));
    ASSERT_EQ(build(target), BuildOutcome::Succeeded);
    const QByteArray first = readFile(target);

    EXPECT_EQ(build(QString()), BuildOutcome::Cancelled);
    EXPECT_TRUE(host.messages.isEmpty());
    expectIdleAtEnd();
    EXPECT_TRUE(state.rSaveTo.isEmpty());
    for (const QString &folder : {staging().maps, staging().scenery, staging().textures}) {
        EXPECT_TRUE(QFileInfo(folder).isDir());
        EXPECT_TRUE(filesIn(folder).isEmpty()) << folder.toStdString();
    }
    EXPECT_EQ(readFile(target), first);
}

TEST_F(BuildTest, NoArchiveOfAnotherBuildEndsUpInsideTheNext) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    ASSERT_EQ(build(outPath(QStringLiteral("viet1.zip"))), BuildOutcome::Succeeded);
    ASSERT_EQ(build(outPath(QStringLiteral("viet2.zip"))), BuildOutcome::Succeeded);
    chooseFixtureMap(QStringLiteral("htf_Dorothy"));
    ASSERT_EQ(build(outPath(QStringLiteral("dorothy.zip"))), BuildOutcome::Succeeded);

    for (const QString &name : {QStringLiteral("viet1.zip"), QStringLiteral("viet2.zip"),
                                QStringLiteral("dorothy.zip")}) {
        const ArchiveListing zip = readArchive(outPath(name));
        ASSERT_TRUE(zip.ok) << name.toStdString() << ": " << zip.error.toStdString();
        for (const QString &entry : fileNames(zip))
            EXPECT_FALSE(entry.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive))
                << name.toStdString() << " holds " << entry.toStdString();
    }
    const QStringList dorothy = fileNames(outPath(QStringLiteral("dorothy.zip")));
    EXPECT_FALSE(dorothy.contains(QStringLiteral("maps/ctf_Viet.PMS")));
    EXPECT_FALSE(dorothy.contains(QStringLiteral("scenery-gfx/inka_2.bmp")));
    EXPECT_EQ(fileNames(outPath(QStringLiteral("viet1.zip"))),
              fileNames(outPath(QStringLiteral("viet2.zip"))));
}

TEST_F(BuildTest, AnExcludedSceneryIsGoneFromTheNextArchive) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("viet.zip"));
    ASSERT_EQ(build(target), BuildOutcome::Succeeded);
    ASSERT_TRUE(fileNames(target).contains(QStringLiteral("scenery-gfx/inka_2.bmp")));

    exclude(QStringLiteral("inka_2.bmp"));
    host.inputs.chkTexture = 0;
    ASSERT_EQ(build(target), BuildOutcome::PackedWithMissing);
    ASSERT_EQ(result.leftOut.size(), 1) << "the texture left out on purpose is no gap";
    EXPECT_EQ(result.leftOut[0].entry, QStringLiteral("scenery-gfx/inka_2.bmp"));
    EXPECT_EQ(result.leftOut[0].reason, QStringLiteral("excluded"));
    const QStringList names = fileNames(target);
    EXPECT_FALSE(names.contains(QStringLiteral("scenery-gfx/inka_2.bmp")));
    EXPECT_FALSE(names.contains(QStringLiteral("textures/xt_forrestdirtrock.png")));
    EXPECT_TRUE(names.contains(QStringLiteral("scenery-gfx/mnp-jungle5.bmp")));
}

TEST_F(BuildTest, UpdateWorksOnThisMapsEarlierStagedArchive) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    ASSERT_EQ(build(outPath(QStringLiteral("first.zip"))), BuildOutcome::Succeeded);

    exclude(QStringLiteral("inka_2.bmp"));
    host.inputs.zip.chkUpdate = 1;
    // Archives keep times to two seconds: the files staged anew must be newer than the entries.
    QThread::msleep(2100);
    const QString target = outPath(QStringLiteral("updated.zip"));
    ASSERT_EQ(build(target), BuildOutcome::Succeeded)
        << (host.messages.isEmpty() ? std::string() : host.messages[0].text.toStdString())
        << host.output.toStdString();
    // The staged archive of the first build was kept and updated, so the scenery stays.
    EXPECT_EQ(fileNames(target), fileNames(outPath(QStringLiteral("first.zip"))));
}

TEST_F(BuildTest, EngineFailuresDeliverNothingAndKeepTheUsersFile) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("earlier.zip"));
    const QByteArray earlier("the user's earlier file");
    writeBytes(target, earlier);

    // Freshen without an earlier staged archive: the engine has nothing to do.
    host.inputs.zip.chkFreshen = 1;
    EXPECT_EQ(build(target), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(state.retcode, 12);
    expectErrorCode(host.messages[0], state.retcode, target);
    expectIdleAtEnd();
    EXPECT_EQ(readFile(target), earlier);
    host.inputs.zip.chkFreshen = 0;

    // The request cannot be built (no compression level): reported as such, never as the
    // previous run's code.
    host.inputs.zip.compressionLevel.clear();
    EXPECT_EQ(build(target), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    expectErrorCode(host.messages[0], ZipRequestFailed, target);
    EXPECT_EQ(readFile(target), earlier);
    host.inputs.zip.compressionLevel = QStringLiteral("9");

    // No engine, or a damaged one: the binding's own message and the code, before anything
    // is staged or asked.
    fullCleanup(programFolder());
    const QString cut = program.path() + QStringLiteral("/cut/libzip32.so");
    writeBytes(cut, readFile(QStringLiteral(MAPZIP_PROGRAM_FOLDER "/libzip32.so")).left(20000));
    for (const QString &engine : {program.path() + QStringLiteral("/no/libzip32.so"), cut}) {
        ZipBinding other{QString()};
        other.setEngineCandidates({engine});
        host.messages.clear();
        host.dialogs.clear();
        BuildContext context{programFolder(), request, other, dialog};
        EXPECT_EQ(cmdGO_Click(state, host, context).outcome, BuildOutcome::Failed);
        ASSERT_EQ(host.messages.size(), 2);
        EXPECT_EQ(host.messages[0].title, QStringLiteral("VB Zip"));
        expectErrorCode(host.messages[1], ZipEngineNotLoaded);
        EXPECT_TRUE(host.dialogs.isEmpty());
        EXPECT_EQ(readFile(target), earlier);
        EXPECT_TRUE(filesIn(staging().maps).isEmpty());
    }
}

TEST_F(BuildTest, ATargetThatCannotBeWrittenIsReportedWithItsPath) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString missing = outPath(QStringLiteral("no-such-folder/viet.zip"));
    EXPECT_EQ(build(missing), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(host.messages[0].text.contains(missing)) << host.messages[0].text.toStdString();
    EXPECT_FALSE(anySuccessShown());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(filesIn(staging().maps).isEmpty()) << "said before anything is staged";
    expectIdleAtEnd();

    // A folder nobody can create files in, not even the superuser.
    const QString readOnly = QStringLiteral("/proc/mapzip-build-test.zip");
    if (!QFileInfo(QStringLiteral("/proc/self")).exists())
        GTEST_SKIP() << "no /proc on this system";
    EXPECT_EQ(build(readOnly), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].text.contains(readOnly));
    EXPECT_FALSE(anySuccessShown());
}

TEST_F(BuildTest, AProgramFolderWithoutRoomForTheTreeStopsBeforeTheDialog) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString blocker = program.path() + QStringLiteral("/plain-file");
    writeBytes(blocker, "not a folder");
    host.savePath = outPath(QStringLiteral("x.zip"));
    BuildContext context{blocker + QStringLiteral("/program"), request, binding, dialog};
    EXPECT_EQ(cmdGO_Click(state, host, context).outcome, BuildOutcome::Failed);
    EXPECT_TRUE(host.dialogs.isEmpty());
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].text.contains(blocker + QStringLiteral("/program/TEMP")))
        << host.messages[0].text.toStdString();
    expectIdleAtEnd();
    EXPECT_FALSE(QFileInfo::exists(outPath(QStringLiteral("x.zip"))));
}

TEST_F(BuildTest, WhatCannotBePackedIsNamedAndNeverCalledASuccess) {
    if (rerunAsPlainUser())
        return;
    QTemporaryDir game;
    ASSERT_TRUE(game.isValid());
    MapSpec spec;
    spec.description = "Test";
    spec.texture = "sky.bmp";
    spec.sceneries = {{"Rock.bmp", {}}, {"bush.png", {}}, {"gone.bmp", {}}, {"never.bmp", {}}};
    spec.props = std::vector<MapSpec::Prop>{{1}, {2}, {3}}; // no prop shows never.bmp
    writeMap(game.path() + QStringLiteral("/maps/Arena.pms"), spec);
    writeBytes(game.path() + QStringLiteral("/scenery-gfx/bush.png"), "bush");
    writeBytes(game.path() + QStringLiteral("/Textures/SKY.PNG"), "sky");
    writeBytes(game.path() + QStringLiteral("/Textures/edges/Sky.png"), "edge");
    writeBytes(game.path() + QStringLiteral("/scenery-gfx/ROCK.png"), "rock");
    chooseMap(game.path() + QStringLiteral("/maps/Arena.pms"));
    ASSERT_EQ(host.inputs.addList,
              (QStringList{"rock.bmp", "bush.png", "(!) gone.bmp", "(!) never.bmp"}));
    // Found when the map was read, unreadable by the time of the build: no gap, a failure.
    const QString rock = game.path() + QStringLiteral("/scenery-gfx/ROCK.png");
    QFile::setPermissions(rock, QFileDevice::WriteOwner);
    const QString target = outPath(QStringLiteral("arena.zip"));
    writeBytes(target, "earlier");
    ASSERT_EQ(build(target), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, rock + QStringLiteral(" could not be packed, so nothing was "
                                                           "built: Permission denied."));
    EXPECT_EQ(readFile(target), QByteArray("earlier"));
    QFile::setPermissions(rock, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    ASSERT_EQ(build(target), BuildOutcome::PackedWithMissing);
    EXPECT_FALSE(anySuccessShown());
    // Each folder named as the game names its own.
    EXPECT_EQ(fileNames(target),
              (QStringList{"Textures/SKY.PNG", "Textures/edges/Sky.png", "maps/Arena.PMS",
                           "maps/Arena_ReadMe.txt", "scenery-gfx/ROCK.png",
                           "scenery-gfx/bush.png"}));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Map Packed With Missing Files"));
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(host.messages[0].text,
              QStringLiteral("Your map has been compiled, but the archive lacks files the map "
                             "needs.\r\n\r\nPath: ") +
                  target +
                  QStringLiteral("\r\n\r\nLeft out:\r\nscenery-gfx/gone.bmp: not in the game "
                                 "folder"));
    // A scenery the game never loads is no gap.
    ASSERT_EQ(result.notUsed.size(), 1);
    EXPECT_EQ(result.notUsed[0].entry, QStringLiteral("scenery-gfx/never.bmp"));
    // The readme counts what the archive holds.
    EXPECT_TRUE(readEntry(target, QStringLiteral("maps/Arena_ReadMe.txt"))
                    .contains("Sceneries Added: 2/0\r\n"));

    // Twenty missing images: fifteen named, then how many more.
    QFile::remove(game.path() + QStringLiteral("/Textures/edges/Sky.png"));
    spec.sceneries.clear();
    spec.props.reset();
    for (int i = 0; i < 20; ++i)
        spec.sceneries.push_back({"gone" + QByteArray::number(i) + ".png", {}});
    writeMap(game.path() + QStringLiteral("/maps/Arena.pms"), spec);
    chooseMap(game.path() + QStringLiteral("/maps/Arena.pms"));
    ASSERT_EQ(build(target), BuildOutcome::PackedWithMissing);
    EXPECT_EQ(result.leftOut.size(), 20);
    EXPECT_EQ(host.messages[0].text.count(QStringLiteral("not in the game folder")), 15);
    EXPECT_TRUE(host.messages[0].text.endsWith(QStringLiteral("\r\nand 5 more")));

    // The map itself gone between reading and building: nothing is built or delivered.
    const QByteArray delivered = readFile(target);
    ASSERT_TRUE(QFile::remove(game.path() + QStringLiteral("/maps/Arena.pms")));
    EXPECT_EQ(build(target), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].title, QStringLiteral("Map Not Packed"));
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral("Arena.pms")));
    EXPECT_EQ(readFile(target), delivered);
}

// Every scenery of ctf_Aftermath missing from the game folder is one no prop shows.
TEST_F(BuildTest, SceneriesTheGameNeverLoadsAreNoGap) {
    chooseFixtureMap(QStringLiteral("ctf_Aftermath"));
    host.inputs.chkTexture = 0; // its texture is not in the fixture either
    ASSERT_EQ(build(outPath(QStringLiteral("a.zip"))), BuildOutcome::Succeeded);
    EXPECT_TRUE(anySuccessShown());
    EXPECT_EQ(result.notUsed.size(), 22);
}

TEST_F(BuildTest, AMapWithoutSceneriesStillGetsItsTexture) {
    QTemporaryDir game;
    MapSpec spec;
    spec.description = "Void";
    spec.texture = "void.bmp";
    writeMap(game.path() + QStringLiteral("/maps/htf_Void.pms"), spec);
    writeBytes(game.path() + QStringLiteral("/textures/Void.png"), "void");
    writeBytes(game.path() + QStringLiteral("/scenery-gfx/unused.png"), "x");
    chooseMap(game.path() + QStringLiteral("/maps/htf_Void.pms"));
    ASSERT_EQ(build(outPath(QStringLiteral("void.zip"))), BuildOutcome::Succeeded);
    EXPECT_TRUE(fileNames(outPath(QStringLiteral("void.zip")))
                    .contains(QStringLiteral("textures/Void.png")));
}

TEST_F(BuildTest, TheSameInputsGiveTheSameArchiveAndADamagedOneIsNeverDelivered) {
    chooseFixtureMap(QStringLiteral("htf_Dorothy"));
    ASSERT_EQ(build(outPath(QStringLiteral("a.zip"))), BuildOutcome::Succeeded);
    QThread::msleep(1100); // a build a second later must not differ by its time
    ASSERT_EQ(build(outPath(QStringLiteral("b.zip"))), BuildOutcome::Succeeded);
    const QByteArray first = readFile(outPath(QStringLiteral("a.zip")));
    EXPECT_EQ(first, readFile(outPath(QStringLiteral("b.zip"))));
    EXPECT_EQ(result.sha1.toHex(),
              QCryptographicHash::hash(first, QCryptographicHash::Sha1).toHex());

    // One byte changed after writing: of the readme's data, of its CRC in the archive's
    // directory, of its name in both headers (the staged readme is then missing, though every
    // entry reads well), or of the staged readme itself (the archive is sound, but not what was
    // staged): caught, named, not saved. Deflated and stored data are read back in different
    // ways; both are checked.
    enum Damage { Data, Crc, Name, Staged };
    for (const char *level : {"9", "0"}) {
        for (const Damage damage : {Data, Crc, Name, Staged}) {
            afterArchiveWritten = [damage](const QString &staged) {
                const QByteArray name("maps/htf_Dorothy_ReadMe.txt");
                QFile file(damage == Staged ? QFileInfo(staged).path() + '/' + name : staged);
                ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                const QByteArray bytes = file.readAll();
                QList<qsizetype> targets{0}; // of the staged readme: its first byte
                if (damage != Staged) {
                    // The data follows the local header: name, then the extra field. The
                    // directory names each entry again; its CRC stands 30 bytes before the name.
                    const qsizetype local = bytes.indexOf(name);
                    const qsizetype central = bytes.indexOf(name, local + name.size());
                    ASSERT_GE(local, 30);
                    ASSERT_GE(central, 46);
                    const int extra = quint8(bytes[local - 2]) | quint8(bytes[local - 1]) << 8;
                    const qsizetype letter = name.size() - 5; // ReadMe -> ReadME
                    targets = damage == Data  ? QList<qsizetype>{local + name.size() + extra + 3}
                              : damage == Crc ? QList<qsizetype>{central - 30}
                                              : QList<qsizetype>{local + letter, central + letter};
                }
                for (const qsizetype target : targets) {
                    file.seek(target);
                    file.write(QByteArray(1, char(bytes[target] ^ 0x20)));
                }
            };
            host.inputs.zip.compressionLevel = QLatin1String(level);
            EXPECT_EQ(build(outPath(QStringLiteral("a.zip"))), BuildOutcome::Failed)
                << level << damage;
            ASSERT_EQ(host.messages.size(), 1);
            EXPECT_EQ(host.messages[0].title, QStringLiteral("Archive Check Failed"));
            EXPECT_TRUE(
                host.messages[0].text.contains(QStringLiteral("maps/htf_Dorothy_ReadMe.txt")))
                << host.messages[0].text.toStdString();
            EXPECT_EQ(readFile(outPath(QStringLiteral("a.zip"))), first);
        }
    }
}

TEST_F(BuildTest, AServerMapArchiveHasTheGamesLayoutAndTheArchivesName) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    host.inputs.zip.chkJunk = 1;
    const QString target = outPath(QStringLiteral("ctf_Viet_v2.smap"));
    ASSERT_EQ(build(target), BuildOutcome::Succeeded);
    EXPECT_EQ(result.format, ArchiveFormat::Smap);
    EXPECT_EQ(fileNames(target),
              (QStringList{"maps/ctf_Viet_v2.pms", "maps/ctf_Viet_v2_ReadMe.txt",
                           "scenery-gfx/inka_2.bmp", "scenery-gfx/mnp-jungle5.bmp",
                           "scenery-gfx/mnp-underground1.png", "scenery-gfx/mnp-underground2.png",
                           "textures/xt_forrestdirtrock.png"}));
    ASSERT_EQ(result.notes.size(), 2);
    EXPECT_TRUE(result.notes[0].contains(QStringLiteral("maps/ctf_Viet_v2.pms")));
    EXPECT_TRUE(host.output.contains(result.notes[1]));
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].text.endsWith(QStringLiteral("\r\n\r\nNotes:\r\n") +
                                               result.notes.join(QStringLiteral("\r\n"))));

    // The game cannot open an encrypted archive: refused before anything is staged.
    host.inputs.chkPass = host.inputs.zip.chkPass = 1;
    host.inputs.password = host.inputs.password2 = QStringLiteral("pw");
    const QByteArray before = readFile(target);
    EXPECT_EQ(build(target), BuildOutcome::Failed);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_TRUE(host.messages[0].text.contains(QStringLiteral(".smap")));
    EXPECT_EQ(readFile(target), before);
}

TEST_F(BuildTest, StoppingDeliversNothing) {
    chooseFixtureMap(QStringLiteral("ctf_Viet"));
    const QString target = outPath(QStringLiteral("viet.zip"));
    writeBytes(target, "earlier");
    // Asked to stop while staging, once the engine reports progress, and in the check after
    // writing, while the delivery is prepared beside the target.
    enum { Staging, Engine, Check };
    for (const int when : {Staging, Engine, Check}) {
        host.progress.clear();
        bool written = false;
        afterArchiveWritten = [&written](const QString &) { written = true; };
        host.stop = [&] {
            return when == Staging || (when == Engine && !host.progress.isEmpty()) || written;
        };
        EXPECT_EQ(build(target), BuildOutcome::Stopped) << when;
        EXPECT_TRUE(host.messages.isEmpty());
        expectIdleAtEnd();
        EXPECT_EQ(readFile(target), QByteArray("earlier"));
        EXPECT_EQ(QDir(out.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("viet.zip")});
    }
}
