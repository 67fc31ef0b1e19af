// The archive engine through its C entry points. Every archive it writes is checked with
// Python's zipfile and unzip -t, never with libzip.
#include "zip32.h"

#include "support/PlainUser.h"
#include "support/TestSupport.h"
#include "support/ZipVerify.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the callbacks heard and what they answer.
struct Host {
    std::string printed;
    std::optional<std::string> password; // nullopt: the password callback declines
    std::string passwordPrompt, passwordName;
    int32_t passwordSize = 0;
    std::string comment;
    std::vector<std::pair<std::string, int32_t>> serviced; // calls that name a file
    std::vector<int32_t> progress;                         // calls without a name
    std::vector<std::string> events;                       // "file NAME" and "line TEXT", in order
    std::function<int(const std::string &)> onService;
    std::function<int(int32_t)> onProgress;
    std::function<void()> onCommentAsked; // runs after the last file was accepted
};
Host *host = nullptr;

int ZIP32_CALL onPrint(const char *text, uint32_t length) {
    host->printed.append(text, length);
    host->events.push_back("line " + std::string(text, length));
    return 0;
}

int ZIP32_CALL onComment(char *buffer) {
    if (host->onCommentAsked)
        host->onCommentAsked();
    const std::size_t count = std::min<std::size_t>(host->comment.size(), 4096);
    std::copy_n(host->comment.data(), count, buffer);
    buffer[count] = '\0';
    return 1; // the program answers 1 whatever happens
}

int ZIP32_CALL onPassword(char *buffer, int32_t size, const char *prompt, const char *name) {
    host->passwordPrompt = prompt ? prompt : "";
    host->passwordName = name ? name : "";
    host->passwordSize = size;
    if (!host->password)
        return 1;
    std::copy(host->password->begin(), host->password->end(), buffer);
    return 0;
}

int ZIP32_CALL onService(const char *name, int32_t size) {
    if (!name) {
        host->progress.push_back(size);
        return host->onProgress ? host->onProgress(size) : 0;
    }
    host->serviced.emplace_back(name, size);
    host->events.push_back(std::string("file ") + name);
    return host->onService ? host->onService(name) : 0;
}

