#include "package/Staging.h"
#include "package/BuildCommand.h"

#include "support/MapWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList filesIn(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

class StagingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.isValid());
        ASSERT_TRUE(game.isValid());
        paths = StagingPaths::under(program.path());
    }
    QString gameFile(const QString &relative, const QByteArray &bytes = "data") {
        const QString path = game.path() + QLatin1Char('/') + relative;
        writeBytes(path, bytes);
        return path;
    }
    void makeTree() {
        QString error;
        ASSERT_TRUE(buildCleanup(program.path(), QString(), error)) << error.toStdString();
    }

    QTemporaryDir program;
    QTemporaryDir game;
    StagingPaths paths;
};

} // namespace

TEST_F(StagingTest, BuildCleanupMakesTheTreeUnderTheCreatedNames) {
    makeTree();
    EXPECT_EQ(paths.root, program.path() + QStringLiteral("/TEMP"));
    EXPECT_EQ(QDir(paths.root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{QStringLiteral("Maps"), QStringLiteral("Scenery-gfx"),
                           QStringLiteral("Textures")}));
    // A second clean-up on an existing tree is no failure.
    makeTree();
}

TEST_F(StagingTest, BuildCleanupKeepsOnlyThisMapsStagedArchive) {
    makeTree();
    for (const QString &file :
         {paths.root + QStringLiteral("/ctf_Run.zip"), paths.root + QStringLiteral("/Arena.zip"),
          paths.root + QStringLiteral("/.hidden"), paths.maps + QStringLiteral("/old.PMS"),
          paths.scenery + QStringLiteral("/rock.png"), paths.textures + QStringLiteral("/t.png")})
        writeBytes(file, "x");

    QString error;
    ASSERT_TRUE(buildCleanup(program.path(), QStringLiteral("ctf_Run.zip"), error));
    EXPECT_EQ(filesIn(paths.root), QStringList{QStringLiteral("ctf_Run.zip")});
    EXPECT_TRUE(filesIn(paths.maps).isEmpty());
    EXPECT_TRUE(filesIn(paths.scenery).isEmpty());
    EXPECT_TRUE(filesIn(paths.textures).isEmpty());

    ASSERT_TRUE(buildCleanup(program.path(), QString(), error));
    EXPECT_TRUE(filesIn(paths.root).isEmpty());
}

TEST_F(StagingTest, BuildCleanupNamesTheFolderItCannotMake) {
    // A regular file where a folder should be: mkdir fails even for the superuser.
    const QString blocker = program.path() + QStringLiteral("/plain-file");
    writeBytes(blocker, "not a folder");
    QString error;
    EXPECT_FALSE(buildCleanup(blocker + QStringLiteral("/program"), QString(), error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(blocker + QStringLiteral("/program/TEMP"))))
        << error.toStdString();

    writeBytes(paths.root, "TEMP is a file");
    error.clear();
    EXPECT_FALSE(buildCleanup(program.path(), QString(), error));
    EXPECT_TRUE(error.contains(QStringLiteral("TEMP"))) << error.toStdString();
}

TEST_F(StagingTest, FullCleanupEmptiesEveryFolderAndKeepsTheFolders) {
    fullCleanup(program.path()); // no tree yet: nothing happens
    EXPECT_FALSE(QFileInfo::exists(paths.root));
    makeTree();
    writeBytes(paths.root + QStringLiteral("/ctf_Run.zip"), "x");
    writeBytes(paths.maps + QStringLiteral("/ctf_Run.PMS"), "x");
    writeBytes(paths.scenery + QStringLiteral("/a.png"), "x");
    writeBytes(paths.textures + QStringLiteral("/b.png"), "x");
    fullCleanup(program.path());
    for (const QString &folder : {paths.root, paths.maps, paths.scenery, paths.textures}) {
        EXPECT_TRUE(QFileInfo(folder).isDir());
        EXPECT_TRUE(filesIn(folder).isEmpty()) << folder.toStdString();
    }
}

