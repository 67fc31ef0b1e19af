// The request and the binding against a recording stand-in engine.

#include "archive/ZipBinding.h"
#include "FakeArchiveHost.h"
#include "FakeZip32.h"
#include "archive/MakeZip.h"
#include "archive/ProgramFolder.h"
#include "archive/ZipRequest.h"

#include <QDir>
#include <QLibrary>
#include <QTemporaryDir>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <map>

namespace {

const QString EngineMissingText =
    "Zip32.dll did not initialize.  Is it in the current directory or on the command path?";

struct FlagField {
    int ZipSettings::*setting;
    std::size_t offset;
};
const FlagField FlagFields[] = {
    {&ZipSettings::chkPass, offsetof(ZipOptions, EncryptFlag)},
    {&ZipSettings::chkJunk, offsetof(ZipOptions, JunkPathsFlag)},
    {&ZipSettings::chkUpdate, offsetof(ZipOptions, UpdateFlag)},
    {&ZipSettings::chkFreshen, offsetof(ZipOptions, FreshenFlag)},
    {&ZipSettings::chkComment, offsetof(ZipOptions, CommentFlag)},
    {&ZipSettings::chkRecurse, offsetof(ZipOptions, RecurseFlag)},
};

bool isPointerByte(std::size_t index) {
    for (std::size_t field : {offsetof(ZipOptions, DateFilter), offsetof(ZipOptions, RootFolder),
                              offsetof(ZipOptions, TempFolder)}) {
        if (index >= field && index < field + sizeof(const char *))
            return true;
    }
    return false;
}

// Every byte outside the three text pointers is zero, except the 32-bit fields in `ints`
// and the level byte.
void expectOptions(const std::vector<unsigned char> &bytes, const std::map<std::size_t, int> &ints,
                   char levelChar) {
    ASSERT_EQ(bytes.size(), sizeof(ZipOptions));
    std::vector<unsigned char> expected(sizeof(ZipOptions), 0);
    for (const auto &[offset, value] : ints) {
        const int32_t wide = value;
        std::memcpy(&expected[offset], &wide, sizeof wide);
    }
    expected[offsetof(ZipOptions, LevelChar)] = static_cast<unsigned char>(levelChar);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!isPointerByte(i)) {
            EXPECT_EQ(bytes[i], expected[i]) << "option byte " << i;
        }
    }
}

class ZipBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(programFolder.isValid());
        QLibrary library(QStringLiteral(FAKE_ZIP32_PATH));
        ASSERT_TRUE(library.load()) << library.errorString().toStdString();
        auto stateFunction =
            reinterpret_cast<FakeZip32StateFunction>(library.resolve("fakeZip32State"));
        ASSERT_NE(stateFunction, nullptr);
        engine = stateFunction();
        *engine = FakeZip32State();
        binding.setEngineCandidates({QStringLiteral(FAKE_ZIP32_PATH)});
        state.MapName = QStringLiteral("Arena");
    }

    bool makeZip(const ZipSettings &settings = {}) {
        error.clear();
        return MakeZip(state, request, binding, settings, programFolder.path(), host, error);
    }

    // Runs one archive whose engine calls `action` with the registered callbacks.
    int runWithCallbacks(std::function<void(const ZipCallbacks &)> action, int engineResult = 0) {
        engine->archiveAction = [action, engineResult](const ZipCallbacks &callbacks) {
            action(callbacks);
            return engineResult;
        };
        return binding.RunZip(request, host);
    }

    QTemporaryDir programFolder;
    FakeZip32State *engine = nullptr;
    ZipBinding binding{QStringLiteral("/nonexistent")};
    FakeArchiveHost host;
    WizardState state;
    ZipRequest request;
    QString error;
};