quint32 crc32Of(const QByteArray &data) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : data) {
        crc ^= static_cast<unsigned char>(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray compressible(int lines) {
    QByteArray text;
    for (int i = 0; i < lines; ++i)
        text += "polygon " + QByteArray::number(i % 17) + " scenery tree.bmp at 100 200\n";
    return text;
}

QByteArray incompressible(int size) {
    QByteArray data(size, '\0');
    QRandomGenerator generator(42);
    for (char &byte : data)
        byte = static_cast<char>(generator.generate() & 0xFF);
    return data;
}

// Bytes of very unequal frequencies: deflate gives the rarest codes longer than ten bits.
QByteArray skewed(int size) {
    QByteArray data(size, '\0');
    QRandomGenerator generator(7);
    for (char &byte : data)
        byte = static_cast<char>(std::countr_zero(generator.generate() | 0x80000000u) * 7);
    return data;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = &m_host;
        ASSERT_TRUE(m_dir.isValid());
        m_root = m_dir.filePath("TEMP");
        ASSERT_TRUE(QDir().mkpath(m_root));
        m_rootText = QFile::encodeName(m_root).toStdString();
        m_callbacks = {onPrint, onComment, onPassword, onService};
        m_options = {};
        m_options.RootFolder = m_rootText.c_str();
        m_options.RecurseFlag = 1;
        m_options.LevelChar = '9';
        m_extras = {};
        m_extras.Threads = 3; // more workers than cores: the parallel path even on one core
    }
    void TearDown() override { host = nullptr; }

    // A small staged map: text that deflates well, an image that does not, an empty file.
    void stageMap() {
        write("Maps/ctf_Run.pms", compressible(400));
        write("Maps/ctf_Run_ReadMe.txt", "Map: ctf_Run\r\nAuthor: someone\r\n");
        write("Scenery-gfx/tree.bmp", compressible(50));
        write("Textures/rock.png", incompressible(3000));
        write("Textures/empty.png", "");
        write("Scenery-gfx/LICENSE", "no dot in this name");
        write("notes.txt", "top level file\n");
    }

    QString path(const QString &relative) const { return m_root + '/' + relative; }

    void write(const QString &relative, const QByteArray &data) {
        const QString file = path(relative);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(out.write(data), data.size());
    }

    QByteArray read(const QString &relative) const {
        QFile in(path(relative));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

    void setModified(const QString &relative, const QDateTime &when) {
        QFile file(path(relative));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    }

    int run(const char *archiveName = "Arena.zip", std::vector<const char *> specs = {"*.*"}) {
        m_host.printed.clear();
        m_host.serviced.clear();
        m_host.progress.clear();
        m_host.events.clear();
        ZipFileSpecs fileSpecs{};
        for (std::size_t i = 0; i < specs.size(); ++i)
            fileSpecs.Spec[i] = specs[i];
        EXPECT_NE(ZpInit(&m_callbacks), 0);
        EXPECT_NE(ZpSetOptions(&m_options), 0);
        EXPECT_NE(ZpSetExtras(&m_extras), 0);
        return ZpArchive(static_cast<int32_t>(specs.size()), archiveName, &fileSpecs);
    }

    // Every file anywhere under `folder`, relative, sorted.
    static QStringList filesUnder(const QString &folder) {
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(folder).relativeFilePath(it.next());
        files.sort();
        return files;
    }

    // A failed run: nothing new in the folder, the earlier archive byte for byte as before.
    void expectNothingWritten(const QStringList &filesBefore, const QByteArray &archiveBefore,
                              const QString &folder = {}) {
        const QString where = folder.isEmpty() ? m_root : folder;
        EXPECT_EQ(filesUnder(where), filesBefore);
        QFile archive(where + "/Arena.zip");
        if (archiveBefore.isNull()) {
            EXPECT_FALSE(archive.exists());
        } else {
            ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
            EXPECT_EQ(archive.readAll(), archiveBefore);
        }
    }

    void expectEntryMatchesFile(const ArchiveListing &listing, const QString &name,
                                const QString &relative) {
        const ArchiveEntry *entry = listing.find(name);
        ASSERT_NE(entry, nullptr) << name.toStdString();
        const QByteArray data = read(relative);
        EXPECT_EQ(entry->size, data.size()) << name.toStdString();
        EXPECT_EQ(entry->crc, crc32Of(data)) << name.toStdString();
    }

    QTemporaryDir m_dir;
    QString m_root;
    std::string m_rootText;
    Host m_host;
    ZipCallbacks m_callbacks{};
    ZipOptions m_options{};
    ZipExtras m_extras{};
};

const QStringList AllStaged{"Maps/ctf_Run.pms",
                            "Maps/ctf_Run_ReadMe.txt",
                            "Scenery-gfx/LICENSE",
                            "Scenery-gfx/tree.bmp",
                            "Textures/empty.png",
                            "Textures/rock.png",
                            "notes.txt"};

TEST_F(EngineTest, EachLevelWritesEveryFileWithItsSizeCrcAndMethod) {
    stageMap();
    qint64 levelOneMapSize = 0;
    for (const char level : std::string("0123456789")) {
        SCOPED_TRACE(std::string("level ") + level);
        m_options.LevelChar = level;
        ASSERT_EQ(run(), ZE_OK) << m_host.printed;

        const ArchiveListing listing = readArchive(path("Arena.zip"));
        ASSERT_TRUE(listing.ok) << listing.error.toStdString();
        EXPECT_EQ(listing.names(), AllStaged); // in the byte order of their names
        for (const QString &file : AllStaged)
            expectEntryMatchesFile(listing, file, file);

        const ArchiveEntry *map = listing.find("Maps/ctf_Run.pms");
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->compressType, level == '0' ? 0 : 8);
        if (level == '1')
            levelOneMapSize = map->compressedSize;
        if (level > '1') {
            EXPECT_LE(map->compressedSize, levelOneMapSize);
        }
        if (level > '0') {
            EXPECT_LT(map->compressedSize, map->size / 4);
        }
        // Deflating would make these bigger: random bytes, a tiny text, nothing at all.
        for (const char *stored : {"Textures/rock.png", "notes.txt", "Textures/empty.png"}) {
            EXPECT_EQ(listing.find(stored)->compressType, 0) << stored;
            EXPECT_NE(m_host.printed.find(std::string("Added ") + stored + " (stored 0%).\n"),
                      std::string::npos)
                << m_host.printed;
        }
        EXPECT_EQ(m_host.printed.find("deflated -"), std::string::npos) << m_host.printed;
        QString unzipOutput;
        EXPECT_TRUE(unzipTest(path("Arena.zip"), {}, &unzipOutput)) << unzipOutput.toStdString();
    }
}

TEST_F(EngineTest, ServiceCallsAndLinesFollowTheFilesAsTheyAreWritten) {
    stageMap();
    // A slow host: it hears of the progress each time it is asked about a file.
    m_host.onService = [](const std::string &) {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        return 0;
    };
    ASSERT_EQ(run(), ZE_OK);
    // Per file: its service call, then its line, before the next file is named.
    std::vector<std::string> expected;
    for (const QString &name : AllStaged) {
        const std::string file = name.toStdString();
        expected.push_back("file " + file);
        const auto line = std::find_if(m_host.events.begin(), m_host.events.end(),
                                       [&file](const std::string &event) {
                                           return event.rfind("line Added " + file + " (", 0) == 0;
                                       });
        ASSERT_NE(line, m_host.events.end()) << file << "\n" << m_host.printed;
        expected.push_back(*line);
    }
    EXPECT_EQ(m_host.events, expected);
    EXPECT_EQ(m_host.serviced.front().second, read("Maps/ctf_Run.pms").size());

    // Progress in thousandths, never going back, closing with one 1000.
    ASSERT_FALSE(m_host.progress.empty());
    EXPECT_TRUE(std::is_sorted(m_host.progress.begin(), m_host.progress.end()));
    EXPECT_GE(m_host.progress.front(), 0);
    EXPECT_EQ(m_host.progress.back(), 1000);
    EXPECT_EQ(std::count(m_host.progress.begin(), m_host.progress.end(), 1000), 1);
    // The map is most of the data: once it is written, more than half is done.
    ASSERT_GE(m_host.progress.size(), 3u);
    EXPECT_GT(m_host.progress.end()[-2], 500);
}

TEST_F(EngineTest, BigFilesAreStreamedAndStoredWhenDeflatingDoesNotHelp) {
    // Files too big to hold in memory take their own way through the engine.
    write("Maps/big.pms", compressible(120000));
    write("Textures/big.png", incompressible(5 << 20));
    write("Textures/last.txt", "x");
    for (const char level : {'0', '6'}) {
        SCOPED_TRACE(std::string("level ") + level);
        m_options.LevelChar = level;
        m_options.EncryptFlag = level == '6';
        m_host.password = "s3cret";
        // Once a big file is written, nothing holds it open: a run of many would run out of
        // handles.
        int handlesLeft = -1;
        m_host.onService = [&](const std::string &name) {
            if (name == "Textures/last.txt")
                handlesLeft = openHandlesOn(path("Textures/big.png"));
            return 0;
        };
        ASSERT_EQ(run(), ZE_OK) << m_host.printed;
        EXPECT_EQ(handlesLeft, 0);
        const ArchiveListing listing = readArchive(path("Arena.zip"));
        ASSERT_TRUE(listing.ok) << listing.error.toStdString();
        expectEntryMatchesFile(listing, "Maps/big.pms", "Maps/big.pms");
        expectEntryMatchesFile(listing, "Textures/big.png", "Textures/big.png");
        EXPECT_EQ(listing.find("Maps/big.pms")->compressType, level == '0' ? 0 : 8);
        EXPECT_EQ(listing.find("Textures/big.png")->compressType, 0);
        EXPECT_NE(m_host.printed.find("Added Textures/big.png (stored 0%).\n"), std::string::npos)
            << m_host.printed;
        // unzip checks every checksum; Python would take long to decrypt this much.
        QString output;
        EXPECT_TRUE(unzipTest(path("Arena.zip"), level == '6' ? "s3cret" : "", &output))
            << output.toStdString();
    }
}

TEST_F(EngineTest, BigFilesDeflatedInBlocksJoinIntoOneStreamOnAnyNumberOfWorkers) {
    // Over the held size, and judged by their first blocks: text, text that turns to noise
    // (deflated), noise that turns to text (stored). Among them one held whole that alone takes
    // more memory than six workers may hold ahead of the writer. At the held size exactly, a
    // file is still held, and judged whole: noise that turns to text is deflated.
    struct Shape {
        const char *name;
        QByteArray data;
        int method;
    };
    const QByteArray noiseFirst = incompressible(3 << 20) + compressible(60000);
    const Shape shapes[] = {
        {"Maps/big.pms", compressible(150000), 8},
        {"Scenery-gfx/text-first.bmp", compressible(60000) + incompressible(3 << 20), 8},
        {"Scenery-gfx/noise-first.bmp", noiseFirst, 0},
        {"Scenery-gfx/held.bmp", compressible(92000), 8},                        // 3.4 MiB
        {"Scenery-gfx/whole-blocks.bmp", compressible(150000).left(9 << 19), 8}, // empty last
        {"Scenery-gfx/skewed.bmp", skewed((4 << 20) + 99), 8},
        {"Scenery-gfx/held-at-the-limit.bmp", noiseFirst.left(4 << 20), 8},
        {"Scenery-gfx/just-over.bmp", noiseFirst.left((4 << 20) + 1), 0},
    };
    for (const Shape &shape : shapes)
        write(shape.name, shape.data);
    m_extras.EntryTime =
        static_cast<uint32_t>(QDateTime(QDate(2022, 3, 4), QTime(5, 6, 8)).toSecsSinceEpoch());
    QByteArray first;
    for (const int threads : {1, 2, 6}) {
        SCOPED_TRACE(threads);
        m_extras.Threads = threads;
        ASSERT_EQ(run(), ZE_OK) << m_host.printed;
        const ArchiveListing listing = readArchive(path("Arena.zip"));
        ASSERT_TRUE(listing.ok) << listing.error.toStdString();
        for (const Shape &shape : shapes) {
            expectEntryMatchesFile(listing, shape.name, shape.name);
            const ArchiveEntry *entry = listing.find(shape.name);
            EXPECT_EQ(entry->compressType, shape.method) << shape.name;
            EXPECT_LE(entry->compressedSize, entry->size + entry->size / 1000) << shape.name;
        }
        EXPECT_EQ(readEntry(path("Arena.zip"), "Maps/big.pms"), shapes[0].data);
        QString output;
        EXPECT_TRUE(unzipTest(path("Arena.zip"), {}, &output)) << output.toStdString();
        // The blocks do not depend on who deflated them.
        if (first.isEmpty())
            first = read("Arena.zip");
        EXPECT_EQ(read("Arena.zip"), first);
    }
}

TEST_F(EngineTest, RecurseAndFileSpecsChooseTheFiles) {
    stageMap();
    m_options.RecurseFlag = 0;
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(readArchive(path("Arena.zip")).names(), QStringList{"notes.txt"});

    // Wildcards ignore letter case; a pattern with a folder is matched against the path.
    m_options.RecurseFlag = 1;
    ASSERT_EQ(run("Some.zip", {"*.PMS", "TREE.???", "Textures/r*", "lic*"}), ZE_OK);
    ArchiveListing listing = readArchive(path("Some.zip"));
    ASSERT_TRUE(listing.ok);
    EXPECT_EQ(listing.names(), (QStringList{"Maps/ctf_Run.pms", "Scenery-gfx/LICENSE",
                                            "Scenery-gfx/tree.bmp", "Textures/rock.png"}));

    // Only the root folder without recursion: nothing matches.
    m_options.RecurseFlag = 0;
    EXPECT_EQ(run("None.zip", {"*.pms"}), ZE_NONE);
    EXPECT_FALSE(QFile::exists(path("None.zip")));
    EXPECT_NE(m_host.printed.find("Nothing to pack: no file in "), std::string::npos)
        << m_host.printed;
}

TEST_F(EngineTest, FreshWriteReplacesTheOldArchiveAndNeverPacksItself) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    write("Other.zip", "an archive of another map");
    write("Arena.zip.a1B2c3", "what a failed run of libzip may leave behind");
    write("Arena.zip.0badf00d", "what a killed run of ours may leave behind");
    write("Arena.zip.0badf00g", "a file of the user's");
    write("Maps/Arena.zip", "an archive of the same name in a folder is just a file");
    QFile::remove(path("notes.txt"));
    ASSERT_EQ(run(), ZE_OK);

    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    QStringList expected = AllStaged;
    expected.removeAll("notes.txt"); // nothing survives from the old archive
    expected << "Maps/Arena.zip"
             << "Other.zip"
             << "Arena.zip.0badf00g";
    expected.sort();
    EXPECT_EQ(listing.names(), expected);
    expected << "Arena.zip"
             << "Arena.zip.a1B2c3"
             << "Arena.zip.0badf00d";
    expected.sort();
    EXPECT_EQ(filesUnder(m_root), expected); // no temporary file of ours left
}

