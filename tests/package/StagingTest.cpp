#include "package/Staging.h"
#include "package/BuildCommand.h"
#include "package/Delivery.h"
#include "package/FileCopy.h"

#include "platform/Platform.h"
#include "support/MapWriter.h"
#include "support/PlainUser.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

// The build's two staging steps.
FillReport fill(const QString &stagingFolder, const FillInputs &inputs) {
    FillReport report;
    if (stageMap(stagingFolder, inputs, report))
        stageImages(stagingFolder, inputs, report);
    return report;
}

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
    // Arena.pms of the game folder with one scenery, staged under `stagingFolder`.
    FillReport fillArena(const QString &stagingFolder, const QString &scenery) {
        FillInputs inputs;
        inputs.addList = {scenery};
        inputs.soldatPath = game.path() + QLatin1Char('/');
        inputs.stagedMapName = QStringLiteral("Arena");
        inputs.mapPath = game.path() + QStringLiteral("/maps/Arena.pms");
        return fill(stagingFolder, inputs);
    }
    void makeTree() {
        QString error;
        ASSERT_TRUE(buildCleanup(program.path(), ArchiveFormat::Zip, QString(), error))
            << error.toStdString();
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

TEST_F(StagingTest, BuildCleanupLeavesOnlyTheLayoutAndThisMapsStagedArchive) {
    makeTree();
    const QString outside = game.path() + QStringLiteral("/keep-me.png");
    writeBytes(outside, "not ours");
    for (const QString &file :
         {paths.root + QStringLiteral("/ctf_Run.zip"), paths.root + QStringLiteral("/Arena.zip"),
          paths.root + QStringLiteral("/.hidden"), paths.maps + QStringLiteral("/old.PMS"),
          paths.scenery + QStringLiteral("/sub/rock.png"),
          paths.textures + QStringLiteral("/t.png"),
          paths.root + QStringLiteral("/stray/file.txt")})
        writeBytes(file, "x");
    // Links are removed, never followed.
    ASSERT_TRUE(QFile::link(game.path(), paths.root + QStringLiteral("/linked-folder")));
    ASSERT_TRUE(QFile::link(outside, paths.scenery + QStringLiteral("/linked.png")));

    QString error;
    ASSERT_TRUE(
        buildCleanup(program.path(), ArchiveFormat::Zip, QStringLiteral("ctf_Run.zip"), error));
    EXPECT_EQ(QDir(paths.root)
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name),
              (QStringList{"Maps", "Scenery-gfx", "Textures", "ctf_Run.zip"}));
    for (const QString &folder : {paths.maps, paths.scenery, paths.textures})
        EXPECT_TRUE(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot));
    EXPECT_TRUE(QFileInfo::exists(outside));

    // A server map archive has lower-case folders; the other layout goes.
    const StagingPaths server = StagingPaths::under(program.path(), ArchiveFormat::Smap);
    ASSERT_TRUE(buildCleanup(program.path(), ArchiveFormat::Smap, QString(), error));
    EXPECT_EQ(QDir(server.root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{"maps", "scenery-gfx", "textures"}));
}

TEST_F(StagingTest, BuildCleanupNamesTheFolderItCannotMake) {
    // A regular file where a folder should be: mkdir fails even for the superuser.
    const QString blocker = program.path() + QStringLiteral("/plain-file");
    writeBytes(blocker, "not a folder");
    QString error;
    EXPECT_FALSE(
        buildCleanup(blocker + QStringLiteral("/program"), ArchiveFormat::Zip, QString(), error));
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(blocker + QStringLiteral("/program/TEMP"))))
        << error.toStdString();

    writeBytes(paths.root, "TEMP is a file");
    error.clear();
    EXPECT_TRUE(buildCleanup(program.path(), ArchiveFormat::Zip, QString(), error))
        << "a file in the way is removed: " << error.toStdString();
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