TEST_F(ZipBindingTest, StartupSettingsMakeOneRequestForTheStagingRoot) {
    state.retcode = 7;
    host.output = QStringLiteral("messages of the last run");
    engine->archiveAction = [](const ZipCallbacks &callbacks) {
        callbacks.print("adding: Maps/Arena.pms", 22);
        return 0;
    };

    ASSERT_TRUE(makeZip()) << error.toStdString();

    EXPECT_EQ(engine->calls, (std::vector<std::string>{"ZpInit", "ZpSetOptions", "ZpSetExtras",
                                                       "ZpArchive"}));
    expectOptions(engine->optionBytes, {{offsetof(ZipOptions, RecurseFlag), 1}}, '9');
    EXPECT_FALSE(engine->dateFilter.has_value());
    EXPECT_FALSE(engine->tempFolder.has_value());
    EXPECT_EQ(engine->rootFolder, (programFolder.path() + "/TEMP").toStdString());
    EXPECT_EQ(engine->fileCount, 1);
    EXPECT_EQ(engine->archiveName, "Arena.zip");
    EXPECT_EQ(engine->specs[0], "*.*");
    for (int i = 1; i < ZIP32_MAX_FILESPECS; ++i)
        EXPECT_FALSE(engine->specs[i].has_value()) << "spec " << i;
    EXPECT_EQ(state.retcode, 0);
    EXPECT_EQ(host.output, QStringLiteral("adding: Maps/Arena.pms"));
    EXPECT_TRUE(host.messages.isEmpty());
}

TEST_F(ZipBindingTest, EachSwitchReachesItsOwnField) {
    for (const FlagField &flag : FlagFields) {
        ZipSettings settings;
        settings.chkRecurse = 0;
        settings.*flag.setting = 1;
        settings.compressionLevel = QStringLiteral("0");
        ASSERT_TRUE(makeZip(settings));
        SCOPED_TRACE(flag.offset);
        expectOptions(engine->optionBytes, {{flag.offset, 1}}, '0');
    }
}

TEST_F(ZipBindingTest, TimeThreadsAndNamesInAnyLanguageReachTheEngine) {
    ZipSettings settings;
    settings.entryTime = 1700000000;
    settings.threads = 3;
    state.MapName = QStringLiteral("карта-ąłż");
    const QString folder = programFolder.filePath(QStringLiteral("программа"));
    error.clear();
    ASSERT_TRUE(MakeZip(state, request, binding, settings, folder, host, error));
    // Not in the record, whose fields at 104 to 112 stay 0 for an engine of its layout.
    expectOptions(engine->optionBytes, {{offsetof(ZipOptions, RecurseFlag), 1}}, '9');
    ASSERT_TRUE(engine->extras.has_value());
    EXPECT_EQ(engine->extras->EntryTime, 1700000000u);
    EXPECT_EQ(engine->extras->Threads, 3);
    // The file system's own encoding, not the archive's 8-bit code page.
    EXPECT_EQ(engine->rootFolder, (folder + QStringLiteral("/TEMP")).toStdString());
    EXPECT_EQ(engine->archiveName, "карта-ąłż.zip");
}

TEST_F(ZipBindingTest, ProgressAndStoppingGoThroughTheServiceCallback) {
    std::vector<int> answers;
    runWithCallbacks([&](const ZipCallbacks &callbacks) {
        answers.push_back(callbacks.service(nullptr, 420));
        answers.push_back(callbacks.service("Maps/Arena.pms", 10));
        host.stop = true;
        answers.push_back(callbacks.service("Scenery-gfx/a.png", 10));
        answers.push_back(callbacks.service(nullptr, 1000));
    });
    EXPECT_EQ(answers, (std::vector<int>{0, 0, 1, 1}));
    EXPECT_EQ(host.progress, (QList<int>{42, 100}));
    EXPECT_EQ(host.eventRounds, 2) << "the window is served with every progress report";
}

TEST_F(ZipBindingTest, ALibraryCutShortIsNeverLoaded) {
    QFile real(QStringLiteral(FAKE_ZIP32_PATH));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray whole = real.readAll();
    QString why;
    EXPECT_TRUE(isLoadableLibraryFile(real.fileName(), why)) << why.toStdString();
    for (const qsizetype size : {qsizetype(0), qsizetype(63), whole.size() / 2, whole.size() - 1}) {
        const QString cut = programFolder.filePath(QStringLiteral("libcut%1.so").arg(size));
        QFile out(cut);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(whole.left(size));
        out.close();
        EXPECT_FALSE(isLoadableLibraryFile(cut, why)) << size;
        ZipBinding other{QString()};
        other.setEngineCandidates({cut});
        EXPECT_FALSE(other.load()) << size;
    }
    // A file the system fails to read is named as such, not taken for a damaged library.
    EXPECT_FALSE(isLoadableLibraryFile(QStringLiteral("/proc/self/mem"), why));
    EXPECT_EQ(why, QStringLiteral("Input/output error")) << why.toStdString();
}