TEST_F(EngineTest, JunkPathsDropFoldersAndRefuseRepeatedNames) {
    stageMap();
    m_options.JunkPathsFlag = 1;
    ASSERT_EQ(run(), ZE_OK) << m_host.printed;
    ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    QStringList names = listing.names();
    names.sort();
    EXPECT_EQ(names, (QStringList{"LICENSE", "ctf_Run.pms", "ctf_Run_ReadMe.txt", "empty.png",
                                  "notes.txt", "rock.png", "tree.bmp"}));
    expectEntryMatchesFile(listing, "rock.png", "Textures/rock.png");

    const QByteArray before = read("Arena.zip");
    write("Scenery-gfx/ROCK.png", "same name as the texture, other case");
    const QStringList files = filesUnder(m_root);
    EXPECT_EQ(run(), ZE_DUPNAME);
    expectNothingWritten(files, before);
    EXPECT_NE(m_host.printed.find("Scenery-gfx/ROCK.png and Textures/rock.png would both be "
                                  "stored as rock.png."),
              std::string::npos)
        << m_host.printed;
    EXPECT_TRUE(m_host.serviced.empty());
}

class UpdateTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        stage({});
    }

    // An archive of three files, all two days old, locked with `password` when given; then one
    // made newer, one new, one gone.
    void stage(const std::optional<std::string> &password) {
        ASSERT_TRUE(QDir(m_root).removeRecursively() && QDir().mkpath(m_root));
        m_old = QDateTime::currentDateTime().addDays(-2);
        m_old = m_old.addSecs(-(m_old.time().second() % 2)); // on a two-second step
        write("Maps/a.pms", compressible(30));
        write("Maps/b.pms", compressible(40));
        write("Maps/gone.pms", compressible(10));
        for (const char *name : {"Maps/a.pms", "Maps/b.pms", "Maps/gone.pms"})
            setModified(name, m_old);
        m_options.EncryptFlag = password.has_value();
        m_options.UpdateFlag = m_options.FreshenFlag = 0;
        m_host.password = password;
        ASSERT_EQ(run(), ZE_OK);
        m_options.EncryptFlag = 0;
        m_host.password.reset();
        m_oldA = read("Maps/a.pms");

        write("Maps/a.pms", "changed, but only one second later: same two-second step");
        setModified("Maps/a.pms", m_old.addSecs(1));
        write("Maps/b.pms", compressible(45)); // deflated again, like the entry it replaces
        setModified("Maps/b.pms", m_old.addDays(1));
        write("Maps/new.pms", "a new map");
        QFile::remove(path("Maps/gone.pms"));
    }

    QDateTime m_old;
    QByteArray m_oldA;
};

