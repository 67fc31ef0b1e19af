#include "archive/ZipBinding.h"

#include "archive/ArchiveHost.h"
#include "intake/CodePage.h"
#include "zip32.h"

#include <QByteArray>
#include <QLibrary>
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

namespace {

using ZpInitFunction = int(ZIP32_CALL *)(const ZipCallbacks *);
using ZpSetOptionsFunction = int(ZIP32_CALL *)(const ZipOptions *);
using ZpArchiveFunction = int(ZIP32_CALL *)(int32_t, const char *, const ZipFileSpecs *);

// The engine's buffers are never written beyond this index, whatever size it claims.
constexpr qsizetype LastBufferIndex = 4096;

const QString EngineMissingText =
    QStringLiteral("Zip32.dll did not initialize.  Is it in the current directory ") +
    QStringLiteral("or on the command path?");
const QString EngineMissingTitle = QStringLiteral("VB Zip");

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

// 8-bit copy of a text for one engine call; a null text crosses as a null pointer.
struct EngineText {
    explicit EngineText(const QString &text) : isNull(text.isNull()), bytes(toCodePage(text)) {}
    const char *pointer() const { return isNull ? nullptr : bytes.constData(); }
    bool isNull;
    QByteArray bytes;
};

} // namespace

struct ZipBinding::Engine {
    QLibrary library;
    ZpInitFunction init = nullptr;
    ZpSetOptionsFunction setOptions = nullptr;
    ZpArchiveFunction archive = nullptr;
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

int ZipBinding::RunZip(const ZipRequest &request, ArchiveHost &host) {
    if (!m_engine) {
        for (const QString &candidate : std::as_const(m_candidates)) {
            auto engine = std::make_unique<Engine>();
            engine->library.setFileName(candidate);
            if (!engine->library.load())
                continue;
            engine->init = reinterpret_cast<ZpInitFunction>(engine->library.resolve("ZpInit"));
            engine->setOptions =
                reinterpret_cast<ZpSetOptionsFunction>(engine->library.resolve("ZpSetOptions"));
            engine->archive =
                reinterpret_cast<ZpArchiveFunction>(engine->library.resolve("ZpArchive"));
            if (engine->init && engine->setOptions && engine->archive) {
                m_engine = std::move(engine);
                break;
            }
        }
    }
    if (!m_engine || m_engine->init(&g_callbacks) == 0) {
        host.showMessage(EngineMissingText, EngineMissingTitle, MessageIcon::None);
        return ZipEngineNotLoaded;
    }

    const EngineText dateFilter(request.DateFilter);
    const EngineText rootFolder(request.RootFolder);
    const EngineText tempFolder(request.TempFolder);
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

    static_assert(ZIP32_MAX_FILESPECS == std::tuple_size_v<decltype(request.FileSpecs)>);
    std::array<QByteArray, ZIP32_MAX_FILESPECS> specTexts;
    ZipFileSpecs specs;
    for (int i = 0; i < ZIP32_MAX_FILESPECS; ++i) {
        const QString &spec = request.FileSpecs[i];
        if (spec.isNull()) {
            specs.Spec[i] = nullptr;
            continue;
        }
        specTexts[i] = toCodePage(spec);
        specs.Spec[i] = specTexts[i].constData();
    }
    const EngineText archiveName(request.ArchiveName);

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

int OnZipService(const char *, qint32) {
    return 0;
}
