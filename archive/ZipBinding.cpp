#include "archive/ZipBinding.h"

#include "archive/ArchiveHost.h"
#include "text/CodePage.h"
#include "zip32.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

using ZpInitFunction = int(ZIP32_CALL *)(const ZipCallbacks *);
using ZpSetOptionsFunction = int(ZIP32_CALL *)(const ZipOptions *);
using ZpSetExtrasFunction = int(ZIP32_CALL *)(const ZipExtras *);
using ZpArchiveFunction = int(ZIP32_CALL *)(int32_t, const char *, const ZipFileSpecs *);

// The engine's buffers are never written beyond this index, whatever size it claims.
constexpr qsizetype LastBufferIndex = 4096;

// The callbacks carry no user data, so the RunZip call in progress is reached through this
// pointer. It is set only while ZpArchive runs; the engine never calls back outside it.
struct ActiveRun {
    ArchiveHost *host = nullptr;
    int passwordRefusal = 0; // 0, or the code RunZip returns instead of the engine's
};
ActiveRun *g_activeRun = nullptr;

// Sets the active run for the duration of one ZpArchive call and restores the one before,
// so that a nested run (pending events may start one) cannot leave a dangling host behind.
class ActiveRunScope {
public:
    explicit ActiveRunScope(ActiveRun &run) : m_previous(g_activeRun) { g_activeRun = &run; }
    ~ActiveRunScope() { g_activeRun = m_previous; }
    ActiveRunScope(const ActiveRunScope &) = delete;
    ActiveRunScope &operator=(const ActiveRunScope &) = delete;

private:
    ActiveRun *m_previous;
};

// The C entry points the engine calls. No exception may cross the engine's C frames.
extern "C" {
static int ZIP32_CALL printTrampoline(const char *text, uint32_t length) {
    try {
        return OnZipPrint(text, length);
    } catch (...) {
        return 0;
    }
}
static int ZIP32_CALL commentTrampoline(char *buffer) {
    try {
        return OnZipComment(buffer);
    } catch (...) {
        return 1;
    }
}
static int ZIP32_CALL passwordTrampoline(char *buffer, int32_t size, const char *prompt,
                                         const char *name) {
    try {
        return OnZipPassword(buffer, size, prompt, name);
    } catch (...) {
        return 1;
    }
}
static int ZIP32_CALL serviceTrampoline(const char *name, int32_t size) {
    try {
        return OnZipService(name, size);
    } catch (...) {
        return 0;
    }
}
}

// Lives as long as the program: the engine may keep the pointer that ZpInit receives.
const ZipCallbacks g_callbacks = {printTrampoline, commentTrampoline, passwordTrampoline,
                                  serviceTrampoline};

// File-system text (paths, names, specs) for one engine call, in the file system's own
// encoding so that any name works.
struct EnginePath {
    explicit EnginePath(const QString &text)
        : isNull(text.isNull()), bytes(QFile::encodeName(text)) {}
    const char *pointer() const { return isNull ? nullptr : bytes.constData(); }
    bool isNull;
    QByteArray bytes;
};

// The ELF machine number of the processor this program runs on; 0 where it is not known here.
#if defined(Q_PROCESSOR_X86_64)
constexpr quint16 OwnMachine = 62;
#elif defined(Q_PROCESSOR_X86_32)
constexpr quint16 OwnMachine = 3;
#elif defined(Q_PROCESSOR_ARM_64)
constexpr quint16 OwnMachine = 183;
#elif defined(Q_PROCESSOR_ARM_32)
constexpr quint16 OwnMachine = 40;
#elif defined(Q_PROCESSOR_RISCV_64)
constexpr quint16 OwnMachine = 243;
#else
constexpr quint16 OwnMachine = 0;
#endif

template <typename T> T readLittle(const QByteArray &bytes, qsizetype at) {
    T value = 0;
    for (qsizetype i = qsizetype(sizeof(T)) - 1; i >= 0; --i)
        value = T(value << 8) | T(static_cast<unsigned char>(bytes.at(at + i)));
    return value;
}

// What the system's loader said about `library`, which it did not load: the loader's own
// message (Qt's wraps it), which names the file. `file` is empty for a bare name, which the
// loader looked for on the system's library path.
QString loaderMessage(const QLibrary &library, const QString &file) {
    const QString name = library.fileName();
    QString message = library.errorString();
    const QString qtPrefix = QStringLiteral("Cannot load library %1: ").arg(name);
    if (message.startsWith(qtPrefix))
        message = message.mid(qtPrefix.size());
    if (message.startsWith(QLatin1Char('(')) && message.endsWith(QLatin1Char(')')))
        message = message.mid(1, message.size() - 2);
    if (!file.isEmpty())
        return message.isEmpty() ? file + QStringLiteral(": not loaded") : message;
    if (message.startsWith(name + QStringLiteral(": ")))
        message = message.mid(name.size() + 2);
    return QStringLiteral("%1 on the system's library path: %2")
        .arg(name, message.isEmpty() ? QStringLiteral("not loaded") : message);
}

} // namespace