TEST_F(UpdateTest, UpdateAddsNewFilesAndReplacesNewerOnes) {
    m_options.UpdateFlag = 1;
    ASSERT_EQ(run(), ZE_OK) << m_host.printed;
    EXPECT_NE(m_host.printed.find("Updated Maps/b.pms ("), std::string::npos) << m_host.printed;
    EXPECT_NE(m_host.printed.find("Added Maps/new.pms ("), std::string::npos);
    EXPECT_EQ(m_host.printed.find("Maps/a.pms"), std::string::npos);
    EXPECT_EQ(m_host.serviced.size(), 2u);

    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    // Kept and replaced entries stay where they were; new ones follow.
    EXPECT_EQ(listing.names(),
              (QStringList{"Maps/a.pms", "Maps/b.pms", "Maps/gone.pms", "Maps/new.pms"}));
    EXPECT_EQ(listing.find("Maps/a.pms")->crc, crc32Of(m_oldA)); // kept, not newer
    expectEntryMatchesFile(listing, "Maps/b.pms", "Maps/b.pms");
    expectEntryMatchesFile(listing, "Maps/new.pms", "Maps/new.pms");
    QString output;
    EXPECT_TRUE(unzipTest(path("Arena.zip"), {}, &output)) << output.toStdString();

    // Everything is now up to date: nothing to do, and the archive stays as it is.
    const QByteArray updated = read("Arena.zip");
    const QStringList files = filesUnder(m_root);
    EXPECT_EQ(run(), ZE_NONE);
    expectNothingWritten(files, updated);
}