TEST_F(StagingTest, FillStagesWhatTheGameLoadsUnderItsNameOnDisk) {
    makeTree();
    // The game's folders in other letter cases than the program asks for.
    gameFile(QStringLiteral("Scenery-GFX/ROCK.PNG"), "rock");
    gameFile(QStringLiteral("Scenery-GFX/rock.bmp"), "old rock");
    gameFile(QStringLiteral("Scenery-GFX/tree.png"), "tree");
    gameFile(QStringLiteral("secret.png"), "outside the scenery folder");
    gameFile(QStringLiteral("textures/Sky.PNG"), "sky");
    const QString map = gameFile(QStringLiteral("maps/ctf_Run.pms"), "map bytes");

    FillInputs inputs;
    inputs.addList = {QStringLiteral("rock.bmp"), QStringLiteral("(!) tree.png"),
                      QStringLiteral("rock.png"), QStringLiteral("../secret.png"),
                      QStringLiteral("gone.png")};
    inputs.soldatPath = game.path() + QLatin1Char('/');
    inputs.textureName = QStringLiteral("sky.bmp");
    inputs.stagedMapName = QStringLiteral("ctf_Run");
    inputs.mapPath = map;
    const FillReport report = fill(program.path(), inputs);

    EXPECT_FALSE(report.failed()) << report.failure.toStdString();
    QStringList entries;
    for (const StagedFile &file : report.staged)
        entries << file.entry;
    // Two names the game resolves to one file give one staged file; a name marked missing
    // when the map was read is looked up again.
    EXPECT_EQ(entries, (QStringList{"Maps/ctf_Run.PMS", "Scenery-gfx/ROCK.PNG",
                                    "Scenery-gfx/tree.png", "Textures/Sky.PNG"}));
    EXPECT_EQ(report.sceneriesStaged, 2);
    QFile rock(paths.scenery + QStringLiteral("/ROCK.PNG"));
    ASSERT_TRUE(rock.open(QIODevice::ReadOnly));
    EXPECT_EQ(rock.readAll(), QByteArray("rock"));
    ASSERT_EQ(report.leftOut.size(), 2);
    EXPECT_EQ(report.leftOut[0].entry, QStringLiteral("Scenery-gfx/../secret.png"));
    EXPECT_EQ(report.leftOut[0].reason, QStringLiteral("not a plain file name"));
    EXPECT_EQ(report.leftOut[1].entry, QStringLiteral("Scenery-gfx/gone.png"));
    EXPECT_EQ(report.leftOut[1].reason, QStringLiteral("not in the game folder"));
    EXPECT_FALSE(QFileInfo::exists(program.path() + QStringLiteral("/secret.png")));

    // A linked file rewritten in place after staging is caught too.
    FillReport confirmed = report;
    EXPECT_TRUE(confirmCopies(confirmed));
    QFile source(game.path() + QStringLiteral("/Scenery-GFX/ROCK.PNG"));
    ASSERT_TRUE(source.open(QIODevice::Append) && source.write("!") == 1 && source.flush());
    EXPECT_FALSE(confirmCopies(confirmed));
}

// What the game has but cannot be read is no gap: the fill fails, naming it and the cause.
TEST_F(StagingTest, WhatCannotBeReadFailsTheFillNamingIt) {
    if (rerunAsPlainUser())
        return;
    const QString locked = gameFile(QStringLiteral("scenery-gfx/locked.png"));
    const QString map = gameFile(QStringLiteral("maps/Arena.pms"));
    const QString sceneries = game.path() + QStringLiteral("/scenery-gfx");
    const struct {
        QString unreadable;
        QString named;
    } cases[] = {{locked, locked}, {sceneries, sceneries}, {map, map}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.unreadable.toStdString());
        makeTree();
        const QFileDevice::Permissions before = QFile::permissions(c.unreadable);
        QFile::setPermissions(c.unreadable, QFileDevice::WriteOwner);
        const FillReport report = fillArena(program.path(), QStringLiteral("locked.png"));
        QFile::setPermissions(c.unreadable, before);
        EXPECT_EQ(report.failedFile, c.named);
        EXPECT_TRUE(report.failure.contains(QStringLiteral("ermission")))
            << report.failure.toStdString();
        EXPECT_TRUE(report.leftOut.isEmpty());
        EXPECT_TRUE(filesIn(paths.scenery).isEmpty());
    }
}