TEST_F(ZipBindingTest, OnlyTheValueOneCountsAsChecked) {
    ZipSettings settings;
    settings.chkJunk = 2;
    settings.chkRecurse = -1;
    settings.chkPass = 255;
    ASSERT_TRUE(makeZip(settings));
    expectOptions(engine->optionBytes, {}, '9');
}

TEST_F(ZipBindingTest, TwoRunsRegisterTwiceAndSendTheSameRequest) {
    ZipSettings settings;
    settings.chkComment = 1;
    engine->archiveAction = [this](const ZipCallbacks &callbacks) {
        const std::string message = "run " + std::to_string(engine->count("ZpInit"));
        callbacks.print(message.c_str(), static_cast<uint32_t>(message.size()));
        return 0;
    };
    ASSERT_TRUE(makeZip(settings));
    const FakeZip32State first = *engine;
    ASSERT_TRUE(makeZip(settings));

    EXPECT_EQ(engine->count("ZpInit"), 2);
    EXPECT_EQ(engine->count("ZpArchive"), 2);
    EXPECT_EQ(host.output, QStringLiteral("run 2"));
    for (std::size_t i = 0; i < sizeof(ZipOptions); ++i) {
        if (!isPointerByte(i)) {
            EXPECT_EQ(engine->optionBytes[i], first.optionBytes[i]) << "option byte " << i;
        }
    }
    EXPECT_EQ(engine->rootFolder, first.rootFolder);
    EXPECT_EQ(engine->archiveName, first.archiveName);
    EXPECT_EQ(engine->specs, first.specs);
}

TEST_F(ZipBindingTest, RequestThatCannotBeBuiltLeavesRetcodeAndRunsNoEngine) {
    state.retcode = 5;
    ZipSettings settings;
    settings.compressionLevel.clear();
    EXPECT_FALSE(makeZip(settings));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(engine->calls.empty());
    EXPECT_EQ(state.retcode, 5);

    for (int outOfRange : {70000, -40000}) {
        engine->archiveResult = outOfRange;
        EXPECT_FALSE(makeZip()) << outOfRange;
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(state.retcode, 5);
    }

    engine->archiveResult = ZE_NONE;
    EXPECT_TRUE(makeZip());
    EXPECT_EQ(state.retcode, ZE_NONE);
}

TEST_F(ZipBindingTest, MissingEngineIsReportedOncePerRunAndMakesNoArchive) {
    // Each file tried and the loader's reason follow the engine's own line.
    const QString missing = programFolder.filePath("nowhere/zip32");
    const struct {
        QStringList candidates;
        QString why;
    } cases[] = {
        {{missing}, programFolder.filePath("nowhere/libzip32.so") + ": No such file or directory"},
        {{FAKE_ZIP32_ORPHAN_PATH},
         "libfake_zip32_unfindable.so: cannot open shared object file: No such file or directory"},
        {{missing, "zip32-nowhere"},
         programFolder.filePath("nowhere/libzip32.so") + ": No such file or directory\n" +
             "zip32-nowhere on the system's library path: cannot open shared object file: No "
             "such file or directory"},
    };
    for (const auto &c : cases) {
        host.messages.clear();
        binding.setEngineCandidates(c.candidates);
        ASSERT_TRUE(makeZip());
        ASSERT_EQ(host.messages.size(), 1);
        EXPECT_EQ(host.messages[0].text, EngineMissingText + "\n" + c.why)
            << host.messages[0].text.toStdString();
        EXPECT_EQ(host.messages[0].title, QStringLiteral("VB Zip"));
        EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(state.retcode, ZipEngineNotLoaded);
        EXPECT_FALSE(QDir(programFolder.path() + "/TEMP").exists());

        ASSERT_TRUE(makeZip());
        EXPECT_EQ(host.messages.size(), 2);
    }
}