TEST_F(UpdateTest, FreshenReplacesOnlyEntriesTheArchiveHas) {
    m_options.FreshenFlag = 1;
    ASSERT_EQ(run(), ZE_OK) << m_host.printed;
    EXPECT_NE(m_host.printed.find("Freshened Maps/b.pms ("), std::string::npos);
    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    EXPECT_EQ(listing.names(), (QStringList{"Maps/a.pms", "Maps/b.pms", "Maps/gone.pms"}));
    expectEntryMatchesFile(listing, "Maps/b.pms", "Maps/b.pms");
    EXPECT_EQ(listing.find("Maps/a.pms")->crc, crc32Of(m_oldA));
}

TEST_F(UpdateTest, KeptEntriesTakeThePasswordOfTheRunOrStayAsTheyWere) {
    struct Case {
        const char *what;
        std::optional<std::string> before, now; // passwords of the earlier run and of this one
        bool freshen;
        int result;
    };
    const Case cases[] = {
        {"plain archive, update with a password", {}, "new", false, ZE_OK},
        {"plain archive, freshen with a password", {}, "new", true, ZE_OK},
        {"locked archive, update with its password", "old", "old", false, ZE_OK},
        {"locked archive, update without a password", "old", {}, false, ZE_OK},
        {"locked archive, freshen without a password", "old", {}, true, ZE_OK},
        {"locked archive, update with another password", "old", "new", false, ZE_READ},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        stage(c.before);
        const QByteArray beforeBytes = read("Arena.zip");
        const ArchiveListing before = readArchive(path("Arena.zip"));
        const QStringList files = filesUnder(m_root);
        m_options.UpdateFlag = !c.freshen;
        m_options.FreshenFlag = c.freshen;
        m_options.EncryptFlag = c.now.has_value();
        m_host.password = c.now;
        ASSERT_EQ(run(), c.result) << m_host.printed;
        if (c.result != ZE_OK) {
            expectNothingWritten(files, beforeBytes);
            EXPECT_NE(m_host.printed.find("Could not encrypt Maps/a.pms of Arena.zip"),
                      std::string::npos)
                << m_host.printed;
            continue;
        }
        // One password opens every locked entry: this run's, or else the earlier one's.
        const QByteArray password = QByteArray::fromStdString(c.now.value_or(*c.before));
        const ArchiveListing after = readArchive(path("Arena.zip"), password);
        ASSERT_TRUE(after.ok && after.dataChecked) << after.error.toStdString();
        EXPECT_EQ(after.entries.size(), c.freshen ? 3 : 4);
        for (const ArchiveEntry &entry : after.entries) {
            SCOPED_TRACE(entry.name.toStdString());
            const ArchiveEntry *old = before.find(entry.name);
            if (c.now) {
                EXPECT_TRUE(entry.encrypted);
            } else if (old && entry.name != "Maps/b.pms") { // kept byte for byte
                EXPECT_TRUE(entry.encrypted);
                EXPECT_EQ(entry.compressedSize, old->compressedSize);
                EXPECT_EQ(entry.crc, old->crc);
            } else {
                EXPECT_FALSE(entry.encrypted);
            }
        }
        QString output;
        EXPECT_TRUE(unzipTest(path("Arena.zip"), password, &output)) << output.toStdString();
    }
}

TEST_F(EngineTest, UpdateWithoutArchiveWritesOneAndFreshenHasNothingToDo) {
    stageMap();
    m_options.FreshenFlag = 1;
    EXPECT_EQ(run(), ZE_NONE);
    EXPECT_FALSE(QFile::exists(path("Arena.zip")));

    m_options.FreshenFlag = 0;
    m_options.UpdateFlag = 1;
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(readArchive(path("Arena.zip")).names().size(), AllStaged.size());
}

TEST_F(EngineTest, UpdateOfADamagedArchiveLeavesIt) {
    stageMap();
    write("Arena.zip", "PK\x03\x04 this is not really an archive");
    const QByteArray before = read("Arena.zip");
    const QStringList files = filesUnder(m_root);
    m_options.UpdateFlag = 1;
    EXPECT_EQ(run(), ZE_FORM);
    expectNothingWritten(files, before);
}