const QString EngineMissingText =
    QStringLiteral("Zip32.dll did not initialize.  Is it in the current directory ") +
    QStringLiteral("or on the command path?");
const QString EngineMissingTitle = QStringLiteral("VB Zip");

QString libraryFileFor(const QString &candidate) {
    const QFileInfo info(candidate);
    if (info.isFile())
        return info.absoluteFilePath();
    if (!candidate.contains(QLatin1Char('/')))
        return {};
#ifdef Q_OS_WIN
    return candidate + QStringLiteral(".dll");
#elif defined(Q_OS_MACOS)
    return info.path() + QStringLiteral("/lib") + info.fileName() + QStringLiteral(".dylib");
#else
    return info.path() + QStringLiteral("/lib") + info.fileName() + QStringLiteral(".so");
#endif
}

namespace {

const QString CutShort = QStringLiteral("the file is cut short");

// Reads `length` bytes of `library` from `at`. A file that ends before is cut short; a read the
// system fails is named as such, never taken for a damaged library.
bool readPart(QFile &library, qint64 at, qint64 length, QByteArray &part, QString &why) {
    if (!library.seek(at)) {
        why = library.errorString();
        return false;
    }
    part = library.read(length);
    if (library.error() != QFileDevice::NoError) {
        why = library.errorString();
        return false;
    }
    if (part.size() < length) {
        why = CutShort;
        return false;
    }
    return true;
}

#if defined(Q_OS_WIN)
bool checkLibraryHeader(QFile &library, QString &why) {
    QByteArray head;
    if (!readPart(library, 0, 64, head, why))
        return false;
    if (!head.startsWith("MZ")) {
        why = QStringLiteral("not a Windows library");
        return false;
    }
    if (readLittle<quint32>(head, 0x3C) + 4 > library.size()) {
        why = CutShort;
        return false;
    }
    return true;
}
#elif defined(Q_OS_MACOS)
bool checkLibraryHeader(QFile &, QString &) {
    return true;
}
#else
// Where an ELF file's tables lie.
struct ElfTables {
    quint64 programAt = 0;
    quint16 programEntrySize = 0;
    quint16 programCount = 0;
    quint64 sectionsAt = 0;
    quint16 sectionEntrySize = 0;
    quint16 sectionCount = 0;
};

constexpr bool Wide = sizeof(void *) == 8;

// ELF, in this program's own class and byte order, for this program's processor.
bool readElfHeader(QFile &library, ElfTables &tables, QString &why) {
    QByteArray head;
    if (!readPart(library, 0, Wide ? 64 : 52, head, why)) {
        if (why == CutShort) // too short for a header
            why = QStringLiteral("not a library for this system");
        return false;
    }
    if (!head.startsWith("\x7f"
                         "ELF") ||
        head.at(4) != (Wide ? 2 : 1) || head.at(5) != (Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? 1 : 2)) {
        why = QStringLiteral("not a library for this system");
        return false;
    }
    if (OwnMachine != 0 && readLittle<quint16>(head, 18) != OwnMachine) {
        why = QStringLiteral("built for another processor");
        return false;
    }
    tables.programAt = Wide ? readLittle<quint64>(head, 32) : readLittle<quint32>(head, 28);
    tables.sectionsAt = Wide ? readLittle<quint64>(head, 40) : readLittle<quint32>(head, 32);
    tables.programEntrySize = readLittle<quint16>(head, Wide ? 54 : 42);
    tables.programCount = readLittle<quint16>(head, Wide ? 56 : 44);
    tables.sectionEntrySize = readLittle<quint16>(head, Wide ? 58 : 46);
    tables.sectionCount = readLittle<quint16>(head, Wide ? 60 : 48);
    return true;
}

// Every loadable segment must be in the file: the loader maps them, and touching a mapped page
// past the end of the file kills the process.
bool segmentsInside(QFile &library, const ElfTables &tables, QString &why) {
    const quint64 fileSize = quint64(library.size());
    const bool tablesInside =
        tables.programAt + quint64(tables.programCount) * tables.programEntrySize <= fileSize &&
        (tables.sectionsAt == 0 ||
         tables.sectionsAt + quint64(tables.sectionCount) * tables.sectionEntrySize <= fileSize);
    if (!tablesInside || tables.programEntrySize < (Wide ? 56 : 32)) {
        why = CutShort;
        return false;
    }
    QByteArray table;
    if (!readPart(library, qint64(tables.programAt),
                  qint64(tables.programCount) * tables.programEntrySize, table, why))
        return false;
    for (quint16 i = 0; i < tables.programCount; ++i) {
        const qsizetype at = qsizetype(i) * tables.programEntrySize;
        constexpr quint32 Loadable = 1;
        if (readLittle<quint32>(table, at) != Loadable)
            continue;
        const quint64 offset =
            Wide ? readLittle<quint64>(table, at + 8) : readLittle<quint32>(table, at + 4);
        const quint64 length =
            Wide ? readLittle<quint64>(table, at + 32) : readLittle<quint32>(table, at + 16);
        if (offset + length > fileSize) {
            why = CutShort;
            return false;
        }
    }
    return true;
}

bool checkLibraryHeader(QFile &library, QString &why) {
    ElfTables tables;
    return readElfHeader(library, tables, why) && segmentsInside(library, tables, why);
}
#endif

} // namespace

