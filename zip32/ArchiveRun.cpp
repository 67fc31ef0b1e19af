#include "ArchiveRun.h"

#include "FileSelection.h"
#include "Text.h"

#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <vector>

namespace zip32 {
namespace fs = std::filesystem;
namespace {

struct ArchiveDiscarder {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscarder>;

struct SourceReleaser {
    void operator()(zip_source_t *source) const { zip_source_free(source); }
};
using SourcePtr = std::unique_ptr<zip_source_t, SourceReleaser>;

// Traditional PKWARE encryption puts a 12-byte header in front of every entry's data.
constexpr zip_uint64_t TraditionalHeaderSize = 12;

const char *errorText(int code) {
    switch (code) {
    case ZE_FORM:
        return "Zip file structure invalid";
    case ZE_MEM:
        return "Out of memory";
    case ZE_LOGIC:
        return "Internal logic error";
    case ZE_ABORT:
        return "Interrupted (aborting)";
    case ZE_TEMP:
        return "Temporary file failure";
    case ZE_READ:
        return "Input file read failure";
    case ZE_NONE:
        return "Nothing to do!";
    case ZE_WRITE:
        return "Output file write failure";
    case ZE_CREAT:
        return "Could not create output file";
    case ZE_PARMS:
        return "Invalid command arguments";
    case ZE_DUPNAME:
        return "Cannot repeat names in zip file";
    case ZE_NOPASSWORD:
        return "No password given, nothing written";
    default:
        return "Unexpected error";
    }
}

// A failed libzip call in engine terms.
int codeForLibzipError(int libzipError) {
    switch (libzipError) {
    case ZIP_ER_MEMORY:
        return ZE_MEM;
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_NOENT:
        return ZE_READ;
    case ZIP_ER_TMPOPEN:
        return ZE_CREAT;
    case ZIP_ER_RENAME:
        return ZE_TEMP;
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_SEEK:
    case ZIP_ER_REMOVE:
        return ZE_WRITE;
    default:
        return ZE_LOGIC;
    }
}

int codeForDamagedArchive(int libzipError) {
    switch (libzipError) {
    case ZIP_ER_MEMORY:
        return ZE_MEM;
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_NOENT:
        return ZE_READ;
    default:
        return ZE_FORM;
    }
}

// Modification times compared the way an entry stores them: local time in two-second steps.
std::uint32_t dosTime(std::time_t time) {
    const std::tm *local = std::localtime(&time);
    if (!local || local->tm_year < 80)
        return 0;
    return (static_cast<std::uint32_t>(local->tm_year - 80) << 25) |
           (static_cast<std::uint32_t>(local->tm_mon + 1) << 21) |
           (static_cast<std::uint32_t>(local->tm_mday) << 16) |
           (static_cast<std::uint32_t>(local->tm_hour) << 11) |
           (static_cast<std::uint32_t>(local->tm_min) << 5) |
           static_cast<std::uint32_t>(local->tm_sec / 2);
}

std::time_t modificationTime(const fs::path &path) {
    std::error_code error;
    const fs::file_time_type stamp = fs::last_write_time(path, error);
    if (error)
        return 0;
    return std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(stamp)));
}

// libzip writes the new archive as "<archive>.XXXXXX" beside it; a crash can leave one behind.
bool isLibzipLeftover(const std::string &name, const std::string &archiveName) {
    if (name.size() != archiveName.size() + 7 || name.compare(0, archiveName.size(), archiveName) ||
        name[archiveName.size()] != '.')
        return false;
    return std::all_of(name.begin() + archiveName.size() + 1, name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

enum class Action { Add, Update, Freshen };

struct PlannedEntry {
    const FoundFile *file;
    Action action;
    zip_uint64_t index;
    SourcePtr source; // our own reference, so that its error can be read after zip_close
};

class Run {
public:
    Run(const Settings &settings, const ZipCallbacks &callbacks, const std::string &archiveName)
        : m_settings(settings), m_callbacks(callbacks), m_archiveName8(archiveName),
          m_archiveName(utf8FromCodePage(archiveName)) {}

    int execute(const std::vector<std::string> &specs);

private:
    void say(const std::string &utf8Line) const;
    int fail(int code, const std::string &utf8Detail) const;
    int askPassword();
    int plan(zip_t *archive, const std::vector<FoundFile> &files, bool useExisting,
             std::vector<PlannedEntry> &planned);
    int setComment(zip_t *archive);
    int closeFailure(zip_t *archive, const std::vector<PlannedEntry> &planned);
    int report(const std::vector<PlannedEntry> &planned);

    const Settings &m_settings;
    const ZipCallbacks &m_callbacks;
    const std::string m_archiveName8; // as the caller gave it, for the callbacks
    const std::string m_archiveName;  // UTF-8, for paths and messages
    fs::path m_target;
    std::string m_password;
};

void Run::say(const std::string &utf8Line) const {
    if (!m_callbacks.print)
        return;
    const std::string text = codePageFromUtf8(utf8Line) + '\n';
    m_callbacks.print(text.c_str(), static_cast<std::uint32_t>(text.size()));
}

int Run::fail(int code, const std::string &utf8Detail) const {
    std::string line = std::string("zip error: ") + errorText(code);
    if (!utf8Detail.empty())
        line += " (" + utf8Detail + ")";
    say(line);
    return code;
}

int Run::execute(const std::vector<std::string> &specs) {
    if (m_settings.level < '0' || m_settings.level > '9')
        return fail(ZE_PARMS, "compression level must be 0 to 9");
    if (m_settings.rootFolder.empty())
        return fail(ZE_PARMS, "no root folder");
    const std::string rootText = utf8FromCodePage(m_settings.rootFolder);
    const fs::path root = pathFromUtf8(rootText);
    std::error_code error;
    if (!fs::is_directory(root, error))
        return fail(ZE_PARMS, "root folder not found: " + rootText);
    if (m_archiveName.empty() || m_archiveName == "." || m_archiveName == ".." ||
        m_archiveName.find_first_of("/\\") != std::string::npos)
        return fail(ZE_PARMS, "archive name must be a bare file name: " + m_archiveName);
    m_target = root / pathFromUtf8(m_archiveName);

    // Freshen wins over update: it is the narrower of the two.
    const bool freshen = m_settings.freshen;
    const bool update = m_settings.update && !freshen;
    const bool archiveExists = fs::exists(m_target, error);
    const bool useExisting = (update || freshen) && archiveExists;
    if (freshen && !archiveExists)
        return fail(ZE_NONE, m_archiveName);

    SelectionRules rules;
    for (const std::string &spec : specs) {
        std::string text = utf8FromCodePage(spec);
        std::replace(text.begin(), text.end(), '\\', '/');
        rules.specs.push_back(decodeUtf8(text));
    }
    rules.recurse = m_settings.recurse;
    rules.junkPaths = m_settings.junkPaths;
    rules.skipTopLevel = [this](const std::string &name) {
        return name == m_archiveName || isLibzipLeftover(name, m_archiveName);
    };
    const Selection selection = selectFiles(root, rules);
    if (!selection.unreadable.empty()) {
        say("zip warning: could not list folder: " + selection.unreadable);
        return fail(ZE_READ, selection.unreadable);
    }
    if (selection.files.empty())
        return fail(ZE_NONE, m_archiveName);
    if (m_settings.junkPaths) {
        const NameClash clash = findNameClash(selection.files);
        if (clash.first) {
            say("zip warning:   first full name: " + clash.first->relative);
            say("zip warning:  second full name: " + clash.second->relative);
            say("zip warning: name in zip file repeated: " + clash.second->entryName);
            return fail(ZE_DUPNAME, m_archiveName);
        }
    }

    int openError = 0;
    const std::string targetText = utf8Path(m_target);
    ArchivePtr archive(
        zip_open(targetText.c_str(), useExisting ? 0 : (ZIP_CREATE | ZIP_TRUNCATE), &openError));
    if (!archive) {
        if (!useExisting)
            return fail(openError == ZIP_ER_MEMORY ? ZE_MEM : ZE_CREAT, m_archiveName);
        return fail(codeForDamagedArchive(openError), m_archiveName);
    }

    if (m_settings.encrypt) {
        if (const int code = askPassword(); code != ZE_OK)
            return code;
    }

    std::vector<PlannedEntry> planned;
    if (const int code = plan(archive.get(), selection.files, useExisting, planned); code != ZE_OK)
        return code;
    if (planned.empty())
        return fail(ZE_NONE, m_archiveName);
    if (m_settings.comment) {
        if (const int code = setComment(archive.get()); code != ZE_OK)
            return code;
    }

    // libzip writes a temporary file beside the archive and renames it into place only when
    // everything was written; on failure the earlier archive stays as it was.
    if (zip_close(archive.get()) != 0)
        return closeFailure(archive.get(), planned);
    archive.release();
    return report(planned);
}

int Run::askPassword() {
    // Room beyond the announced size, so that a callback that ignores it cannot overrun us.
    std::vector<char> buffer(ZIP32_COMMENT_BUFFER + ZIP32_PASSWORD_BUFFER, 0);
    const int answer = m_callbacks.password
                           ? m_callbacks.password(buffer.data(), ZIP32_PASSWORD_BUFFER,
                                                  "Enter password: ", m_archiveName8.c_str())
                           : 1;
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    const bool fits = end - buffer.begin() < ZIP32_PASSWORD_BUFFER;
    if (answer == 0 && fits)
        m_password.assign(buffer.begin(), end);
    std::fill(buffer.begin(), buffer.end(), '\0');
    if (answer == 0 && !fits)
        return fail(ZE_PARMS, "password longer than " + std::to_string(ZIP32_PASSWORD_BUFFER - 1) +
                                  " characters");
    if (m_password.empty())
        return fail(ZE_NOPASSWORD, m_archiveName);
    return ZE_OK;
}

int Run::plan(zip_t *archive, const std::vector<FoundFile> &files, bool useExisting,
              std::vector<PlannedEntry> &planned) {
    for (const FoundFile &file : files) {
        Action action = Action::Add;
        const zip_int64_t existing =
            useExisting ? zip_name_locate(archive, file.entryName.c_str(), ZIP_FL_NOCASE) : -1;
        if (existing >= 0) {
            zip_stat_t entry;
            zip_stat_init(&entry);
            if (zip_stat_index(archive, static_cast<zip_uint64_t>(existing), 0, &entry) != 0 ||
                !(entry.valid & ZIP_STAT_MTIME))
                return fail(ZE_FORM, m_archiveName);
            if (dosTime(modificationTime(file.path)) <= dosTime(entry.mtime))
                continue; // the archive's copy is as new
            action = m_settings.freshen ? Action::Freshen : Action::Update;
        } else if (m_settings.freshen) {
            continue; // freshen never adds
        }

        if (m_callbacks.service) {
            const std::string name = codePageFromUtf8(file.entryName);
            const auto size = static_cast<std::int32_t>(
                std::min<std::uintmax_t>(file.size, static_cast<std::uintmax_t>(INT32_MAX)));
            if (m_callbacks.service(name.c_str(), size) != 0)
                return fail(ZE_ABORT, "");
        }

        if (!std::ifstream(file.path, std::ios::binary).is_open()) {
            say("zip warning: could not open for reading: " + file.relative);
            return fail(ZE_READ, file.relative);
        }
        zip_error_t error;
        zip_error_init(&error);
        SourcePtr source(zip_source_file_create(utf8Path(file.path).c_str(), 0, -1, &error));
        const int sourceError = zip_error_code_zip(&error);
        zip_error_fini(&error);
        if (!source)
            return fail(sourceError == ZIP_ER_MEMORY ? ZE_MEM : ZE_READ, file.relative);

        zip_int64_t index = existing;
        if (existing >= 0) {
            if (zip_file_replace(archive, static_cast<zip_uint64_t>(existing), source.get(), 0) !=
                0)
                index = -1;
        } else {
            index = zip_file_add(archive, file.entryName.c_str(), source.get(), ZIP_FL_ENC_GUESS);
        }
        if (index < 0) // libzip did not take the source: ours frees it
            return fail(codeForLibzipError(zip_error_code_zip(zip_get_error(archive))),
                        file.entryName);
        zip_source_keep(source.get());
        const auto entryIndex = static_cast<zip_uint64_t>(index);

        // Empty files are stored, as deflating nothing only adds bytes.
        const bool store = m_settings.level == '0' || file.size == 0;
        const int compressed =
            store ? zip_set_file_compression(archive, entryIndex, ZIP_CM_STORE, 0)
                  : zip_set_file_compression(archive, entryIndex, ZIP_CM_DEFLATE,
                                             static_cast<zip_uint32_t>(m_settings.level - '0'));
        // A replaced entry must not inherit the encryption of the entry it replaces.
        const int encrypted =
            m_settings.encrypt ? zip_file_set_encryption(archive, entryIndex, ZIP_EM_TRAD_PKWARE,
                                                         m_password.c_str())
                               : zip_file_set_encryption(archive, entryIndex, ZIP_EM_NONE, nullptr);
        if (compressed != 0 || encrypted != 0)
            return fail(codeForLibzipError(zip_error_code_zip(zip_get_error(archive))),
                        file.entryName);
        planned.push_back({&file, action, entryIndex, std::move(source)});
    }
    return ZE_OK;
}

int Run::setComment(zip_t *archive) {
    std::vector<char> buffer(ZIP32_COMMENT_BUFFER, 0);
    if (m_callbacks.comment)
        m_callbacks.comment(buffer.data()); // its result carries no meaning
    buffer.back() = '\0';
    // libzip keeps archive comments in UTF-8 only, so the caller's 8-bit text is converted.
    const std::string comment = utf8FromCodePage(buffer.data());
    const int result = comment.empty()
                           ? zip_set_archive_comment(archive, nullptr, 0)
                           : zip_set_archive_comment(archive, comment.data(),
                                                     static_cast<zip_uint16_t>(comment.size()));
    if (result != 0)
        return fail(codeForLibzipError(zip_error_code_zip(zip_get_error(archive))), "comment");
    return ZE_OK;
}

int Run::closeFailure(zip_t *archive, const std::vector<PlannedEntry> &planned) {
    // A file that vanished or turned unreadable since it was planned names itself.
    for (const PlannedEntry &entry : planned) {
        if (zip_error_code_zip(zip_source_error(entry.source.get())) != ZIP_ER_OK) {
            say("zip warning: could not open for reading: " + entry.file->relative);
            return fail(ZE_READ, entry.file->relative);
        }
    }
    const zip_error_t *error = zip_get_error(archive);
    say(std::string("zip warning: ") + zip_strerror(archive));
    return fail(codeForLibzipError(zip_error_code_zip(error)), m_archiveName);
}

int Run::report(const std::vector<PlannedEntry> &planned) {
    int openError = 0;
    ArchivePtr written(zip_open(utf8Path(m_target).c_str(), ZIP_RDONLY, &openError));
    if (!written)
        return fail(ZE_WRITE, "the written archive cannot be read back");
    for (const PlannedEntry &entry : planned) {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(written.get(), entry.index, 0, &stat) != 0)
            return fail(ZE_WRITE, "the written archive cannot be read back");
        zip_uint64_t packed = stat.comp_size;
        if (stat.encryption_method != ZIP_EM_NONE && packed >= TraditionalHeaderSize)
            packed -= TraditionalHeaderSize;
        const long long ratio =
            stat.size == 0
                ? 0
                : std::llround(100.0 *
                               (static_cast<double>(stat.size) - static_cast<double>(packed)) /
                               static_cast<double>(stat.size));
        const char *prefix = entry.action == Action::Add      ? "  adding: "
                             : entry.action == Action::Update ? "updating: "
                                                              : "freshening: ";
        const char *method = stat.comp_method == ZIP_CM_STORE ? "stored" : "deflated";
        say(prefix + std::string(stat.name ? stat.name : entry.file->entryName.c_str()) + " (" +
            method + " " + std::to_string(ratio) + "%)");
    }
    return ZE_OK;
}

} // namespace

int runArchive(const Settings &settings, const ZipCallbacks &callbacks,
               const std::string &archiveName, const std::vector<std::string> &specs) {
    try {
        Run run(settings, callbacks, archiveName);
        return run.execute(specs);
    } catch (const std::bad_alloc &) {
        return ZE_MEM;
    } catch (...) {
        return ZE_LOGIC;
    }
}

} // namespace zip32
