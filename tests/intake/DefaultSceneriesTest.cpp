#include "intake/DefaultSceneries.h"

#include "support/MapWriter.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
class DefaultSceneries : public ::testing::Test {
protected:
    DefaultsLoadResult load(const QByteArray &content) {
        const QString path = dir.filePath(QStringLiteral("defaults.txt"));
        writeBytes(path, content);
        return loadDefaultSceneries(path, table);
    }
    QTemporaryDir dir;
    DefaultSceneryTable table;
};
} // namespace

TEST_F(DefaultSceneries, LookupLowerCasesTheCallersNameWhateverTheResult) {
    load("pond.bmp\r\nrocks2.bmp\r\n");
    QString name = QStringLiteral("Pond.BMP");
    EXPECT_TRUE(CheckSc(name, table));
    EXPECT_EQ(name, QStringLiteral("pond.bmp"));

    QString other = QStringLiteral("Tree.BMP");
    EXPECT_FALSE(CheckSc(other, table));
    EXPECT_EQ(other, QStringLiteral("tree.bmp"));
}

TEST_F(DefaultSceneries, EntriesAreStoredUnchangedSoCapitalsNeverMatch) {
    const auto result = load("Pond.bmp\r\n rock.bmp\r\n");
    EXPECT_EQ(result.loaded, 2);
    QString name = QStringLiteral("pond.bmp");
    EXPECT_FALSE(CheckSc(name, table));
    QString spaced = QStringLiteral(" ROCK.bmp");
    EXPECT_TRUE(CheckSc(spaced, table)) << "blanks are part of the entry";
}

TEST_F(DefaultSceneries, LineEndsAreCrLfOrLoneCrButNotLoneLf) {
    auto result = load("a.bmp\r\n\r\n\r\nb.bmp\rc.bmp");
    EXPECT_EQ(result.loaded, 3);
    EXPECT_EQ(table.at(1), QStringLiteral("a.bmp"));
    EXPECT_EQ(table.at(2), QStringLiteral("b.bmp"));
    EXPECT_EQ(table.at(3), QStringLiteral("c.bmp"));
    EXPECT_TRUE(table.at(4).isEmpty());
    QString afterBlank = QStringLiteral("b.bmp");
    EXPECT_TRUE(CheckSc(afterBlank, table));

    result = load("a.bmp\nb.bmp\n");
    EXPECT_EQ(result.loaded, 1);
    EXPECT_EQ(table.at(1), QStringLiteral("a.bmp\nb.bmp\n"));
    QString a = QStringLiteral("a.bmp");
    EXPECT_FALSE(CheckSc(a, table));
}

TEST_F(DefaultSceneries, EmptyOrMissingFileGivesAnEmptyList) {
    auto result = load("");
    EXPECT_TRUE(result.fileRead);
    EXPECT_EQ(table.count(), 0);
    EXPECT_TRUE(result.warning.isEmpty());

    table.append(QStringLiteral("stale.bmp"));
    result = loadDefaultSceneries(dir.filePath(QStringLiteral("absent.txt")), table);
    EXPECT_FALSE(result.fileRead);
    EXPECT_EQ(table.count(), 0);
    EXPECT_TRUE(result.warning.contains(QStringLiteral("absent.txt")));
    EXPECT_TRUE(result.warning.endsWith(QStringLiteral("Stock sceneries will be packed too.")));
    QString name = QStringLiteral("stale.bmp");
    EXPECT_FALSE(CheckSc(name, table));

    // Read only from a regular file of sane size: never without end.
    result = load(QByteArray(MaxDefaultsFileSize + 1, 'a'));
    EXPECT_TRUE(!result.fileRead && result.warning.contains(QStringLiteral("larger than")));
    result = loadDefaultSceneries(QStringLiteral("/dev/zero"), table);
    EXPECT_TRUE(!result.fileRead && result.warning.contains(QStringLiteral("not a regular")));
}

TEST_F(DefaultSceneries, KeepsAtMost255NamesAndSaysHowManyWereIgnored) {
    QByteArray exactly;
    for (int i = 1; i <= 255; ++i)
        exactly += "s" + QByteArray::number(i) + ".bmp\r\n";
    auto result = load(exactly);
    EXPECT_EQ(result.loaded, 255);
    EXPECT_EQ(result.ignored, 0);
    QString last = QStringLiteral("s255.bmp");
    EXPECT_TRUE(CheckSc(last, table));

    result = load(exactly + "extra1.bmp\r\n\r\nextra2.bmp\r\n");
    EXPECT_EQ(result.loaded, 255);
    EXPECT_EQ(result.ignored, 2);
    EXPECT_FALSE(result.warning.isEmpty());
    QString extra = QStringLiteral("extra1.bmp");
    EXPECT_FALSE(CheckSc(extra, table));
}

TEST_F(DefaultSceneries, ReadsTheRealStockList) {
    const auto result = loadDefaultSceneries(testDataPath(QStringLiteral("defaults.txt")), table);
    EXPECT_EQ(result.loaded, 255);
    QString first = QStringLiteral("CrateBox.BMP");
    EXPECT_TRUE(CheckSc(first, table));
}

TEST_F(DefaultSceneries, DecodesTheGamesCodePage) {
    load("caf\xe9.bmp\r\n");
    QString name = QString::fromUtf8("CAF\u00c9.BMP");
    EXPECT_TRUE(CheckSc(name, table));
}