TEST_F(ZipBindingTest, EngineWithoutAnEntryPointIsNotUsed) {
    QLibrary partial(QStringLiteral(FAKE_ZIP32_PARTIAL_PATH));
    ASSERT_TRUE(partial.load());
    auto partialState = reinterpret_cast<FakeZip32StateFunction>(partial.resolve("fakeZip32State"));
    ASSERT_NE(partialState, nullptr);
    partialState()->calls.clear();

    binding.setEngineCandidates({QStringLiteral(FAKE_ZIP32_PARTIAL_PATH)});
    EXPECT_EQ(binding.RunZip(request, host), ZipEngineNotLoaded);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, EngineMissingText +
                                         "\n" FAKE_ZIP32_PARTIAL_PATH
                                         ": lacks ZpInit, ZpSetOptions or ZpArchive");
    EXPECT_TRUE(partialState()->calls.empty());

    // A later candidate that is whole is taken instead.
    binding.setEngineCandidates(
        {QStringLiteral(FAKE_ZIP32_PARTIAL_PATH), QStringLiteral(FAKE_ZIP32_PATH)});
    EXPECT_EQ(binding.RunZip(request, host), 0);
    EXPECT_EQ(engine->count("ZpArchive"), 1);
}

TEST_F(ZipBindingTest, EngineThatDoesNotInitializeIsNotCalledFurther) {
    engine->initResult = 0;
    ASSERT_TRUE(makeZip());
    EXPECT_EQ(state.retcode, ZipEngineNotLoaded);
    ASSERT_EQ(host.messages.size(), 1);
    EXPECT_EQ(host.messages[0].text, EngineMissingText + "\n" FAKE_ZIP32_PATH ": ZpInit failed");
    EXPECT_EQ(engine->calls, std::vector<std::string>{"ZpInit"});

    // The library stays loaded; the next run asks ZpInit again.
    engine->initResult = 1;
    ASSERT_TRUE(makeZip());
    EXPECT_EQ(state.retcode, 0);
    EXPECT_EQ(engine->count("ZpInit"), 2);
}

TEST_F(ZipBindingTest, PrintAppendsTheMessageAsIsAndLetsEventsRun) {
    int results[4] = {-1, -1, -1, -1};
    const QByteArray longMessage(5000, 'x');
    runWithCallbacks([&](const ZipCallbacks &callbacks) {
        results[0] = callbacks.print("nine char", 9);
        results[1] = callbacks.print("ab\0cd", 5);
        results[2] = callbacks.print("\x80", 1);
        results[3] = callbacks.print(longMessage.constData(), 5000);
    });
    for (int result : results)
        EXPECT_EQ(result, 0);
    EXPECT_EQ(host.eventRounds, 4);
    EXPECT_EQ(host.output, QStringLiteral("nine charab") + QChar(0x20AC) + QString(4097, 'x'));
}

TEST_F(ZipBindingTest, CommentIsComposedAndCutToTheBuffer) {
    host.readme = QStringLiteral("readme text");
    std::vector<char> buffer(ZIP32_COMMENT_BUFFER + 100, 'U');
    int result = -1;
    runWithCallbacks(
        [&](const ZipCallbacks &callbacks) { result = callbacks.comment(buffer.data()); });
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(buffer.data(), "Authors Comments: \r\n\r\n------\r\nreadme text");

    host.comment = QString(5000, 'c');
    std::fill(buffer.begin(), buffer.end(), 'U');
    runWithCallbacks(
        [&](const ZipCallbacks &callbacks) { result = callbacks.comment(buffer.data()); });
    EXPECT_EQ(result, 1);
    const std::string expected = "Authors Comments: " + std::string(4096 - 18, 'c');
    EXPECT_EQ(std::string(buffer.data(), 4096), expected);
    EXPECT_EQ(buffer[4096], '\0');
    EXPECT_EQ(buffer[4097], 'U');
}