TEST_F(EngineTest, CommentIsStoredFromTheCallback) {
    stageMap();
    m_options.CommentFlag = 1;
    m_host.comment = "Authors Comments: my map\r\n\r\n------\r\nMap: ctf_Run\r\n";
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(readArchive(path("Arena.zip")).comment, QByteArray::fromStdString(m_host.comment));

    // The code page's bytes are stored as they came, as the readme holds them, up to a full
    // buffer: 4096 characters and the zero byte.
    for (const std::string &comment :
         {std::string("f\xfcr \x80"), std::string(4095, 'c') + "\xfc"}) {
        m_host.comment = comment;
        ASSERT_EQ(run(), ZE_OK);
        EXPECT_EQ(readArchive(path("Arena.zip")).comment, QByteArray::fromStdString(comment));
        EXPECT_TRUE(unzipTest(path("Arena.zip")));
    }

    m_options.CommentFlag = 0;
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_TRUE(readArchive(path("Arena.zip")).comment.isEmpty());
}

TEST_F(EngineTest, PasswordEncryptsEveryEntry) {
    stageMap();
    m_options.EncryptFlag = 1;
    m_host.password = "s3cret";
    ASSERT_EQ(run(), ZE_OK) << m_host.printed;
    EXPECT_EQ(m_host.passwordPrompt, "Enter password: ");
    EXPECT_EQ(m_host.passwordName, "Arena.zip");
    EXPECT_EQ(m_host.passwordSize, ZIP32_PASSWORD_BUFFER);

    const QString archive = path("Arena.zip");
    const ArchiveListing listing = readArchive(archive, "s3cret");
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    EXPECT_TRUE(listing.dataChecked);
    for (const ArchiveEntry &entry : listing.entries)
        EXPECT_TRUE(entry.encrypted) << entry.name.toStdString();
    expectEntryMatchesFile(listing, "Maps/ctf_Run.pms", "Maps/ctf_Run.pms");
    EXPECT_FALSE(readArchive(archive, "wrong").ok);

    // Ratios leave out the 12 bytes that encryption puts in front of every entry's data.
    const ArchiveEntry *map = listing.find("Maps/ctf_Run.pms");
    const long long ratio =
        std::llround(100.0 * double(map->size - (map->compressedSize - 12)) / double(map->size));
    EXPECT_NE(
        m_host.printed.find("Added Maps/ctf_Run.pms (deflated " + std::to_string(ratio) + "%).\n"),
        std::string::npos)
        << m_host.printed;
    EXPECT_NE(m_host.printed.find("Added notes.txt (stored 0%).\n"), std::string::npos);

    QString output;
    EXPECT_TRUE(unzipTest(archive, "s3cret", &output)) << output.toStdString();
    EXPECT_FALSE(unzipTest(archive, "wrong", &output)) << output.toStdString();
    EXPECT_FALSE(unzipTest(archive, {}, &output)) << output.toStdString();
}

TEST_F(EngineTest, NoPasswordMeansNoArchive) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray before = read("Arena.zip");
    const QStringList files = filesUnder(m_root);
    m_options.EncryptFlag = 1;

    m_host.password.reset(); // the callback declines
    EXPECT_EQ(run(), ZE_NOPASSWORD);
    expectNothingWritten(files, before);

    m_host.password = ""; // the callback answers with nothing
    EXPECT_EQ(run(), ZE_NOPASSWORD);
    expectNothingWritten(files, before);

    m_host.password = std::string(ZIP32_PASSWORD_BUFFER, 'p'); // leaves no room for the zero
    EXPECT_EQ(run(), ZE_PARMS);
    expectNothingWritten(files, before);
}

TEST_F(EngineTest, CancelThroughTheServiceCallbackWritesNothing) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray before = read("Arena.zip");
    write("Maps/extra.txt", "one more");
    const QStringList files = filesUnder(m_root);
    struct Case {
        const char *what;
        std::function<int(const std::string &)> onService;
        std::function<int(int32_t)> onProgress;
    };
    const Case cases[] = {
        {"when a file is named",
         [](const std::string &name) { return name == "Maps/ctf_Run.pms" ? 1 : 0; }, nullptr},
        // A slow host: the run reports progress before it goes on with the next file.
        {"in a progress call while the archive is written",
         [](const std::string &) {
             std::this_thread::sleep_for(std::chrono::milliseconds(120));
             return 0;
         },
         [this](int32_t) { return m_host.serviced.empty() ? 0 : 1; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        m_host.onService = c.onService;
        m_host.onProgress = c.onProgress;
        EXPECT_EQ(run(), ZE_ABORT);
        expectNothingWritten(files, before);
        EXPECT_EQ(m_host.serviced.size(), 1u);
        EXPECT_NE(m_host.printed.find("Cancelled: Arena.zip was not written.\n"), std::string::npos)
            << m_host.printed;
    }
}

TEST_F(EngineTest, StopInsideABigFileEndsTheRunAtOnce) {
    // 64 GiB of nothing (a sparse file): a run that read on to its end would time out.
    write("Maps/small.pms", compressible(100));
    QFile huge(path("Scenery-gfx/huge.bmp"));
    QDir().mkpath(QFileInfo(huge).absolutePath());
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(64) << 30));
    huge.close();
    const QStringList files = filesUnder(m_root);
    struct Case {
        char level;
        bool encrypt;
    };
    for (const Case c : {Case{'9', false}, Case{'1', true}, Case{'0', true}}) {
        SCOPED_TRACE(std::string("level ") + c.level + (c.encrypt ? ", encrypted" : ""));
        m_options.LevelChar = c.level;
        m_options.EncryptFlag = c.encrypt;
        m_host.password = "s3cret";
        // Stopped once the data of the big file (the second) flows.
        m_host.onProgress = [this](int32_t) { return m_host.serviced.size() < 2 ? 0 : 1; };
        EXPECT_EQ(run(), ZE_ABORT) << m_host.printed;
        expectNothingWritten(files, QByteArray());
        EXPECT_EQ(m_host.serviced.back().first, "Scenery-gfx/huge.bmp");
    }
}

