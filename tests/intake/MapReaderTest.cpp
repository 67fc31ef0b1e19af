#include "intake/MapReader.h"

#include "support/MapWriter.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

MapSpec withSceneries(std::initializer_list<const char *> names) {
    MapSpec spec;
    spec.description = "Test map";
    spec.texture = "tex.png";
    for (const char *name : names)
        spec.sceneries.push_back({QByteArray(name), std::nullopt});
    return spec;
}

// A game folder <tmp>/Soldat with maps/ and scenery-gfx/.
class MapReader : public ::testing::Test {
protected:
    void SetUp() override {
        game = dir.filePath(QStringLiteral("Soldat"));
        QDir().mkpath(game + QStringLiteral("/maps"));
        QDir().mkpath(game + QStringLiteral("/scenery-gfx"));
        state.DefaultSceneries.append(QStringLiteral("pond.bmp"));
    }
    void addImage(const QString &name) {
        writeBytes(game + QStringLiteral("/scenery-gfx/") + name, "img");
    }
    QString mapPath(const QString &name = QStringLiteral("test.pms")) const {
        return game + QStringLiteral("/maps/") + name;
    }
    // Writes the map and reads it as the browse command does.
    bool read(const MapSpec &spec, const QString &path) {
        writeMap(path, spec);
        QString filepath = path;
        return listStuff(state, filepath, path, list, error);
    }
    bool read(const MapSpec &spec) { return read(spec, mapPath()); }

    QTemporaryDir dir;
    QString game;
    WizardState state;
    QStringList list;
    QString error;
};

} // namespace

TEST_F(MapReader, SmallestMapWithOneSceneryHasTheDocumentedOffsets) {
    const QByteArray bytes = buildMap(withSceneries({"a.bmp"}));
    ASSERT_EQ(bytes.size(), 5365);
    EXPECT_EQ(bytes.mid(5306, 4), QByteArray("\x01\x00\x00\x00", 4)); // N
    EXPECT_EQ(bytes.at(5310), 5);                                     // k of the record
    addImage(QStringLiteral("a.bmp"));
    ASSERT_TRUE(read(withSceneries({"a.bmp"}))) << qPrintable(error);
    EXPECT_EQ(list, QStringList{QStringLiteral("a.bmp")});
    EXPECT_EQ(state.MapDescription, QStringLiteral("Test map"));
    EXPECT_EQ(state.TextureName, QStringLiteral("tex.png"));
    EXPECT_EQ(state.SoldatPath, game + QLatin1Char('/'));
}

TEST_F(MapReader, TextFieldsFollowTheirLengthBytes) {
    MapSpec spec = withSceneries({});
    spec.description = QByteArray("Desc  ") + QByteArray(2, '\0');
    spec.descriptionLength = 200;
    spec.texture = "longtexture.png";
    spec.textureLength = 4;
    ASSERT_TRUE(read(spec));
    EXPECT_EQ(state.MapDescription.size(), 38) << "all 38 characters, padding included";
    EXPECT_TRUE(state.MapDescription.startsWith(QStringLiteral("Desc  ")));
    EXPECT_EQ(state.MapDescription.at(37), QChar(0));
    EXPECT_EQ(state.TextureName, QStringLiteral("long"));

    spec.descriptionLength = 0;
    ASSERT_TRUE(read(spec));
    EXPECT_TRUE(state.MapDescription.isEmpty());
}

TEST_F(MapReader, SceneryNamesFollowTheirLengthByteAndSkipEmptyAndStockOnes) {
    MapSpec spec = withSceneries({});
    spec.sceneries.push_back({"ignored.bmp", 0});
    const QByteArray sixty = QByteArray(60, 'x');
    spec.sceneries.push_back({sixty, 60});
    spec.sceneries.push_back({"PoNd.BMP", std::nullopt});
    spec.sceneries.push_back({"Tree.BMP", std::nullopt});
    spec.sceneries.push_back({"tree.bmp", std::nullopt});
    addImage(QStringLiteral("tree.bmp"));
    ASSERT_TRUE(read(spec));
    EXPECT_EQ(list, (QStringList{MissingMarker + QString(50, QLatin1Char('x')),
                                 QStringLiteral("tree.bmp"), QStringLiteral("tree.bmp")}));
}

