// The archive engine through its C entry points. Every archive it writes is checked with
// Python's zipfile and unzip -t, never with libzip.
#include "zip32.h"

#include "support/PlainUser.h"
#include "support/ZipVerify.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

// What the callbacks heard and what they answer.
struct Host {
    std::string printed;
    std::optional<std::string> password; // nullopt: the password callback declines
    std::string passwordPrompt, passwordName;
    int32_t passwordSize = 0;
    std::string comment;
    std::vector<std::pair<std::string, int32_t>> serviced;
    std::function<int(const std::string &)> onService;
    std::function<void()> onCommentAsked; // runs after the last file was accepted
};
Host *host = nullptr;

int ZIP32_CALL onPrint(const char *text, uint32_t length) {
    host->printed.append(text, length);
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
    host->serviced.emplace_back(name, size);
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
    }
    void TearDown() override { host = nullptr; }

    // A small staged map: text that deflates well, an image that does not, an empty file.
    void stageMap() {
        write("Maps/ctf_Run.pms", compressible(400));
        write("Maps/ctf_Run_ReadMe.txt", "Map: ctf_Run\r\nAuthor: someone\r\n");
        write("Scenery-gfx/tree.bmp", compressible(50));
        write("Textures/rock.png", incompressible(3000));
        write("Textures/empty.png", "");
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
        ZipFileSpecs fileSpecs{};
        for (std::size_t i = 0; i < specs.size(); ++i)
            fileSpecs.Spec[i] = specs[i];
        EXPECT_NE(ZpInit(&m_callbacks), 0);
        EXPECT_NE(ZpSetOptions(&m_options), 0);
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
};

const QStringList AllStaged{"Maps/ctf_Run.pms",   "Maps/ctf_Run_ReadMe.txt", "Scenery-gfx/tree.bmp",
                            "Textures/empty.png", "Textures/rock.png",       "notes.txt"};

TEST_F(EngineTest, EachLevelWritesEveryFileWithItsSizeCrcAndMethod) {
    stageMap();
    qint64 previousMapSize = -1;
    for (const char level : {'0', '1', '9'}) {
        SCOPED_TRACE(std::string("level ") + level);
        m_options.LevelChar = level;
        const std::string name = std::string("Level") + level + ".zip";
        ASSERT_EQ(run(name.c_str()), ZE_OK) << m_host.printed;

        const QString archive = path(QString::fromStdString(name));
        const ArchiveListing listing = readArchive(archive);
        ASSERT_TRUE(listing.ok) << listing.error.toStdString();
        QStringList names = listing.names();
        names.sort();
        // Archives of earlier levels lie in the root folder too and are packed like any file.
        QStringList expected = AllStaged;
        for (char earlier = '0'; earlier < level; ++earlier) {
            if (earlier == '0' || earlier == '1')
                expected << QStringLiteral("Level%1.zip").arg(earlier);
        }
        expected.sort();
        EXPECT_EQ(names, expected);
        for (const QString &file : AllStaged)
            expectEntryMatchesFile(listing, file, file);

        const ArchiveEntry *map = listing.find("Maps/ctf_Run.pms");
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->compressType, level == '0' ? 0 : 8);
        EXPECT_EQ(listing.find("Textures/empty.png")->compressType, 0);
        if (level == '0') {
            EXPECT_EQ(map->compressedSize, map->size);
            EXPECT_NE(m_host.printed.find("  adding: Maps/ctf_Run.pms (stored 0%)\n"),
                      std::string::npos)
                << m_host.printed;
        } else {
            EXPECT_LT(map->compressedSize, map->size / 4);
            EXPECT_NE(m_host.printed.find("  adding: Maps/ctf_Run.pms (deflated "),
                      std::string::npos)
                << m_host.printed;
            if (previousMapSize >= 0) {
                EXPECT_LE(map->compressedSize, previousMapSize);
            }
            previousMapSize = map->compressedSize;
        }
        EXPECT_NE(m_host.printed.find("  adding: Textures/empty.png (stored 0%)\n"),
                  std::string::npos);
        QString unzipOutput;
        EXPECT_TRUE(unzipTest(archive, {}, &unzipOutput)) << unzipOutput.toStdString();
    }
}