TEST_F(EngineTest, FileThatCannotBeReadFailsTheRun) {
    stageMap();
    write("Maps/big.pms", compressible(150000)); // deflated in blocks
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray before = read("Arena.zip");
    // After it was listed, before it is read, the file goes away or grows past what is held.
    const struct {
        QString name;
        qint64 grownTo; // -1: gone
        std::string cause;
    } cases[] = {{"Maps/ctf_Run_ReadMe.txt", -1, "no such file or directory"},
                 {"Maps/big.pms", -1, "no such file or directory"},
                 {"Maps/ctf_Run_ReadMe.txt", 5 << 20, "file too large"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QByteArray data = read(c.name);
        QStringList files = filesUnder(m_root);
        if (c.grownTo < 0)
            files.removeAll(c.name);
        m_options.CommentFlag = 1;
        m_host.onCommentAsked = [&] {
            c.grownTo < 0 ? QFile::remove(path(c.name)) : QFile::resize(path(c.name), c.grownTo);
        };
        EXPECT_EQ(run(), ZE_READ);
        expectNothingWritten(files, before);
        EXPECT_NE(
            m_host.printed.find("Could not read " + c.name.toStdString() + ": " + c.cause + ".\n"),
            std::string::npos)
            << m_host.printed;
        write(c.name, data);
    }
}

TEST_F(EngineTest, FileWithoutReadPermissionFailsTheRun) {
    if (rerunAsPlainUser())
        return;
    stageMap();
    QFile::setPermissions(path("notes.txt"), QFileDevice::Permissions{});
    ASSERT_FALSE(QFile(path("notes.txt")).open(QIODevice::ReadOnly));
    const QStringList files = filesUnder(m_root);
    EXPECT_EQ(run(), ZE_READ);
    expectNothingWritten(files, QByteArray());
    EXPECT_NE(m_host.printed.find("Could not read notes.txt: permission denied.\n"),
              std::string::npos)
        << m_host.printed;
}

TEST_F(EngineTest, RootFolderThatCannotBeWrittenFailsTheRun) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray before = read("Arena.zip");
    write("Maps/extra.txt", "one more");
    const QStringList files = filesUnder(m_root);

    // Once every file is accepted, the root folder turns into a file: the old archive moves
    // away with its folder and nothing can be created where the archive belongs.
    const QString moved = m_dir.filePath("moved");
    m_options.CommentFlag = 1;
    m_host.onCommentAsked = [this, moved] {
        EXPECT_TRUE(QDir().rename(m_root, moved));
        QFile blocker(m_root);
        EXPECT_TRUE(blocker.open(QIODevice::WriteOnly));
    };
    EXPECT_EQ(run(), ZE_CREAT) << m_host.printed;
    expectNothingWritten(files, before, moved);
    EXPECT_EQ(m_host.printed.rfind("Could not create Arena.zip in " + m_rootText + ": ", 0), 0u)
        << m_host.printed;
}

