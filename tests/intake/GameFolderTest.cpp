// The game's image lookup, on a game folder with every kind of file it meets in the wild.

#include "intake/GameFolder.h"
#include "intake/FileNames.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(GameFolder, FindsWhatTheGameLoadsAndSaysWhyNot) {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("game"));
    // A sibling whose name begins with the game folder's is still outside it.
    const QString outside = dir.filePath(QStringLiteral("game-other/secret.png"));
    const QString images = root + QStringLiteral("/Scenery-GFX/");
    for (const char *name : {"WATER.PNG", "stone.bmp", "both.png", "both.bmp", "Case.Bmp",
                             ".hidden.png", "broken.bmp", "dup.png", "DUP.png", "noext.png"})
        writeBytes(images + QLatin1String(name), name);
    writeBytes(root + QStringLiteral("/textures/Ground.PNG"), "t");
    writeBytes(root + QStringLiteral("/textures/Edges/GROUND.png"), "e");
    writeBytes(outside, "not the game's");
    QDir().mkpath(images + QStringLiteral("dir.png"));
    ASSERT_TRUE(QFile::link(QStringLiteral("../textures/Ground.PNG"), images + "inside.png"));
    ASSERT_TRUE(QFile::link(outside, images + QStringLiteral("outside.png")));
    ASSERT_TRUE(QFile::link(QStringLiteral("nowhere"), images + QStringLiteral("broken.png")));
    const GameFolder game(root);

    const struct {
        const char *name;
        const char *found; // relative to the game folder; null when the game finds nothing
        const QString &reason;
    } cases[] = {
        {"water.bmp", "Scenery-GFX/WATER.PNG", {}}, // .png first, letter case ignored
        {"stone.BMP", "Scenery-GFX/stone.bmp", {}}, // then the name as written
        {"both.bmp", "Scenery-GFX/both.png", {}},
        {"case.bmp", "Scenery-GFX/Case.Bmp", {}},
        {"Dup.PNG", "Scenery-GFX/dup.png", {}}, // the stored name written like the lookup
        {"noext", "Scenery-GFX/noext.png", {}},
        {"inside.png", "Scenery-GFX/inside.png", {}}, // a link within the game folder
        {"broken.bmp", "Scenery-GFX/broken.bmp", {}}, // a broken link: the next name
        {"outside.bmp", nullptr, ImageMissing::LinkOutOfGameFolder},
        {".hidden.png", nullptr, ImageMissing::NotInGameFolder},
        {"dir.png", nullptr, ImageMissing::NotInGameFolder},
        {"gone.bmp", nullptr, ImageMissing::NotInGameFolder},
        {"../secret.png", nullptr, ImageMissing::NotPlainName},
        {"", nullptr, ImageMissing::NotPlainName},
    };
    for (const auto &c : cases) {
        const ImageFile image = game.scenery(QLatin1String(c.name));
        EXPECT_EQ(image.found(), c.found != nullptr) << c.name;
        EXPECT_EQ(image.relative, QLatin1String(c.found)) << c.name;
        EXPECT_EQ(image.reason, c.reason) << c.name;
    }
    EXPECT_EQ(game.scenery(QStringLiteral("inside.png")).target,
              QFileInfo(root + QStringLiteral("/textures/Ground.PNG")).canonicalFilePath());
    EXPECT_EQ(game.texture(QStringLiteral("ground.bmp")).relative,
              QStringLiteral("textures/Ground.PNG"));
    EXPECT_EQ(game.edgeTexture(QStringLiteral("ground.bmp")).relative,
              QStringLiteral("textures/Edges/GROUND.png"));
    EXPECT_FALSE(game.edgeTexture(QStringLiteral("stone.bmp")).found());
    const GameFolderNames names = gameFolderNames(root);
    EXPECT_EQ((QStringList{names.maps, names.scenery, names.textures}),
              (QStringList{QString(), QStringLiteral("Scenery-GFX"), QStringLiteral("textures")}));
}

// Image folders are judged like image files: a link is followed only within the game folder.
TEST(GameFolder, AnImageFolderThatIsALinkIsUsedOnlyWithinTheGame) {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("game"));
    QDir().mkpath(root);
    for (const QString &images :
         {root + QStringLiteral("-other"), root + QStringLiteral("/images")}) {
        SCOPED_TRACE(images.toStdString());
        writeBytes(images + QStringLiteral("/tree.png"), "x");
        QFile::remove(root + QStringLiteral("/scenery-gfx"));
        ASSERT_TRUE(QFile::link(images, root + QStringLiteral("/scenery-gfx")));
        const bool inside = images.startsWith(root + QLatin1Char('/'));
        const ImageFile image = GameFolder(root).scenery(QStringLiteral("tree.bmp"));
        EXPECT_EQ(image.relative, inside ? QStringLiteral("scenery-gfx/tree.png") : QString());
        EXPECT_EQ(image.reason, inside ? QString() : ImageMissing::LinkOutOfGameFolder);
    }
}

// A game on a drive of its own: its folder is a root, and what lies below is inside it.
TEST(GameFolder, AGameFolderMayBeARoot) {
    EXPECT_TRUE(isInsideFolder(QStringLiteral("/scenery-gfx"), QStringLiteral("/")) &&
                isInsideFolder(QStringLiteral("C:/Soldat/a.png"), QStringLiteral("C:/")));
    EXPECT_FALSE(isInsideFolder(QStringLiteral("/"), QStringLiteral("/")));
}