TEST_F(EngineTest, MessagesAndServiceCallsFollowTheFilesInOrder) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    std::vector<std::string> serviced;
    for (const auto &[name, size] : m_host.serviced)
        serviced.push_back(name);
    std::vector<std::string> expectedNames;
    for (const QString &name : AllStaged)
        expectedNames.push_back(name.toStdString());
    EXPECT_EQ(serviced, expectedNames);
    EXPECT_EQ(m_host.serviced.front().second, read("Maps/ctf_Run.pms").size());

    // One line per file, each ending in a line feed, in the same order.
    std::size_t position = 0;
    for (const std::string &name : expectedNames) {
        const std::size_t found = m_host.printed.find("  adding: " + name + " (", position);
        ASSERT_NE(found, std::string::npos) << name << "\n" << m_host.printed;
        position = m_host.printed.find("%)\n", found);
        ASSERT_NE(position, std::string::npos);
    }
    EXPECT_EQ(position + 3, m_host.printed.size());
}

TEST_F(EngineTest, RecurseAndFileSpecsChooseTheFiles) {
    stageMap();
    m_options.RecurseFlag = 0;
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(readArchive(path("Arena.zip")).names(), QStringList{"notes.txt"});

    // Wildcards ignore letter case; a spec with a folder is matched against the path.
    m_options.RecurseFlag = 1;
    ASSERT_EQ(run("Some.zip", {"*.PMS", "TREE.???", "Textures/r*"}), ZE_OK);
    ArchiveListing listing = readArchive(path("Some.zip"));
    ASSERT_TRUE(listing.ok);
    EXPECT_EQ(listing.names(),
              (QStringList{"Maps/ctf_Run.pms", "Scenery-gfx/tree.bmp", "Textures/rock.png"}));

    // Only the root folder without recursion: nothing matches.
    m_options.RecurseFlag = 0;
    EXPECT_EQ(run("None.zip", {"*.pms"}), ZE_NONE);
    EXPECT_FALSE(QFile::exists(path("None.zip")));
    EXPECT_NE(m_host.printed.find("zip error: Nothing to do! (None.zip)\n"), std::string::npos);
}

TEST_F(EngineTest, FreshWriteReplacesTheOldArchiveAndNeverPacksItself) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    write("Other.zip", "an archive of another map");
    QFile::remove(path("notes.txt"));
    ASSERT_EQ(run(), ZE_OK);

    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    EXPECT_FALSE(listing.names().contains("Arena.zip"));
    EXPECT_FALSE(listing.names().contains("notes.txt")); // nothing survives from the old archive
    EXPECT_TRUE(listing.names().contains("Other.zip"));
    QStringList expected = AllStaged;
    expected.removeAll("notes.txt");
    expected << "Other.zip"
             << "Arena.zip";
    expected.sort();
    EXPECT_EQ(filesUnder(m_root), expected); // no temporary file left
}

TEST_F(EngineTest, JunkPathsDropFoldersAndRefuseRepeatedNames) {
    stageMap();
    m_options.JunkPathsFlag = 1;
    ASSERT_EQ(run(), ZE_OK) << m_host.printed;
    ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    QStringList names = listing.names();
    names.sort();
    EXPECT_EQ(names, (QStringList{"ctf_Run.pms", "ctf_Run_ReadMe.txt", "empty.png", "notes.txt",
                                  "rock.png", "tree.bmp"}));
    expectEntryMatchesFile(listing, "rock.png", "Textures/rock.png");

    const QByteArray before = read("Arena.zip");
    write("Scenery-gfx/ROCK.png", "same name as the texture, other case");
    const QStringList files = filesUnder(m_root);
    EXPECT_EQ(run(), ZE_DUPNAME);
    expectNothingWritten(files, before);
    EXPECT_NE(m_host.printed.find("name in zip file repeated: "), std::string::npos);
    EXPECT_TRUE(m_host.serviced.empty());
}