TEST_F(EngineTest, ReadOnlyRootFolderFailsTheRun) {
    if (rerunAsPlainUser())
        return;
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray before = read("Arena.zip");
    const QStringList files = filesUnder(m_root);
    const QFileDevice::Permissions writable = QFile::permissions(m_root);
    QFile::setPermissions(m_root, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    ASSERT_FALSE(QFile(path("probe")).open(QIODevice::WriteOnly));
    const int result = run();
    QFile::setPermissions(m_root, writable);
    EXPECT_EQ(result, ZE_CREAT);
    expectNothingWritten(files, before);
}

TEST_F(EngineTest, BadRequestsAreRefused) {
    stageMap();
    m_options.LevelChar = 'x';
    EXPECT_EQ(run(), ZE_PARMS);
    m_options.LevelChar = '9';

    ZipFileSpecs specs{};
    specs.Spec[0] = "*.*";
    EXPECT_EQ(ZpArchive(0, "Arena.zip", &specs), ZE_PARMS);
    EXPECT_EQ(ZpArchive(1, nullptr, &specs), ZE_PARMS);
    EXPECT_EQ(ZpArchive(1, "Arena.zip", nullptr), ZE_PARMS);
    EXPECT_EQ(ZpArchive(2, "Arena.zip", &specs), ZE_PARMS); // the second spec is null
    EXPECT_EQ(run("../Arena.zip"), ZE_PARMS);

    write("plain", "a file, not a folder");
    const std::string underFile = m_rootText + "/plain/TEMP";
    m_options.RootFolder = underFile.c_str();
    EXPECT_EQ(run(), ZE_PARMS);
    m_options.RootFolder = nullptr;
    EXPECT_EQ(run(), ZE_PARMS);
    m_options.RootFolder = m_rootText.c_str();
    m_extras.Threads = -1;
    EXPECT_EQ(run(), ZE_PARMS);
    m_extras.Threads = 0;
    EXPECT_FALSE(QFile::exists(path("Arena.zip")));

    // Options that are refused replace good ones: the next run has none.
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(ZpSetOptions(nullptr), 0);
    EXPECT_EQ(ZpArchive(1, "Again.zip", &specs), ZE_PARMS);
    EXPECT_FALSE(QFile::exists(path("Again.zip")));
}

TEST_F(EngineTest, WorksWithoutCallbacks) {
    stageMap();
    m_options.CommentFlag = 1;
    ZipFileSpecs specs{};
    specs.Spec[0] = "*.*";
    ASSERT_NE(ZpInit(nullptr), 0);
    ASSERT_NE(ZpSetOptions(&m_options), 0);
    ASSERT_EQ(ZpArchive(1, "Arena.zip", &specs), ZE_OK);
    EXPECT_TRUE(readArchive(path("Arena.zip")).ok);

    m_options.EncryptFlag = 1; // no password callback: never written unprotected
    ASSERT_NE(ZpSetOptions(&m_options), 0);
    EXPECT_EQ(ZpArchive(1, "Locked.zip", &specs), ZE_NOPASSWORD);
    EXPECT_FALSE(QFile::exists(path("Locked.zip")));
}

TEST_F(EngineTest, NamesOutsideAsciiWorkEverywhere) {
    // Folder, archive and files named in the file system's own encoding.
    m_root = m_dir.filePath(QStringLiteral("Карты"));
    ASSERT_TRUE(QDir().mkpath(m_root));
    m_rootText = QFile::encodeName(m_root).toStdString();
    m_options.RootFolder = m_rootText.c_str();
    const QStringList names{QStringLiteral("Maps/Карта.pms"),
                            QStringLiteral("Scenery-gfx/łąka.png"),
                            QStringLiteral("Textures/草地.png")};
    write(names[0], compressible(20));
    write(names[1], incompressible(500));
    write(names[2], "grass");
    const QString archive = QStringLiteral("Łąka ctf.zip");
    ASSERT_EQ(run(QFile::encodeName(archive).constData()), ZE_OK) << m_host.printed;

    // Python's zipfile reads a name as UTF-8 only when the entry carries the UTF-8 flag
    // (general purpose bit 11); without it these names would come out as code page 437.
    const ArchiveListing listing = readArchive(path(archive));
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    EXPECT_EQ(listing.names(), names);
    for (const QString &name : names)
        expectEntryMatchesFile(listing, name, name);
    QString output;
    EXPECT_TRUE(unzipTest(path(archive), {}, &output)) << output.toStdString();

    // The host hears them in Windows-1252, with '?' for what it lacks.
    std::vector<std::string> heard;
    for (const auto &[name, size] : m_host.serviced)
        heard.push_back(name);
    EXPECT_EQ(heard, (std::vector<std::string>{"Maps/?????.pms", "Scenery-gfx/??ka.png",
                                               "Textures/??.png"}));
}

TEST_F(EngineTest, EntryTimeMakesTheSameFilesTheSameArchive) {
    stageMap();
    const QDateTime when(QDate(2021, 6, 5), QTime(14, 30, 8)); // local time, an even second
    m_extras.EntryTime = static_cast<uint32_t>(when.toSecsSinceEpoch());
    m_extras.Threads = 1;
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray first = read("Arena.zip");

    // Other file times, another mode on disk, more workers: still the same bytes.
    setModified("notes.txt", QDateTime::currentDateTime().addDays(-9));
    QFile::setPermissions(path("Maps/ctf_Run.pms"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    m_extras.Threads = 0;
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(read("Arena.zip"), first);
    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    for (const ArchiveEntry &entry : listing.entries) {
        EXPECT_EQ(entry.dateTime, (QList<int>{2021, 6, 5, 14, 30, 8})) << entry.name.toStdString();
        EXPECT_EQ(entry.mode, 0100644) << entry.name.toStdString();
    }
}

TEST(EngineStartTest, ArchiveBeforeInitIsRefused) {
    // In a fresh process, so that no earlier test has initialised the engine.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ZipFileSpecs specs{};
            specs.Spec[0] = "*.*";
            std::exit(ZpArchive(1, "Arena.zip", &specs));
        },
        ::testing::ExitedWithCode(ZE_PARMS), "");
}

} // namespace