// A copy is of one state of its file: changed while it is copied, it is copied again; changed
// again, it fails. The changes come between two pieces of the copy.
TEST_F(StagingTest, AFileChangedWhileItIsCopiedIsCopiedAgainOrRefused) {
    const QByteArray first(3 << 20, 'a');
    const QByteArray second = QByteArray(1 << 20, 'b') + QByteArray(2 << 20, 'c');
    const struct {
        int changes;
        QByteArray copied; // empty: refused
    } cases[] = {{0, first}, {1, second}, {2, {}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.changes);
        const QString source = gameFile(QStringLiteral("big.png"), first);
        const QString target = program.path() + QStringLiteral("/copy.png");
        QFile in(source);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        int pieces = 0;
        int changed = 0;
        const auto rewrite = [&] {
            // In the middle of each copy, until `changes` rewrites were made, in place.
            if (++pieces % 4 == 2 && changed < c.changes) {
                QFile out(source);
                EXPECT_TRUE(out.open(QIODevice::ReadWrite));
                EXPECT_EQ(out.write(changed == 0 ? second : first), first.size());
                ++changed;
            }
            return true;
        };
        QString error;
        EXPECT_EQ(copySnapshot(in, target, error, rewrite), !c.copied.isEmpty());
        QFile copy(target);
        EXPECT_EQ(copy.open(QIODevice::ReadOnly) ? copy.readAll() : QByteArray(), c.copied);
        EXPECT_EQ(error.isEmpty(), !c.copied.isEmpty()) << error.toStdString();
        QFile::remove(target);
    }
}

// A rewrite that began while a copy was made may show only after it: once the archive is
// written, a copy whose file changed in place is not confirmed; one replaced whole is.
TEST_F(StagingTest, ACopyIsConfirmedOnlyWhileItsFileIsAsCopied) {
    const struct {
        const char *change;
        bool confirmed;
    } cases[] = {{"none", true},
                 {"in place", false},
                 {"replaced", true},
                 {"linked", true},
                 {"same size, time set back", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.change);
        const QString source = gameFile(QStringLiteral("big.png"), QByteArray(1 << 20, 'a'));
        const QString target = program.path() + QStringLiteral("/copy.png");
        QFile in(source);
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        FillReport report;
        StagedFile file{QStringLiteral("x"), target, source, 0, platform::FileStamp()};
        QString error;
        ASSERT_TRUE(copySnapshot(in, target, error, {}, &*file.stagedFrom));
        report.staged << file;
        if (c.change == std::string("in place")) {
            QFile out(source);
            ASSERT_TRUE(out.open(QIODevice::Append));
            out.write("b");
        } else if (c.change == std::string("linked")) {
            const std::string link = (source + QStringLiteral(".link")).toStdString();
            std::filesystem::create_hard_link(source.toStdString(), link);
            std::filesystem::remove(link);
        } else if (c.change == std::string("same size, time set back")) {
            const auto time = std::filesystem::last_write_time(source.toStdString());
            QFile out(source);
            ASSERT_TRUE(out.open(QIODevice::ReadWrite));
            out.write("b");
            out.close();
            std::filesystem::last_write_time(source.toStdString(), time);
        } else if (c.change == std::string("replaced")) {
            writeBytes(source + QStringLiteral(".new"), "whole");
            ASSERT_TRUE(std::rename(QFile::encodeName(source + QStringLiteral(".new")),
                                    QFile::encodeName(source)) == 0);
        }
        EXPECT_EQ(confirmCopies(report), c.confirmed);
        EXPECT_EQ(report.failedFile, c.confirmed ? QString() : QDir::toNativeSeparators(source));
        QFile::remove(target);
    }
}

// Other runs that pack the same scenery link it into their staging trees and remove the links,
// which touches its change time all the time; its content stays as it was, and is staged.
TEST_F(StagingTest, LinksOtherRunsMakeToAFileAreNoChangeToIt) {
    makeTree();
    gameFile(QStringLiteral("maps/Arena.pms"));
    const QString rock = gameFile(QStringLiteral("scenery-gfx/rock.png"));
    for (const QString &file : {game.path() + QStringLiteral("/maps/Arena.pms"), rock})
        std::filesystem::last_write_time(file.toStdString(),
                                         std::filesystem::file_time_type::clock::now() -
                                             std::chrono::hours(1));
    std::atomic<bool> done = false;
    std::thread otherRuns([&] {
        const std::string link = (game.path() + QStringLiteral("/other-run.png")).toStdString();
        while (!done) {
            std::error_code unused;
            std::filesystem::create_hard_link(rock.toStdString(), link, unused);
            std::filesystem::remove(link, unused);
        }
    });
    const FillReport report = fillArena(program.path(), QStringLiteral("rock.png"));
    done = true;
    otherRuns.join();
    EXPECT_FALSE(report.failed()) << report.failure.toStdString();
    EXPECT_EQ(report.staged.size(), 2);
}