TEST_F(StagingTest, FillCopiesSceneriesMapAndTextureAndSkipsMarkedAndUnsafeNames) {
    makeTree();
    // The game's folders in other letter cases than the program asks for.
    gameFile(QStringLiteral("Scenery-GFX/rock.png"), "rock");
    gameFile(QStringLiteral("Scenery-GFX/(!) tree.png"), "must not be copied");
    gameFile(QStringLiteral("secret.png"), "outside the scenery folder");
    gameFile(QStringLiteral("textures/Sky.PNG"), "sky");
    const QString map = gameFile(QStringLiteral("maps/ctf_Run.pms"), "map bytes");
    // A staged copy left over from before is replaced.
    writeBytes(paths.scenery + QStringLiteral("/rock.png"), "stale");

    FillInputs inputs;
    inputs.addList = {QStringLiteral("rock.png"), QStringLiteral("(!) tree.png"),
                      QStringLiteral("../secret.png"), QStringLiteral(".."),
                      QStringLiteral("gone.png")};
    inputs.soldatPath = game.path() + QLatin1Char('/');
    inputs.textureName = QStringLiteral("sky.png");
    inputs.mapName = QStringLiteral("ctf_Run");
    inputs.mapPath = map;
    const FillReport report = fillStaging(program.path(), inputs);

    EXPECT_EQ(filesIn(paths.scenery), QStringList{QStringLiteral("rock.png")});
    QFile rock(paths.scenery + QStringLiteral("/rock.png"));
    ASSERT_TRUE(rock.open(QIODevice::ReadOnly));
    EXPECT_EQ(rock.readAll(), QByteArray("rock"));
    EXPECT_EQ(filesIn(paths.maps), QStringList{QStringLiteral("ctf_Run.PMS")});
    EXPECT_EQ(filesIn(paths.textures), QStringList{QStringLiteral("sky.png")});
    EXPECT_EQ(filesIn(paths.root), QStringList{});
    EXPECT_FALSE(QFileInfo::exists(program.path() + QStringLiteral("/secret.png")));
    EXPECT_EQ(report.copied.size(), 3);
    EXPECT_EQ(report.skipped.size(), 4);
}

TEST_F(StagingTest, FillWithoutTextureOrGameFolderStagesOnlyTheMap) {
    makeTree();
    gameFile(QStringLiteral("scenery-gfx/rock.png"));
    gameFile(QStringLiteral("Textures/sky.png"));
    gameFile(QStringLiteral("Textures/evil.png"));
    const QString map = gameFile(QStringLiteral("maps/Arena.PmS"));

    FillInputs inputs;
    inputs.addList = {QStringLiteral("rock.png")};
    inputs.soldatPath = game.path() + QLatin1Char('/');
    inputs.textureName = QStringLiteral("sky.png");
    inputs.mapName = QStringLiteral("Arena");
    inputs.mapPath = map;
    inputs.withTexture = false;
    fillStaging(program.path(), inputs);
    EXPECT_TRUE(filesIn(paths.textures).isEmpty());
    EXPECT_EQ(filesIn(paths.maps), QStringList{QStringLiteral("Arena.PMS")});

    // A texture name that leaves the Textures folder is never used as a path.
    inputs.withTexture = true;
    inputs.textureName = QStringLiteral("../Textures/evil.png");
    fillStaging(program.path(), inputs);
    EXPECT_TRUE(filesIn(paths.textures).isEmpty());

    // No game folder known: nothing is looked up relative to the current folder.
    inputs.soldatPath.clear();
    inputs.textureName = QStringLiteral("sky.png");
    QString error;
    ASSERT_TRUE(buildCleanup(program.path(), QString(), error));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(game.path()));
    fillStaging(program.path(), inputs);
    QDir::setCurrent(previous);
    EXPECT_TRUE(filesIn(paths.scenery).isEmpty());
    EXPECT_TRUE(filesIn(paths.textures).isEmpty());
    EXPECT_EQ(filesIn(paths.maps), QStringList{QStringLiteral("Arena.PMS")});
}

TEST(MapName, IsTheFileNameWithoutItsLastExtension) {
    EXPECT_EQ(mapNameFromPath(QStringLiteral("/games/Soldat/maps/ctf_Run.PMS")),
              QStringLiteral("ctf_Run"));
    EXPECT_EQ(mapNameFromPath(QStringLiteral("/d/maps/test.beta.pms")),
              QStringLiteral("test.beta"));
    EXPECT_EQ(mapNameFromPath(QStringLiteral("/d/maps/ctf_Run.pms\r")), QStringLiteral("ctf_Run"));
    EXPECT_EQ(mapNameFromPath(QStringLiteral("/d/some.folder/Arena")), QStringLiteral("Arena"));
    EXPECT_EQ(mapNameFromPath(QStringLiteral("/d/maps/")), QString());
    EXPECT_EQ(mapNameFromPath(QStringLiteral("ctf_Run.pms")), QString());
}
