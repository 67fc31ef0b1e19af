// MakeZip through the real engine, found the way the program finds it: in the program folder.
// The archives are read back by Python's zipfile and unzip.

#include "FakeArchiveHost.h"
#include "archive/MakeZip.h"
#include "archive/ZipBinding.h"
#include "archive/ZipRequest.h"
#include "support/MapWriter.h"
#include "support/ZipVerify.h"
#include "zip32.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>

namespace {

class ZipEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(programFolder.isValid());
        const QString root = programFolder.path() + "/TEMP/";
        for (const auto &[path, contents] : staged)
            writeBytes(root + path, contents);
        state.MapName = QStringLiteral("Arena");
        host.readme = QStringLiteral("Arena by someone");
    }

    void makeZip(const ZipSettings &settings) {
        QString error;
        ASSERT_TRUE(MakeZip(state, request, binding, settings, programFolder.path(), host, error))
            << error.toStdString();
    }

    QString archivePath() const { return programFolder.path() + "/TEMP/Arena.zip"; }

    const std::map<QString, QByteArray> staged = {
        {"Maps/Arena.pms", QByteArray(3000, 'm')},
        {"Maps/Arena_ReadMe.txt", "Map: Arena\r\n"},
        {"Scenery-gfx/tree.bmp", QByteArray(500, 't')},
        {"Textures/rock.bmp", "BM rock"},
    };
    QTemporaryDir programFolder;
    ZipBinding binding{QStringLiteral(MAPZIP_PROGRAM_FOLDER)};
    FakeArchiveHost host;
    WizardState state;
    ZipRequest request;
};

TEST_F(ZipEngineTest, StartupSettingsPackTheStagingTreeWithItsFolders) {
    state.retcode = 99;
    makeZip({});
    ASSERT_EQ(state.retcode, 0) << host.output.toStdString();
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_FALSE(host.output.isEmpty()) << "the engine's messages reach the window";

    const ArchiveListing archive = readArchive(archivePath());
    ASSERT_TRUE(archive.ok) << archive.error.toStdString();
    EXPECT_TRUE(archive.dataChecked);
    QStringList expectedNames;
    for (const auto &[path, contents] : staged)
        expectedNames.append(path);
    QStringList names = archive.names();
    names.removeIf([](const QString &name) { return name.endsWith('/'); });
    names.sort();
    EXPECT_EQ(names, expectedNames);
    for (const auto &[path, contents] : staged) {
        const ArchiveEntry *entry = archive.find(path);
        ASSERT_NE(entry, nullptr) << path.toStdString();
        EXPECT_EQ(entry->size, contents.size()) << path.toStdString();
        EXPECT_FALSE(entry->encrypted);
    }
    EXPECT_EQ(archive.find("Maps/Arena.pms")->compressType, 8);
}

TEST_F(ZipEngineTest, PasswordCommentLevelAndJunkReachTheArchive) {
    ZipSettings settings;
    settings.chkPass = 1;
    settings.chkComment = 1;
    settings.chkJunk = 1;
    settings.compressionLevel = QStringLiteral("0");
    host.password = QStringLiteral("s3cret");
    host.comment = QStringLiteral("have fun");
    makeZip(settings);
    ASSERT_EQ(state.retcode, 0) << host.output.toStdString();

    const ArchiveListing archive = readArchive(archivePath(), "s3cret");
    ASSERT_TRUE(archive.ok) << archive.error.toStdString();
    EXPECT_TRUE(archive.dataChecked);
    EXPECT_EQ(archive.comment, "Authors Comments: have fun\r\n\r\n------\r\nArena by someone");
    QStringList names = archive.names();
    names.sort();
    EXPECT_EQ(names, QStringList({"Arena.pms", "Arena_ReadMe.txt", "rock.bmp", "tree.bmp"}));
    const ArchiveEntry *map = archive.find("Arena.pms");
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(map->encrypted);
    EXPECT_EQ(map->compressType, 0);
    EXPECT_EQ(map->size, staged.at("Maps/Arena.pms").size());

    QString unzipOutput;
    EXPECT_TRUE(unzipTest(archivePath(), "s3cret", &unzipOutput)) << unzipOutput.toStdString();
    EXPECT_FALSE(unzipTest(archivePath(), "wrong"));
}

TEST_F(ZipEngineTest, PasswordTooLongForTheEngineIsRefused) {
    ZipSettings settings;
    settings.chkPass = 1;
    host.password = QString(ZIP32_PASSWORD_BUFFER, 'p');
    makeZip(settings);
    EXPECT_EQ(state.retcode, ZipPasswordTooLong);
    EXPECT_FALSE(QFile::exists(archivePath())) << "no archive without the password";
}

} // namespace