TEST_F(StagingTest, AUsersStagingTreeMustBeTheirOwnAndFreeOfLinks) {
    QString error;
    EXPECT_TRUE(checkStagingTree(program.path(), error)) << "no tree yet";
    makeTree();
    EXPECT_TRUE(checkStagingTree(program.path(), error)) << error.toStdString();
    QDir(paths.scenery).removeRecursively();
    ASSERT_TRUE(QFile::link(game.path(), paths.scenery));
    EXPECT_FALSE(checkStagingTree(program.path(), error));
    EXPECT_TRUE(error.contains(QStringLiteral("Scenery-gfx is a link"))) << error.toStdString();
    // The clean-up removes the link itself and leaves what it pointed to.
    gameFile(QStringLiteral("precious.txt"));
    ASSERT_TRUE(buildCleanup(program.path(), ArchiveFormat::Zip, QString(), error));
    EXPECT_TRUE(QFileInfo::exists(game.path() + QStringLiteral("/precious.txt")));
    EXPECT_FALSE(QFileInfo(paths.scenery).isSymLink());
}

// A run waits for the folder up to its limit: it gives up no sooner, and takes a folder let go
// of meanwhile.
TEST_F(StagingTest, OneRunAtATimeHoldsAStagingFolder) {
    StagingLock first;
    StagingLock second;
    QString error;
    ASSERT_TRUE(first.lock(program.path(), 0, error)) << error.toStdString();
    QElapsedTimer waited;
    waited.start();
    EXPECT_FALSE(second.lock(program.path(), 300, error));
    EXPECT_GE(waited.elapsed(), 300);
    EXPECT_EQ(error, QStringLiteral("staging folder in use by process %1")
                         .arg(QCoreApplication::applicationPid()));
    std::thread holder([&first] {
        QThread::msleep(100);
        first.unlock();
    });
    EXPECT_TRUE(second.lock(program.path(), 60000, error)) << error.toStdString();
    holder.join();
}

// What runs that are gone left is removed, and only that: our folders under the temporary
// folder, and our unfinished archives beside a target, whose locks nobody holds.
// Folders made while other runs clean up: none is taken from its run.
TEST_F(StagingTest, AFolderMadeDuringACleanUpStaysItsRuns) {
    const QByteArray temp = qgetenv("TMPDIR");
    qputenv("TMPDIR", game.path().toLocal8Bit());
    std::atomic<bool> done = false;
    std::thread cleaner([&done] {
        while (!done)
            PrivateStagingFolder::removeAbandoned({QStringLiteral("run")});
    });
    std::vector<std::unique_ptr<PrivateStagingFolder>> folders;
    for (int i = 0; i < 300; ++i)
        folders.push_back(std::make_unique<PrivateStagingFolder>(QStringLiteral("run")));
    done = true;
    cleaner.join();
    qputenv("TMPDIR", temp);
    for (const auto &folder : folders)
        ASSERT_TRUE(folder->isValid() && QFileInfo::exists(folder->path()))
            << folder->path().toStdString() << folder->errorString().toStdString();
}