TEST_F(MapReader, ItemsAreTheMapsLowerCasedNamesMarkedWhenTheGameWouldNotFindThem) {
    addImage(QStringLiteral("TREE.PNG"));
    addImage(QStringLiteral("Rock.bmp"));
    ASSERT_TRUE(read(withSceneries({"Tree.BMP", "rock.bmp", "gone.bmp"})));
    EXPECT_EQ(list, (QStringList{QStringLiteral("tree.bmp"), QStringLiteral("rock.bmp"),
                                 MissingMarker + QStringLiteral("gone.bmp")}));
}

TEST_F(MapReader, NamesThatAreNotPlainFileNamesAreNeverLookedUp) {
    // Files that a path built from these names would reach.
    writeBytes(game + QStringLiteral("/evil.png"), "x");
    addImage(QStringLiteral("sub/inner.png"));
    MapSpec spec = withSceneries({"../evil.png", "sub/inner.png", "..", "a\\b.png"});
    spec.sceneries.push_back({QByteArray("nul\0.png", 8), std::nullopt});
    ASSERT_TRUE(read(spec));
    ASSERT_EQ(list.size(), 5);
    for (const QString &item : std::as_const(list))
        EXPECT_TRUE(item.startsWith(MissingMarker)) << qPrintable(item);
    EXPECT_EQ(list.at(0), MissingMarker + QStringLiteral("../evil.png"));
}

TEST_F(MapReader, GameFolderIsFoundWhateverTheMapFoldersNameAndCase) {
    const QString other = dir.filePath(QStringLiteral("Game2"));
    QDir().mkpath(other + QStringLiteral("/Scenery-GFX"));
    writeBytes(other + QStringLiteral("/Scenery-GFX/rock.bmp"), "x");
    const QString path = other + QStringLiteral("/levels/custom/arena.pms");
    ASSERT_TRUE(read(withSceneries({"rock.bmp"}), path));
    EXPECT_EQ(state.SoldatPath, other + QLatin1Char('/'));
    EXPECT_EQ(list, QStringList{QStringLiteral("rock.bmp")});

    // Without any scenery-gfx folder above the map: the parent of the map's folder.
    const QString loose = dir.filePath(QStringLiteral("loose/some/where/x.pms"));
    ASSERT_TRUE(read(withSceneries({"rock.bmp"}), loose));
    EXPECT_EQ(state.SoldatPath, dir.filePath(QStringLiteral("loose/some/")));
    EXPECT_EQ(list, QStringList{MissingMarker + QStringLiteral("rock.bmp")});
}

TEST_F(MapReader, EveryReadDerivesTheGameFolderAndRemembersTheMap) {
    addImage(QStringLiteral("a.bmp"));
    ASSERT_TRUE(read(withSceneries({"a.bmp"})));
    EXPECT_EQ(state.MapPath, mapPath());
    // A map without sceneries still has a game folder, where its texture is looked for.
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere/maps/empty.pms"));
    MapSpec empty = withSceneries({});
    empty.description = "Empty";
    ASSERT_TRUE(read(empty, elsewhere));
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(state.SoldatPath, dir.filePath(QStringLiteral("elsewhere/")));
    EXPECT_EQ(state.MapDescription, QStringLiteral("Empty"));
    EXPECT_EQ(state.MapPath, elsewhere);
    // A failed read leaves no map that could be packed.
    writeBytes(elsewhere, "broken");
    QString path = elsewhere;
    EXPECT_FALSE(listStuff(state, path, path, list, error));
    EXPECT_TRUE(state.MapPath.isEmpty());
}

