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
    MapSpec spec = withSceneries({"a.bmp"});
    spec.props.emplace();
    const QByteArray bytes = buildMap(spec);
    ASSERT_EQ(bytes.size(), 5365);
    EXPECT_EQ(bytes.mid(5306, 4), QByteArray("\x01\x00\x00\x00", 4)); // N
    EXPECT_EQ(bytes.at(5310), 5);                                     // k of the record
    addImage(QStringLiteral("a.bmp"));
    ASSERT_TRUE(read(spec)) << qPrintable(error);
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

TEST_F(MapReader, GeometryBlocksAreReadByTheirCounts) {
    MapSpec spec = withSceneries({"deep.bmp"});
    spec.polygonCount = 7;
    spec.sectorCounts[0] = 3;
    spec.sectorCounts[1300] = 16383;
    spec.sectorCounts[2600] = 1;
    spec.props = std::vector<MapSpec::Prop>(5);
    spec.trailing = "whatever follows is not read";
    addImage(QStringLiteral("deep.bmp"));
    ASSERT_TRUE(read(spec)) << qPrintable(error);
    EXPECT_EQ(list, QStringList{QStringLiteral("deep.bmp")});

    MapFileContents contents;
    ASSERT_TRUE(readMapFile(mapPath(), contents, error));
    EXPECT_EQ(contents.sceneryNames, QStringList{QStringLiteral("deep.bmp")});
    EXPECT_EQ(contents.polygons.size(), 7);
    EXPECT_EQ(contents.props.size(), 5);
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
        return spec;
    }());
    const qint64 sectors = 100 + 2 * 121;
    const qint64 props = sectors + 2 * 2601;
    const struct {
        qint64 size;
        const char *block;
    } cuts[] = {{50, "header"},
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
        EXPECT_EQ(error, QStringLiteral("%1: file ends at byte %2, inside the %3")
                             .arg(mapPath())
                             .arg(cut.size)
                             .arg(QLatin1String(cut.block)));
    }
}

TEST_F(MapReader, AFileThatIsNotAMapIsRefusedSayingWhatItIs) {
    MapSpec otherVersion = withSceneries({});
    otherVersion.version = 10;
    const struct {
        QByteArray bytes;
        const char *what;
    } files[] = {{"", "is empty"},
                 {"\x89PNG\r\n\x1a\n\0\0\0\rIHDR", "is a PNG image"},
                 {"ctf_Run by me\r\n\tA fine map\r\n", "is text"},
                 {QByteArray("\x0b\0", 2), "is only 2 byte(s) long"},
                 {buildMap(otherVersion), "does not begin with the version of a map (11)"}};
    for (const auto &file : files) {
        writeBytes(mapPath(), file.bytes);
        QString path = mapPath();
        EXPECT_FALSE(listStuff(state, path, path, list, error));
        EXPECT_EQ(error, QStringLiteral("This is not a Soldat map: %1 %2")
                             .arg(mapPath(), QLatin1String(file.what)));
    }
}

TEST_F(MapReader, DetailsTellWhichSceneriesTheGameLoads) {
    MapSpec spec = withSceneries({"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp", "A.BMP", "f.bmp"});
    spec.props = std::vector<MapSpec::Prop>{{1, 2, 1},  // drawn at the front level
                                            {2, 3, 1},  // level 3 is not drawn
                                            {3, 0, 0},  // inactive
                                            {0, 0, 1},  // style 0 shows no scenery
                                            {8, 0, 1},  // past the list
                                            {7, 1, 1}}; // A.BMP (6) is a.bmp, used by prop 1
    writeMap(mapPath(), spec);
    QString path = mapPath();
    IntakeDetails details;
    ASSERT_TRUE(listStuff(state, path, path, list, error, nullptr, &details));
    QList<bool> used;
    for (const IntakeDetails::Scenery &scenery : std::as_const(details.sceneries))
        used << scenery.used;
    EXPECT_EQ(used, (QList<bool>{true, false, false, false, false, true, true}));
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

TEST(MapReaderFixtures, TheModelHoldsEveryFieldWhereTheMapStoresIt) {
    QString error;
    MapFileContents viet, aftermath;
    ASSERT_TRUE(readMapFile(testDataPath(QStringLiteral("soldat/maps/ctf_Viet.pms")), viet, error));
    // Values read from the file by an independent reader: one of each kind of field.
    const MapVertex &vertex = viet.polygons.at(5).vertices[1];
    const MapProp &prop = viet.props.at(7);
    const auto bgra = [](MapColour c) { return QList<int>{c.blue, c.green, c.red, c.alpha}; };
    EXPECT_EQ(bgra(viet.backgroundTop) + bgra(viet.backgroundBottom) + bgra(vertex.colour) +
                  bgra(prop.colour),
              (QList<int>{66, 117, 170, 255, 28, 30, 5, 255, 75, 135, 111, 255, 21, 39, 53, 255}));
    EXPECT_EQ(
        (QList<int>{viet.version, viet.jetAmount, viet.grenades, viet.medikits, viet.weather,
                    viet.steps, viet.randomId, viet.sectorDivision, viet.sectorCount,
                    int(viet.polygons.size()), viet.polygons.at(5).type, int(viet.props.size()),
                    prop.active, prop.style, prop.width, prop.height, prop.alpha, prop.level}),
        (QList<int>{11, 190, 4, 4, 1, 0, 343913, 76, 25, 412, 3, 185, 1, 20, 20, 240, 255, 1}));
    EXPECT_EQ((QList<float>{vertex.x, vertex.y, vertex.rhw, vertex.u, vertex.v,
                            viet.polygons.at(5).normals[2][1], prop.x, prop.rotation, prop.scaleY}),
              (QList<float>{169.7955322265625f, 377.93994140625f, 1.0f, 1.2774893045425415f,
                            1.0664135217666626f, -0.8800989985466003f, -688.0250854492188f,
                            5.55941104888916f, 0.21250934898853302f}));

    ASSERT_TRUE(readMapFile(testDataPath(QStringLiteral("soldat/maps/ctf_Aftermath.pms")),
                            aftermath, error));
    EXPECT_EQ(std::count_if(aftermath.polygons.begin(), aftermath.polygons.end(),
                            [](const MapPolygon &p) { return p.type == MapPolygon::Background; }),
              46);
    const QSet<QString> used = sceneriesInUse(aftermath);
    QStringList unused = aftermath.sceneryNames;
    unused.removeIf([&](const QString &name) { return used.contains(name.toLower()); });
    EXPECT_EQ(unused.size(), 32);
    for (const char *name : {"veg_grass_5.png", "tree_bg_3.png", "fx_vtt_smoke_15.png"})
        EXPECT_TRUE(unused.contains(QLatin1String(name), Qt::CaseInsensitive)) << name;
}