TEST_F(ZipBindingTest, PasswordFillsTheBufferOrIsRefusedWhole) {
    std::vector<char> buffer(256, 'U');
    auto askPassword = [&](int32_t size, int engineResult = 0) {
        int result = -1;
        const int runResult = runWithCallbacks(
            [&](const ZipCallbacks &callbacks) {
                result = callbacks.password(buffer.data(), size, "Enter password: ", "x");
            },
            engineResult);
        return std::pair(result, runResult);
    };

    // No password: the buffer keeps whatever it held.
    EXPECT_EQ(askPassword(256, ZE_NOPASSWORD), std::pair(1, int(ZE_NOPASSWORD)));
    EXPECT_EQ(std::string(buffer.data(), 256), std::string(256, 'U'));

    host.password = QStringLiteral("abc");
    EXPECT_EQ(askPassword(256), std::pair(0, 0));
    EXPECT_EQ(std::string(buffer.data(), 256), "abc" + std::string(253, '\0'));

    host.password = QString(255, 'p');
    EXPECT_EQ(askPassword(256), std::pair(0, 0));
    EXPECT_EQ(std::string(buffer.data(), 256), std::string(255, 'p') + '\0');

    // Too long for the buffer with its zero byte: refused, not cut, and the run says so.
    host.password = QString(256, 'p');
    std::fill(buffer.begin(), buffer.end(), 'U');
    EXPECT_EQ(askPassword(256, ZE_NOPASSWORD), std::pair(1, ZipPasswordTooLong));
    EXPECT_EQ(std::string(buffer.data(), 256), std::string(256, '\0'));

    // Characters the archive's code page lacks would silently become '?'.
    host.password = QStringLiteral("пароль");
    EXPECT_EQ(askPassword(256, ZE_NOPASSWORD), std::pair(1, ZipPasswordNotEncodable));

    // The refusal belongs to its own run only.
    host.password = QStringLiteral("abc");
    EXPECT_EQ(askPassword(256), std::pair(0, 0));
}

TEST_F(ZipBindingTest, PasswordNeverWritesPastTheLargestBuffer) {
    std::vector<char> buffer(6000, 'U');
    host.password = QString(5000, 'p');
    int result = -1;
    const int runResult = runWithCallbacks([&](const ZipCallbacks &callbacks) {
        result = callbacks.password(buffer.data(), 6000, "", "");
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(runResult, ZipPasswordTooLong);
    EXPECT_EQ(std::string(buffer.data(), 4097), std::string(4097, '\0'));
    EXPECT_EQ(buffer[4097], 'U');
}

TEST_F(ZipBindingTest, CallbacksOutsideARunTouchNothing) {
    host.password = QStringLiteral("abc");
    runWithCallbacks([](const ZipCallbacks &) {});
    host.output.clear();
    host.eventRounds = 0;

    const ZipCallbacks &callbacks = *engine->callbacks;
    char buffer[256];
    std::memset(buffer, 'U', sizeof buffer);
    EXPECT_EQ(callbacks.print("late", 4), 0);
    EXPECT_EQ(callbacks.password(buffer, 256, "", ""), 1);
    EXPECT_EQ(callbacks.comment(buffer), 1);
    EXPECT_EQ(callbacks.service("Maps/Arena.pms", 10), 0);
    EXPECT_EQ(std::string(buffer, 256), std::string(256, 'U'));
    EXPECT_TRUE(host.output.isEmpty());
    EXPECT_EQ(host.eventRounds, 0);
}

// A build's bin folder, an installed tree and an unpacked package each find their own files.
TEST(ProgramFolder, IsTheProgramsOwnFolderWhenItHoldsTheEngineElseTheInstalledOne) {
    const struct {
        const char *files;      // made under a fresh folder; a name ending in '/' is a folder
        const char *executable; // the program's folder
        const char *expected;
    } cases[] = {
        {"bin/libzip32.so lib/velquarindostrammelfenboriax/", "bin", "bin"},
        {"usr/bin/ usr/lib/velquarindostrammelfenboriax/libzip32.so", "usr/bin/",
         "usr/lib/velquarindostrammelfenboriax"},
        {"usr/bin/ usr/lib/velquarindostrammelfenboriax/", "usr/bin",
         "usr/lib/velquarindostrammelfenboriax"},
        {"bin/ lib/other/libzip32.so", "bin", "bin"},
    };
    for (const auto &c : cases) {
        QTemporaryDir root;
        for (const QString &file : QString::fromLatin1(c.files).split(u' ')) {
            const QString path = root.filePath(file);
            ASSERT_TRUE(QDir().mkpath(file.endsWith(u'/') ? path : QFileInfo(path).path()));
            QFile made(path);
            ASSERT_TRUE(file.endsWith(u'/') || made.open(QIODevice::WriteOnly))
                << path.toStdString();
        }
        EXPECT_EQ(programFolderFor(root.filePath(QLatin1String(c.executable))),
                  root.filePath(QLatin1String(c.expected)))
            << c.files;
    }
}

} // namespace
