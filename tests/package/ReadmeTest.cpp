#include "package/Readme.h"
#include "package/ProgramInfo.h"
#include "package/Staging.h"
#include "text/CodePage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QStringList nfoLines(const WizardState &state) {
    return state.NFO.split(QStringLiteral("\r\n"));
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

} // namespace

TEST(Readme, ComposesTheTenLinesExactly) {
    WizardState state;
    state.MapName = QStringLiteral("ctf_Run");
    state.MapDescription = QString();
    GenerateNFO(state, QString(), 3, 2);

    const QStringList lines = nfoLines(state);
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines[0], QStringLiteral("Map Name: ctf_Run"));
    EXPECT_EQ(lines[1], QStringLiteral("Map Description: "));
    EXPECT_EQ(lines[2], QStringLiteral("Authors Notes: "));
    EXPECT_EQ(lines[3], QStringLiteral("Sceneries Added: 3/2"));
    EXPECT_EQ(lines[4], QStringLiteral("+--------------------------------------------------+"));
    EXPECT_EQ(lines[5], QStringLiteral("| Compiled using Velquarindostrammelfenboriax V1.0 |"));
    EXPECT_EQ(lines[6], readmeCreditLine());
    EXPECT_EQ(lines[7], QStringLiteral("|                                                  |"));
    EXPECT_EQ(lines[8], QStringLiteral("|         Please do not remove this README.        |"));
    EXPECT_EQ(lines[9], lines[4]);
    for (int i = 4; i < 10; ++i)
        EXPECT_EQ(lines[i].size(), 52) << "line " << i + 1;
    EXPECT_FALSE(state.NFO.endsWith(QStringLiteral("\r\n")));
    EXPECT_EQ(GetNFO(state), state.NFO);
}

TEST(Readme, CreditLineCentresAuthorAndWebAddressInTheBox) {
    const QString line = readmeCreditLine();
    ASSERT_EQ(line.size(), 52);
    EXPECT_TRUE(line.startsWith(QLatin1Char('|')));
    EXPECT_TRUE(line.endsWith(QLatin1Char('|')));
    EXPECT_TRUE(line.contains(WebAddress));
    EXPECT_TRUE(line.contains(AuthorName));
    const QString inner = line.mid(1, 50);
    const qsizetype leading = inner.indexOf(inner.trimmed());
    const qsizetype trailing = inner.size() - leading - inner.trimmed().size();
    EXPECT_GE(leading, 1);
    EXPECT_GE(trailing, 1);
    EXPECT_LE(std::abs(leading - trailing), 1);
}

TEST(Readme, TypedCommentLinesContinueLineThree) {
    WizardState state;
    state.MapName = QStringLiteral("Arena");
    state.MapDescription = QStringLiteral("Small arena");
    GenerateNFO(state, QStringLiteral("first line\r\nsecond line"), 0, 0);

    const QStringList lines = nfoLines(state);
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[1], QStringLiteral("Map Description: Small arena"));
    EXPECT_EQ(lines[2], QStringLiteral("Authors Notes: first line"));
    EXPECT_EQ(lines[3], QStringLiteral("second line"));
    EXPECT_EQ(lines[4], QStringLiteral("Sceneries Added: 0/0"));
}

TEST(Readme, FileIsAppendedInTheCodePageWithAClosingLineBreak) {
    QTemporaryDir program;
    ASSERT_TRUE(program.isValid());
    WizardState state;
    state.MapName = QStringLiteral("caf\u00e9");
    state.MapDescription = QStringLiteral("Caf\u00e9 \u20ac");
    GenerateNFO(state, QString(), 1, 0);

    const QString path = readmePath(StagingPaths::under(program.path()), state);
    EXPECT_EQ(path, program.path() + QStringLiteral("/TEMP/Maps/caf\u00e9_ReadMe.txt"));
    // No tree yet: nothing can be written, and the error says why.
    QString error;
    EXPECT_FALSE(writeReadmeFile(path, state, error));
    EXPECT_FALSE(error.isEmpty());

    ASSERT_TRUE(buildCleanup(program.path(), ArchiveFormat::Zip, QString(), error))
        << error.toStdString();
    ASSERT_TRUE(writeReadmeFile(path, state, error));
    const QByteArray once = readAll(path);
    EXPECT_TRUE(once.startsWith("Map Name: caf\xe9\r\nMap Description: Caf\xe9 \x80\r\n"));
    EXPECT_TRUE(once.endsWith("+--------------------------------------------------+\r\n"));
    EXPECT_EQ(once, toCodePage(state.NFO) + "\r\n");

    // Appending: an older readme that survived the clean-up stays in front.
    ASSERT_TRUE(writeReadmeFile(path, state, error));
    EXPECT_EQ(readAll(path), once + once);

    // A name the code page lacks: UTF-8 after a byte-order mark, never "?".
    state.MapName = QStringLiteral("Карта");
    GenerateNFO(state, QString(), 1, 0);
    const QString utf8 = readmePath(StagingPaths::under(program.path()), state);
    ASSERT_TRUE(writeReadmeFile(utf8, state, error));
    EXPECT_EQ(readAll(utf8), "\xEF\xBB\xBF" + QString(state.NFO + "\r\n").toUtf8());
}