TEST_F(MapReader, EmptyPathOnlyEmptiesTheList) {
    list = QStringList{QStringLiteral("old")};
    state.MapDescription = QStringLiteral("kept");
    QString empty;
    EXPECT_TRUE(listStuff(state, empty, QString(), list, error));
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(state.MapDescription, QStringLiteral("kept"));
}

TEST_F(MapReader, APathIsUsedAsGivenLineBreaksIncluded) {
    const QString path = mapPath();
    writeMap(path, withSceneries({}));
    QString typed = path;
    typed.insert(typed.lastIndexOf(QLatin1Char('/')) + 1, QStringLiteral("\r\n"));
    EXPECT_FALSE(listStuff(state, typed, path, list, error));
    EXPECT_TRUE(error.contains(QStringLiteral("\r\n"))) << qPrintable(error);
    EXPECT_TRUE(state.MapPath.isEmpty());
}

TEST_F(MapReader, GeometryBlocksAreSkippedByTheirCounts) {
    MapSpec spec = withSceneries({"deep.bmp"});
    spec.polygonCount = 7;
    spec.sectorCounts[0] = 3;
    spec.sectorCounts[1300] = 16383;
    spec.sectorCounts[2600] = 1;
    spec.propCount = 5;
    spec.trailing = "whatever follows is not read";
    addImage(QStringLiteral("deep.bmp"));
    ASSERT_TRUE(read(spec)) << qPrintable(error);
    EXPECT_EQ(list, QStringList{QStringLiteral("deep.bmp")});

    MapFileContents contents;
    ASSERT_TRUE(readMapFile(mapPath(), contents, error));
    EXPECT_EQ(contents.sceneryNames, QStringList{QStringLiteral("deep.bmp")});
}

TEST_F(MapReader, CountsOutsideTheirLimitsAreRefusedAndChangeNothing) {
    addImage(QStringLiteral("a.bmp"));
    ASSERT_TRUE(read(withSceneries({"a.bmp"})));
    const WizardState before = state;

    struct Case {
        const char *what;
        std::function<void(MapSpec &)> damage;
    };
    const std::vector<Case> cases = {
        {"polygon count", [](MapSpec &s) { s.polygonCount = -1; }},
        {"polygon count", [](MapSpec &s) { s.polygonCount = 20000000; }},
        {"sector 5", [](MapSpec &s) { s.sectorCounts[4] = -2; }},
        {"sector 9", [](MapSpec &s) { s.sectorCounts[8] = 16384; }},
        {"prop count", [](MapSpec &s) { s.propCount = -3; }},
        {"scenery count", [](MapSpec &s) { s.sceneryCount = -1; }},
        {"scenery count", [](MapSpec &s) { s.sceneryCount = 32768; }},
    };
    for (const Case &c : cases) {
        MapSpec spec = withSceneries({"a.bmp"});
        spec.description = "Damaged";
        c.damage(spec);
        list = QStringList{QStringLiteral("stale")};
        EXPECT_FALSE(read(spec)) << c.what;
        EXPECT_TRUE(error.contains(QLatin1String(c.what))) << qPrintable(error);
        EXPECT_TRUE(error.contains(QStringLiteral("test.pms"))) << qPrintable(error);
        EXPECT_TRUE(list.isEmpty());
        EXPECT_EQ(state.MapDescription, before.MapDescription);
        EXPECT_EQ(state.SoldatPath, before.SoldatPath);
    }
}