TEST_F(StagingTest, OnlyWhatRunsThatAreGoneLeftIsRemoved) {
    const QByteArray temp = qgetenv("TMPDIR");
    qputenv("TMPDIR", game.path().toLocal8Bit());
    PrivateStagingFolder live(QStringLiteral("run"));
    ASSERT_TRUE(live.isValid()) << live.errorString().toStdString();
    // A run killed while starting leaves an empty folder, or one with an empty lock file.
    const struct {
        const char *folder;
        const char *lock; // its content; null: no lock file
        bool alone;       // nothing else in the folder
        bool removed;
    } cases[] = {{"run-AbCdEf", "123\n", false, true},
                 {"run-my-notes", "123\n", true, false},
                 {"run-backup", "", false, false},
                 {"run-Starts", "", true, true},
                 {"run-GhIjKl", nullptr, false, false},
                 {"run-Begins", nullptr, true, true},
                 {"other-MnOpQr", "123\n", true, false},
                 {"mapzip-pack-StUvWx", "123\n", true, true}, // the window's and mapzip's alike
                 {"velquarindostrammelfenboriax-YzAbCd", "123\n", true, true}};
    for (const auto &c : cases) {
        const QString folder = game.path() + QLatin1Char('/') + QLatin1String(c.folder);
        if (c.lock)
            writeBytes(folder + QStringLiteral("/private-staging.lock"), c.lock);
        if (!c.alone)
            writeBytes(folder + QStringLiteral("/notes.txt"), "mine");
        QDir().mkpath(folder);
        // Old enough for any clean-up that goes by age.
        std::filesystem::last_write_time(folder.toStdString(),
                                         std::filesystem::file_time_type::clock::now() -
                                             std::chrono::minutes(10));
    }
    ASSERT_TRUE(QFile::link(game.path() + QStringLiteral("/other-MnOpQr"),
                            game.path() + QStringLiteral("/run-LnKaaa")));
    PrivateStagingFolder::removeAbandoned({QStringLiteral("run")});
    PrivateStagingFolder::removeAbandoned();
    qputenv("TMPDIR", temp);
    for (const auto &c : cases)
        EXPECT_EQ(QFileInfo::exists(game.path() + QLatin1Char('/') + QLatin1String(c.folder)),
                  !c.removed)
            << c.folder;
    EXPECT_TRUE(QFileInfo::exists(live.path()));
    EXPECT_TRUE(QFileInfo(game.path() + QStringLiteral("/run-LnKaaa")).isSymLink());

    // Beside a target: an unfinished archive of a run that is gone goes; one still held, one
    // of another name and a link stay.
    const QString staged = gameFile(QStringLiteral("staged.zip"), "new");
    const QString folder = program.path();
    const QStringList kept = {
        QStringLiteral(".a.zip.mapzip-part-0123abcd"), QStringLiteral(".c.zip.part-01234567"),
        QStringLiteral("c.mapzip-part-01234567"), QStringLiteral(".d.zip.mapzip-part-aaaaaaaa")};
    writeBytes(folder + QStringLiteral("/.b.zip.mapzip-part-89abcdef"), "gone");
    for (const QString &name : kept.mid(0, 3))
        writeBytes(folder + QLatin1Char('/') + name, "kept");
    ASSERT_TRUE(QFile::link(staged, folder + QLatin1Char('/') + kept[3]));
    QFile held(folder + QLatin1Char('/') + kept[0]);
    ASSERT_TRUE(held.open(QIODevice::ReadOnly) && platform::lockFile(held, 0));
    QByteArray sha1;
    QString error;
    ASSERT_TRUE(deliverArchive(staged, folder + QStringLiteral("/out.zip"), sha1, error))
        << error.toStdString();
    QStringList expected = kept;
    expected << QStringLiteral("out.zip");
    expected.sort();
    EXPECT_EQ(filesIn(folder), expected);
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

namespace {
// A file system of `kilobytes` that is full long before the test is done with it: a tmpfs
// mounted for the test (the superuser's right; CI runs as root).
class SmallDisk {
public:
    explicit SmallDisk(int kilobytes) {
        m_mounted =
            QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=%1k").arg(kilobytes), QStringLiteral("tmpfs"),
                               m_dir.path()}) == 0;
    }
    ~SmallDisk() {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_dir.path()});
    }
    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};
} // namespace

TEST_F(StagingTest, AFullDiskIsNamedAsTheCauseAndLeavesNothingBehind) {
    SmallDisk disk(256);
    if (!disk.mounted())
        GTEST_SKIP() << "mounting a small file system needs the superuser";
    const QByteArray big(400 * 1024, 'x');
    gameFile(QStringLiteral("maps/Arena.pms"), "map");
    gameFile(QStringLiteral("scenery-gfx/big.png"), big);
    QString error;
    ASSERT_TRUE(buildCleanup(disk.path(), ArchiveFormat::Zip, QString(), error));
    const FillReport report = fillArena(disk.path(), QStringLiteral("big.png"));
    EXPECT_TRUE(report.leftOut.isEmpty()) << "a full disk is no gap";
    EXPECT_EQ(report.failedFile, game.path() + QStringLiteral("/scenery-gfx/big.png"));
    EXPECT_TRUE(report.failure.startsWith(QStringLiteral("No space left on device")))
        << report.failure.toStdString();
    EXPECT_TRUE(filesIn(StagingPaths::under(disk.path()).scenery).isEmpty());

    // Delivery onto the full disk: the cause named, the earlier file kept, no leftovers.
    const QString staged = gameFile(QStringLiteral("staged.zip"), big);
    const QString target = disk.path() + QStringLiteral("/out.zip");
    writeBytes(target, "earlier");
    QByteArray sha1;
    EXPECT_FALSE(deliverArchive(staged, target, sha1, error));
    EXPECT_EQ(error, QStringLiteral("No space left on device"));
    EXPECT_EQ(filesIn(disk.path()), QStringList{QStringLiteral("out.zip")});
    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("earlier"));
}