bool isLoadableLibraryFile(const QString &file, QString &why) {
    QFile library(file);
    if (!library.open(QIODevice::ReadOnly)) {
        why = library.errorString();
        return false;
    }
    return checkLibraryHeader(library, why);
}

struct ZipBinding::Engine {
    QLibrary library;
    ZpInitFunction init = nullptr;
    ZpSetOptionsFunction setOptions = nullptr;
    ZpArchiveFunction archive = nullptr;
    ZpSetExtrasFunction setExtras = nullptr; // only in our own engine
};

ZipBinding::ZipBinding(QString programFolder)
    : m_programFolder(std::move(programFolder)),
      // QLibrary adds the platform's prefix and suffix: libzip32.so, zip32.dll.
      m_candidates{m_programFolder + QStringLiteral("/zip32"), QStringLiteral("zip32")} {}

// The library stays loaded after the binding goes: QLibrary does not unload on destruction,
// and the engine may still hold state between runs.
ZipBinding::~ZipBinding() = default;

void ZipBinding::setEngineCandidates(QStringList candidates) {
    m_candidates = std::move(candidates);
    m_engine.reset();
}

bool ZipBinding::load() {
    if (!m_engine) {
        m_whyNotLoaded.clear();
        for (const QString &candidate : std::as_const(m_candidates)) {
            const QString file = libraryFileFor(candidate);
            QString why;
            if (!file.isEmpty() && QFileInfo::exists(file) && !isLoadableLibraryFile(file, why)) {
                m_whyNotLoaded.append(file + QStringLiteral(": ") + why);
                continue;
            }
            auto engine = std::make_unique<Engine>();
            engine->library.setFileName(candidate);
            if (!engine->library.load()) {
                // The loader's message then names whichever variant of the name it tried last.
                m_whyNotLoaded.append(!file.isEmpty() && !QFileInfo::exists(file)
                                          ? file + QStringLiteral(": No such file or directory")
                                          : loaderMessage(engine->library, file));
                continue;
            }
            engine->init = reinterpret_cast<ZpInitFunction>(engine->library.resolve("ZpInit"));
            engine->setOptions =
                reinterpret_cast<ZpSetOptionsFunction>(engine->library.resolve("ZpSetOptions"));
            engine->archive =
                reinterpret_cast<ZpArchiveFunction>(engine->library.resolve("ZpArchive"));
            engine->setExtras =
                reinterpret_cast<ZpSetExtrasFunction>(engine->library.resolve("ZpSetExtras"));
            if (engine->init && engine->setOptions && engine->archive) {
                m_engine = std::move(engine);
                break;
            }
            m_whyNotLoaded.append(engine->library.fileName() +
                                  QStringLiteral(": lacks ZpInit, ZpSetOptions or ZpArchive"));
        }
    }
    return m_engine != nullptr;
}

QString ZipBinding::engineMissingMessage() const {
    return (QStringList{EngineMissingText} + m_whyNotLoaded).join(QLatin1Char('\n'));
}