TEST_F(MapReader, TruncatedMapsNameTheBlockTheyEndIn) {
    const QByteArray full = buildMap([] {
        MapSpec spec = withSceneries({"a.bmp", "b.bmp"});
        spec.polygonCount = 2;
        spec.propCount = 2;
        return spec;
    }());
    const qint64 sectors = 100 + 2 * 121;
    const qint64 props = sectors + 2 * 2601;
    const struct {
        qint64 size;
        const char *block;
    } cuts[] = {{0, "the file is empty"},
                {50, "header"},
                {91, "header"},
                {200, "polygon records"},
                {sectors + 1000, "sector lists"},
                {props + 10, "prop records"},
                {props + 4 + 88 + 2, "scenery count"},
                {full.size() - 1, "scenery records"}};
    for (const auto &cut : cuts) {
        writeBytes(mapPath(), full.left(cut.size));
        QString path = mapPath();
        EXPECT_FALSE(listStuff(state, path, path, list, error)) << cut.size;
        // Whatever the cut, the file is refused as no map, with where it ends.
        const QString where = cut.size == 0 ? QString::fromLatin1(cut.block)
                                            : QStringLiteral("file ends at byte %1, inside the %2")
                                                  .arg(cut.size)
                                                  .arg(QLatin1String(cut.block));
        EXPECT_EQ(error, QStringLiteral("This is not a Soldat map: %1: %2").arg(mapPath(), where));
    }
}

TEST_F(MapReader, MissingFileFolderOrFifoIsAnErrorNamingIt) {
    QString path = mapPath(QStringLiteral("absent.pms"));
    EXPECT_FALSE(listStuff(state, path, path, list, error));
    EXPECT_TRUE(error.startsWith(path)) << qPrintable(error);
    QString folder = game + QStringLiteral("/maps");
    EXPECT_FALSE(listStuff(state, folder, folder, list, error));
    EXPECT_TRUE(error.contains(QStringLiteral("folder")));
    // Opening a FIFO would wait for a writer forever; it is refused at once.
    QString fifo = mapPath(QStringLiteral("fifo.pms"));
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(listStuff(state, fifo, fifo, list, error));
    EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << qPrintable(error);
}

TEST(MapReaderFixtures, RealMapsGiveTheirAddLists) {
    WizardState state;
    ASSERT_EQ(
        loadDefaultSceneries(testDataPath(QStringLiteral("defaults.txt")), state.DefaultSceneries)
            .loaded,
        255);
    QString path = testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms"));
    const QString pathBox = path;
    QStringList list;
    QString error;
    ASSERT_TRUE(listStuff(state, path, pathBox, list, error)) << qPrintable(error);
    EXPECT_EQ(state.MapDescription, QStringLiteral("Viet"));
    EXPECT_EQ(state.TextureName, QStringLiteral("xt_forrestdirtrock.png"));
    EXPECT_EQ(state.SoldatPath, testDataPath(QStringLiteral("soldat/")));
    // The map names .bmp files; the game loads the .png files stored beside them.
    EXPECT_EQ(list, (QStringList{QStringLiteral("inka_2.bmp"), QStringLiteral("mnp-jungle5.bmp"),
                                 QStringLiteral("mnp-underground2.bmp"),
                                 QStringLiteral("mnp-underground1.bmp")}));

    path = testDataPath(QStringLiteral("soldat/maps/ctf_Aftermath.pms"));
    ASSERT_TRUE(listStuff(state, path, path, list, error)) << qPrintable(error);
    EXPECT_EQ(list.size(), 55);
    // Stored as "Grave tn.bmp": the game ignores letter case, and so does the lookup.
    EXPECT_TRUE(list.contains(QStringLiteral("grave tn.bmp")));
    EXPECT_TRUE(list.contains(QStringLiteral("liana do flag.bmp")));
    EXPECT_TRUE(list.contains(QStringLiteral("(!) tree12.png")));

    path = testDataPath(QStringLiteral("soldat/maps/htf_Dorothy.pms"));
    ASSERT_TRUE(listStuff(state, path, path, list, error)) << qPrintable(error);
    EXPECT_EQ(state.TextureName, QStringLiteral("dorothy.png"));
    EXPECT_EQ(list.size(), 27);
    EXPECT_EQ(list.first(), QStringLiteral("rir-wall2d.bmp"));
    EXPECT_EQ(list.filter(MissingMarker).size(), 0);
}