class UpdateTest : public EngineTest {
protected:
    // An archive of three files, all two days old; then one made newer, one new, one gone.
    void SetUp() override {
        EngineTest::SetUp();
        m_old = QDateTime::currentDateTime().addDays(-2);
        m_old = m_old.addSecs(-(m_old.time().second() % 2)); // on a two-second step
        write("Maps/a.pms", compressible(30));
        write("Maps/b.pms", compressible(40));
        write("Maps/gone.pms", compressible(10));
        for (const char *name : {"Maps/a.pms", "Maps/b.pms", "Maps/gone.pms"})
            setModified(name, m_old);
        ASSERT_EQ(run(), ZE_OK);
        m_oldA = read("Maps/a.pms");

        write("Maps/a.pms", "changed, but only one second later: same two-second step");
        setModified("Maps/a.pms", m_old.addSecs(1));
        write("Maps/b.pms", "newer content of b");
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
    EXPECT_NE(m_host.printed.find("updating: Maps/b.pms ("), std::string::npos) << m_host.printed;
    EXPECT_NE(m_host.printed.find("  adding: Maps/new.pms ("), std::string::npos);
    EXPECT_EQ(m_host.printed.find("Maps/a.pms"), std::string::npos);
    EXPECT_EQ(m_host.serviced.size(), 2u);

    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok) << listing.error.toStdString();
    QStringList names = listing.names();
    names.sort();
    EXPECT_EQ(names, (QStringList{"Maps/a.pms", "Maps/b.pms", "Maps/gone.pms", "Maps/new.pms"}));
    ASSERT_NE(listing.find("Maps/a.pms"), nullptr);
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
    EXPECT_NE(m_host.printed.find("freshening: Maps/b.pms ("), std::string::npos);
    const ArchiveListing listing = readArchive(path("Arena.zip"));
    ASSERT_TRUE(listing.ok);
    QStringList names = listing.names();
    names.sort();
    EXPECT_EQ(names, (QStringList{"Maps/a.pms", "Maps/b.pms", "Maps/gone.pms"}));
    expectEntryMatchesFile(listing, "Maps/b.pms", "Maps/b.pms");
    EXPECT_EQ(listing.find("Maps/a.pms")->crc, crc32Of(m_oldA));
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

    // A full buffer: 4096 characters and the zero byte.
    m_host.comment = std::string(4096, 'c');
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(readArchive(path("Arena.zip")).comment.size(), 4096);

    // 8-bit text of the code page arrives as UTF-8, the only form libzip keeps comments in.
    m_host.comment = "caf\xe9 \x80";
    ASSERT_EQ(run(), ZE_OK);
    EXPECT_EQ(readArchive(path("Arena.zip")).comment, QByteArray("caf\xc3\xa9 \xe2\x82\xac"));

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
    m_host.onService = [](const std::string &name) { return name == "Maps/ctf_Run.pms" ? 1 : 0; };
    EXPECT_EQ(run(), ZE_ABORT);
    expectNothingWritten(files, before);
    EXPECT_EQ(m_host.serviced.size(), 1u);
    EXPECT_NE(m_host.printed.find("zip error: Interrupted (aborting)\n"), std::string::npos);
}

TEST_F(EngineTest, FileThatCannotBeReadFailsTheRun) {
    stageMap();
    ASSERT_EQ(run(), ZE_OK);
    const QByteArray before = read("Arena.zip");
    QStringList files = filesUnder(m_root);
    files.removeAll("Maps/ctf_Run_ReadMe.txt");

    // The file goes away just before it would be read.
    m_host.onService = [this](const std::string &name) {
        if (name == "Maps/ctf_Run_ReadMe.txt")
            QFile::remove(path("Maps/ctf_Run_ReadMe.txt"));
        return 0;
    };
    EXPECT_EQ(run(), ZE_READ);
    expectNothingWritten(files, before);
    EXPECT_NE(m_host.printed.find("could not open for reading: Maps/ctf_Run_ReadMe.txt\n"),
              std::string::npos)
        << m_host.printed;

    // A file already accepted goes away while the archive is being written.
    files.removeAll("Maps/ctf_Run.pms");
    m_host.onService = [this](const std::string &name) {
        if (name == "notes.txt")
            QFile::remove(path("Maps/ctf_Run.pms"));
        return 0;
    };
    EXPECT_EQ(run(), ZE_READ);
    expectNothingWritten(files, before);
    EXPECT_NE(m_host.printed.find("could not open for reading: Maps/ctf_Run.pms\n"),
              std::string::npos)
        << m_host.printed;
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

    EXPECT_EQ(ZpSetOptions(nullptr), 0); // forgets the options
    EXPECT_EQ(ZpArchive(1, "Arena.zip", &specs), ZE_PARMS);
    EXPECT_FALSE(QFile::exists(path("Arena.zip")));
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