int ZipBinding::RunZip(const ZipRequest &request, ArchiveHost &host) {
    const bool loaded = load();
    if (!loaded || m_engine->init(&g_callbacks) == 0) {
        if (loaded)
            m_whyNotLoaded = {m_engine->library.fileName() + QStringLiteral(": ZpInit failed")};
        host.showMessage(engineMissingMessage(), EngineMissingTitle, MessageIcon::None);
        return ZipEngineNotLoaded;
    }

    const EnginePath dateFilter(request.DateFilter);
    const EnginePath rootFolder(request.RootFolder);
    const EnginePath tempFolder(request.TempFolder);
    // memset rather than {} so that padding bytes are zero too: the engine sees exactly the
    // fields below and zeros everywhere else.
    ZipOptions options;
    std::memset(&options, 0, sizeof options);
    options.DateFilter = dateFilter.pointer();
    options.RootFolder = rootFolder.pointer();
    options.TempFolder = tempFolder.pointer();
    options.EncryptFlag = request.EncryptFlag;
    options.JunkPathsFlag = request.JunkPathsFlag;
    options.UpdateFlag = request.UpdateFlag;
    options.FreshenFlag = request.FreshenFlag;
    options.CommentFlag = request.CommentFlag;
    options.RecurseFlag = request.RecurseFlag;
    options.LevelChar = static_cast<char>(request.LevelChar & 0xFF);
    m_engine->setOptions(&options);
    // The record keeps the original layout; what it has no field for goes this way, to an
    // engine that knows it.
    if (m_engine->setExtras) {
        const ZipExtras extras{request.EntryTime, request.Threads};
        m_engine->setExtras(&extras);
    }

    static_assert(ZIP32_MAX_FILESPECS == std::tuple_size_v<decltype(request.FileSpecs)>);
    std::array<QByteArray, ZIP32_MAX_FILESPECS> specTexts;
    ZipFileSpecs specs;
    for (int i = 0; i < ZIP32_MAX_FILESPECS; ++i) {
        const QString &spec = request.FileSpecs[i];
        if (spec.isNull()) {
            specs.Spec[i] = nullptr;
            continue;
        }
        specTexts[i] = QFile::encodeName(spec);
        specs.Spec[i] = specTexts[i].constData();
    }
    const EnginePath archiveName(request.ArchiveName);

    ActiveRun run;
    run.host = &host;
    int result;
    {
        ActiveRunScope scope(run);
        result = m_engine->archive(request.FileCount, archiveName.pointer(), &specs);
    }
    // The engine would report a refused password as "no password"; say what really happened.
    return run.passwordRefusal != 0 ? run.passwordRefusal : result;
}

int OnZipPrint(const char *text, quint32 length) {
    if (!g_activeRun || !text)
        return 0;
    // Bytes 0 to length inclusive, up to the first zero byte; a message is cut after 4,097.
    const qsizetype last = std::min<qsizetype>(length, LastBufferIndex);
    qsizetype count = 0;
    while (count <= last && text[count] != '\0')
        ++count;
    ArchiveHost &host = *g_activeRun->host;
    host.appendOutput(fromCodePage(QByteArrayView(text, count)));
    host.processPendingEvents();
    return 0;
}

int OnZipComment(char *buffer) {
    if (!g_activeRun || !buffer)
        return 1;
    const ArchiveHost &host = *g_activeRun->host;
    const QString comment = QStringLiteral("Authors Comments: ") + host.commentText() +
                            QStringLiteral("\r\n\r\n------\r\n") + host.readmeText();
    const QByteArray bytes = toCodePage(comment);
    // The buffer holds 4,097 bytes: up to 4,096 characters and the zero byte.
    const qsizetype count = std::min<qsizetype>(bytes.size(), LastBufferIndex);
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(count));
    buffer[count] = '\0';
    return 1;
}

int OnZipPassword(char *buffer, qint32 size, const char *, const char *) {
    if (!g_activeRun)
        return 1;
    const QString password = g_activeRun->host->passwordText();
    if (password.isEmpty())
        return 1;
    if (!buffer || size <= 0) {
        g_activeRun->passwordRefusal = ZipPasswordTooLong;
        return 1;
    }
    const qsizetype usable = std::min<qsizetype>(size, LastBufferIndex + 1);
    std::memset(buffer, 0, static_cast<size_t>(usable));
    const QByteArray bytes = toCodePage(password);
    // A password is refused rather than cut or altered: either would lock the archive with a
    // key the user never typed.
    if (bytes.size() >= usable) {
        g_activeRun->passwordRefusal = ZipPasswordTooLong;
        return 1;
    }
    if (bytes.contains('\0') || fromCodePage(bytes) != password) {
        g_activeRun->passwordRefusal = ZipPasswordNotEncodable;
        return 1;
    }
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
    return 0;
}

int OnZipService(const char *name, qint32 size) {
    if (!g_activeRun)
        return 0;
    ArchiveHost &host = *g_activeRun->host;
    if (!name) {
        // Progress, at least every 100 ms: the window stays alive and shows how far it got.
        host.showProgress(std::clamp(size, 0, 1000) / 10);
        host.processPendingEvents();
    }
    return host.stopRequested() ? 1 : 0;
}
