#include "ArchiveRun.h"

#include "BufferedArchive.h"
#include "FileSelection.h"
#include "Packer.h"
#include "Reporter.h"
#include "Text.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
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

struct EntryCloser {
    void operator()(zip_file_t *file) const { zip_fclose(file); }
};

// Every entry the engine writes looks the same whatever the file's mode on disk: a plain
// file, readable by all, writable by its owner.
constexpr zip_uint32_t PlainFileAttributes = 0100644u << 16;

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
    case ZIP_ER_CANCELLED:
        return ZE_ABORT;
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_SEEK:
    case ZIP_ER_REMOVE:
        return ZE_WRITE;
    default:
        return ZE_LOGIC;
    }
}

// The cause of a libzip error as the end of a sentence.
std::string libzipCause(const zip_error_t *error) {
    if (zip_error_system_type(error) == ZIP_ET_SYS && zip_error_code_system(error) != 0)
        return causeText(zip_error_code_system(error));
    zip_error_t plain;
    zip_error_init_with_code(&plain, zip_error_code_zip(error));
    std::string text = zip_error_strerror(&plain);
    zip_error_fini(&plain);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

// zip_open() with the archive's writes gathered into large ones (BufferedArchive.h): the same
// archive and the same errors.
zip_t *openArchive(const fs::path &path, int flags, int &error) {
    zip_error_t why;
    zip_error_init(&why);
    zip_t *archive = nullptr;
    if (zip_source_t *source = bufferedArchiveFile(path, &why)) {
        archive = zip_open_from_source(source, flags, &why);
        if (!archive)
            zip_source_free(source);
    }
    error = zip_error_code_zip(&why);
    zip_error_fini(&why);
    return archive;
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

// libzip keeps only comments that read as ASCII or UTF-8, while the caller's comment is in the
// code page, as the readme it quotes is: a reader must find the same bytes in both. So libzip
// stores a stand-in of the same length, '?' for each byte above 127, and the real bytes are
// written over it once the archive is in place.
std::string asciiStandIn(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) > 127; }, '?');
    return text;
}

// Writes `comment` over the stand-in that ends `archive`, after the end record's 22 bytes,
// whose last two give the comment's length. 0, or the system's error number (EINVAL when the
// end record is not where it must be).
int overwriteComment(const fs::path &archive, const std::string &comment) {
    const FilePtr file = openFile(archive, true);
    if (!file)
        return errno ? errno : EIO;
    const long recordSize = 22 + static_cast<long>(comment.size());
    unsigned char record[22] = {};
    if (std::fseek(file.get(), -recordSize, SEEK_END) != 0 ||
        std::fread(record, 1, sizeof record, file.get()) != sizeof record)
        return errno ? errno : EIO;
    const std::size_t length = record[20] | record[21] << 8;
    const bool endRecord = record[0] == 'P' && record[1] == 'K' && record[2] == 5 &&
                           record[3] == 6 && length == comment.size();
    if (!endRecord)
        return EINVAL;
    // Between a read and a write the stream must be positioned anew.
    if (std::fseek(file.get(), -static_cast<long>(comment.size()), SEEK_END) != 0 ||
        std::fwrite(comment.data(), 1, comment.size(), file.get()) != comment.size() ||
        std::fflush(file.get()) != 0)
        return errno ? errno : EIO;
    return 0;
}

bool isValidUtf8(const std::string &text) {
    for (const char32_t c : decodeUtf8(text)) {
        if (c >= 0xDC80 && c <= 0xDCFF)
            return false;
    }
    return true;
}

class Run {
public:
    Run(const Settings &settings, const ZipCallbacks &callbacks, const std::string &archiveName)
        : m_settings(settings), m_callbacks(callbacks), m_reporter(callbacks),
          m_archiveName(archiveName) {}

    int execute(const std::vector<std::string> &specs);

private:
    int fail(int code, const std::string &sentence);
    int checkSettings();
    int select(const std::vector<std::string> &specs, Selection &selection);
    int open(bool useExisting, ArchivePtr &archive);
    int write(ArchivePtr &archive, Packer &packer);
    int askPassword();
    int plan(zip_t *archive, Packer &packer, const std::vector<FoundFile> &files, bool useExisting,
             std::vector<std::uint64_t> &weights);
    // Plans `file` as a new entry, or in place of the entry at `earlier` (null: none has its
    // name); `index` gets its entry's index, or stays -1 when the file is left as it is.
    int planFile(zip_t *archive, Packer &packer, const FoundFile &file, const zip_uint64_t *earlier,
                 zip_int64_t &index);
    // The entry's time, attributes and encryption.
    int describeEntry(zip_t *archive, zip_uint64_t index, std::time_t entryTime,
                      const FoundFile &file);
    int addFailure(zip_t *archive, const FoundFile &file);
    int carryOver(zip_t *archive, Packer &packer, const std::vector<bool> &replaced,
                  std::vector<std::uint64_t> &weights);
    int checkPassword(zip_t *archive, zip_uint64_t index, const std::string &name);
    int setComment(zip_t *archive);
    int storeCommentBytes();
    int closeFailure(zip_t *archive, const Packer &packer);

    const Settings &m_settings;
    const ZipCallbacks &m_callbacks;
    Reporter m_reporter;
    const std::string m_archiveName; // UTF-8, for paths and messages
    fs::path m_root;
    fs::path m_target;
    std::string m_password;
    std::string m_comment; // in the code page
    std::size_t m_planned = 0;
};

int Run::fail(int code, const std::string &sentence) {
    m_reporter.say(sentence);
    return code;
}

int Run::execute(const std::vector<std::string> &specs) {
    if (const int code = checkSettings(); code != ZE_OK)
        return code;
    m_reporter.tick();

    // Freshen wins over update: it is the narrower of the two.
    const bool freshen = m_settings.freshen;
    const bool update = m_settings.update && !freshen;
    std::error_code error;
    const bool archiveExists = fs::exists(m_target, error);
    const bool useExisting = (update || freshen) && archiveExists;
    if (freshen && !archiveExists)
        return fail(ZE_NONE, "Nothing to freshen: " + m_archiveName + " does not exist yet.");

    Selection selection;
    if (const int code = select(specs, selection); code != ZE_OK)
        return code;

    // The packer outlives the archive: libzip calls the packer's sources until it lets go.
    Packer packer(m_reporter, m_settings.level - '0', m_settings.threads);
    ArchivePtr archive;
    if (const int code = open(useExisting, archive); code != ZE_OK)
        return code;
    if (m_settings.encrypt) {
        if (const int code = askPassword(); code != ZE_OK)
            return code;
    }
    std::vector<std::uint64_t> weights;
    if (const int code = plan(archive.get(), packer, selection.files, useExisting, weights);
        code != ZE_OK)
        return code;
    if (m_planned == 0)
        return fail(ZE_NONE, "Nothing to " + std::string(freshen ? "freshen" : "update") + " in " +
                                 m_archiveName + ": every file in it is up to date.");
    if (m_settings.comment) {
        if (const int code = setComment(archive.get()); code != ZE_OK)
            return code;
    }
    m_reporter.setEntryWeights(std::move(weights));
    return write(archive, packer);
}

int Run::checkSettings() {
    if (m_settings.level < '0' || m_settings.level > '9')
        return fail(ZE_PARMS, "The compression level must be a digit from 0 to 9.");
    if (m_settings.threads < 0)
        return fail(ZE_PARMS, "The number of worker threads must not be negative.");
    if (m_settings.rootFolder.empty())
        return fail(ZE_PARMS, "No folder to pack was given.");
    m_root = pathFromUtf8(m_settings.rootFolder);
    std::error_code error;
    if (!fs::is_directory(m_root, error))
        return fail(ZE_PARMS, "The folder to pack does not exist: " + m_settings.rootFolder + ".");
    if (m_archiveName.empty() || m_archiveName == "." || m_archiveName == ".." ||
        m_archiveName.find_first_of("/\\") != std::string::npos)
        return fail(ZE_PARMS, "The archive name must be a file name without a folder: " +
                                  m_archiveName + ".");
    m_target = m_root / pathFromUtf8(m_archiveName);
    return ZE_OK;
}

int Run::select(const std::vector<std::string> &specs, Selection &selection) {
    SelectionRules rules;
    for (std::string text : specs) {
        std::replace(text.begin(), text.end(), '\\', '/');
        rules.specs.push_back(decodeUtf8(text));
    }
    rules.recurse = m_settings.recurse;
    rules.junkPaths = m_settings.junkPaths;
    // Neither the archive nor what a killed run's writing of it left beside it is packed.
    rules.skipTopLevel = [this](const std::string &name) {
        return name == m_archiveName || isTemporaryArchiveName(name, m_archiveName);
    };
    rules.keepGoing = [this] { return m_reporter.tick(); };
    selection = selectFiles(m_root, rules);
    if (m_reporter.cancelled())
        return fail(ZE_ABORT, "Cancelled: " + m_archiveName + " was not written.");
    if (!selection.unreadable.empty())
        return fail(ZE_READ, "Could not list the folder " + selection.unreadable + ": " +
                                 selection.cause + ".");
    if (selection.files.empty())
        return fail(ZE_NONE, "Nothing to pack: no file in " + m_settings.rootFolder +
                                 " matches the file names asked for.");
    if (m_settings.junkPaths) {
        const NameClash clash = findNameClash(selection.files);
        if (clash.first)
            return fail(ZE_DUPNAME,
                        "Could not leave out the folder names: " + clash.first->relative + " and " +
                            clash.second->relative + " would both be stored as " +
                            clash.second->entryName + ".");
    }
    return ZE_OK;
}

int Run::open(bool useExisting, ArchivePtr &archive) {
    int openError = 0;
    archive.reset(openArchive(m_target, useExisting ? 0 : (ZIP_CREATE | ZIP_TRUNCATE), openError));
    if (archive)
        return ZE_OK;
    if (openError == ZIP_ER_MEMORY)
        return fail(ZE_MEM, "Ran out of memory while opening " + m_archiveName + ".");
    if (!useExisting)
        return fail(ZE_CREAT,
                    "Could not create " + m_archiveName + " in " + m_settings.rootFolder + ".");
    if (openError == ZIP_ER_OPEN || openError == ZIP_ER_READ || openError == ZIP_ER_SEEK)
        return fail(ZE_READ, "Could not read the earlier " + m_archiveName + ".");
    return fail(ZE_FORM,
                "Could not update " + m_archiveName + ": it is damaged or not a ZIP archive.");
}

int Run::write(ArchivePtr &archive, Packer &packer) {
    zip_register_progress_callback_with_state(
        archive.get(), 0.001,
        [](zip_t *, double share, void *reporter) {
            static_cast<Reporter *>(reporter)->reachEntryShare(share);
        },
        nullptr, &m_reporter);
    zip_register_cancel_callback_with_state(
        archive.get(),
        [](zip_t *, void *reporter) { return static_cast<Reporter *>(reporter)->tick() ? 0 : 1; },
        nullptr, &m_reporter);

    // libzip writes a temporary file beside the archive and renames it into place only when
    // everything was written; on failure the earlier archive stays as it was.
    packer.start(archive.get());
    if (zip_close(archive.get()) != 0)
        return closeFailure(archive.get(), packer);
    archive.release();
    if (const int code = storeCommentBytes(); code != ZE_OK)
        return code;
    m_reporter.finish(); // the archive is in place: too late to cancel
    return ZE_OK;
}

int Run::askPassword() {
    // Room beyond the announced size, so that a callback that ignores it cannot overrun us.
    std::vector<char> buffer(ZIP32_COMMENT_BUFFER + ZIP32_PASSWORD_BUFFER, 0);
    const std::string name = codePageFromUtf8(m_archiveName);
    const int answer = m_callbacks.password
                           ? m_callbacks.password(buffer.data(), ZIP32_PASSWORD_BUFFER,
                                                  "Enter password: ", name.c_str())
                           : 1;
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    const bool fits = end - buffer.begin() < ZIP32_PASSWORD_BUFFER;
    if (answer == 0 && fits)
        m_password.assign(buffer.begin(), end);
    std::fill(buffer.begin(), buffer.end(), '\0');
    if (answer == 0 && !fits)
        return fail(ZE_PARMS, "The password is longer than " +
                                  std::to_string(ZIP32_PASSWORD_BUFFER - 1) + " characters.");
    if (m_password.empty())
        return fail(ZE_NOPASSWORD, "No password was given, so " + m_archiveName +
                                       " was not written: it would have been unprotected.");
    return ZE_OK;
}

int Run::plan(zip_t *archive, Packer &packer, const std::vector<FoundFile> &files, bool useExisting,
              std::vector<std::uint64_t> &weights) {
    // Existing entries by name, letter case ignored as the file system of the game ignores it.
    std::map<std::u32string, zip_uint64_t> existing;
    const zip_int64_t existingCount = useExisting ? zip_get_num_entries(archive, 0) : 0;
    for (zip_int64_t i = 0; i < existingCount; ++i) {
        if (const char *name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0))
            existing.emplace(foldCase(decodeUtf8(name)), static_cast<zip_uint64_t>(i));
    }
    std::vector<bool> replaced(static_cast<std::size_t>(existingCount), false);
    weights.assign(static_cast<std::size_t>(existingCount), 0);

    for (const FoundFile &file : files) {
        if (!m_reporter.tick())
            return fail(ZE_ABORT, "Cancelled: " + m_archiveName + " was not written.");
        const auto found = existing.find(foldCase(decodeUtf8(file.entryName)));
        const zip_uint64_t *earlier = found != existing.end() ? &found->second : nullptr;
        zip_int64_t index = -1;
        if (const int code = planFile(archive, packer, file, earlier, index); code != ZE_OK)
            return code;
        if (index < 0)
            continue; // nothing to do for this file
        const auto entryIndex = static_cast<zip_uint64_t>(index);
        ++m_planned;
        if (entryIndex < replaced.size())
            replaced[entryIndex] = true;
        if (weights.size() <= entryIndex)
            weights.resize(entryIndex + 1, 0);
        weights[entryIndex] = std::max<std::uint64_t>(file.size, 1);
    }
    if (m_planned == 0)
        return ZE_OK;
    return carryOver(archive, packer, replaced, weights);
}

int Run::planFile(zip_t *archive, Packer &packer, const FoundFile &file,
                  const zip_uint64_t *earlier, zip_int64_t &index) {
    Action action = Action::Add;
    const std::time_t fileTime = modificationTime(file.path);
    if (earlier) {
        zip_stat_t entry;
        zip_stat_init(&entry);
        if (zip_stat_index(archive, *earlier, 0, &entry) != 0 || !(entry.valid & ZIP_STAT_MTIME))
            return fail(ZE_FORM, "Could not update " + m_archiveName +
                                     ": it is damaged or not a ZIP archive.");
        if (dosTime(fileTime) <= dosTime(entry.mtime))
            return ZE_OK; // the archive's copy is as new
        action = m_settings.freshen ? Action::Freshen : Action::Update;
    } else if (m_settings.freshen) {
        return ZE_OK; // freshen never adds
    }

    const std::time_t entryTime =
        m_settings.entryTime ? static_cast<std::time_t>(m_settings.entryTime) : fileTime;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = packer.add(file, action, entryTime, &error);
    const int sourceError = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (!source)
        return fail(sourceError == ZIP_ER_MEMORY ? ZE_MEM : ZE_LOGIC,
                    "Could not prepare " + file.relative + " for packing.");
    if (earlier) {
        if (zip_file_replace(archive, *earlier, source, 0) == 0)
            index = static_cast<zip_int64_t>(*earlier);
    } else {
        // Names that are not plain ASCII are stored as UTF-8 and flagged so.
        const zip_flags_t encoding =
            isValidUtf8(file.entryName) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_RAW;
        index = zip_file_add(archive, file.entryName.c_str(), source, encoding);
    }
    if (index < 0) { // libzip did not take the source
        zip_source_free(source);
        return addFailure(archive, file);
    }
    packer.placeLast(static_cast<zip_uint64_t>(index));
    return describeEntry(archive, static_cast<zip_uint64_t>(index), entryTime, file);
}

int Run::describeEntry(zip_t *archive, zip_uint64_t index, std::time_t entryTime,
                       const FoundFile &file) {
    // The time first: it keeps libzip's record of the entry's changes from ever being
    // empty, which the compression method set while writing relies on.
    const int timed = zip_file_set_mtime(archive, index, entryTime, 0);
    const int plain =
        zip_file_set_external_attributes(archive, index, 0, ZIP_OPSYS_UNIX, PlainFileAttributes);
    // A replaced entry must not inherit the encryption of the entry it replaces.
    const int encrypted =
        m_settings.encrypt
            ? zip_file_set_encryption(archive, index, ZIP_EM_TRAD_PKWARE, m_password.c_str())
            : zip_file_set_encryption(archive, index, ZIP_EM_NONE, nullptr);
    if (timed != 0 || plain != 0 || encrypted != 0)
        return addFailure(archive, file);
    return ZE_OK;
}

int Run::addFailure(zip_t *archive, const FoundFile &file) {
    return fail(codeForLibzipError(zip_error_code_zip(zip_get_error(archive))),
                "Could not add " + file.entryName + " to " + m_archiveName + ": " +
                    libzipCause(zip_get_error(archive)) + ".");
}

int Run::carryOver(zip_t *archive, Packer &packer, const std::vector<bool> &replaced,
                   std::vector<std::uint64_t> &weights) {
    for (zip_uint64_t i = 0; i < replaced.size(); ++i) {
        if (replaced[i])
            continue;
        zip_stat_t entry;
        zip_stat_init(&entry);
        if (zip_stat_index(archive, i, 0, &entry) != 0)
            return fail(ZE_FORM, "Could not update " + m_archiveName +
                                     ": it is damaged or not a ZIP archive.");
        const std::string name = entry.name ? entry.name : "";
        weights[i] = std::max<std::uint64_t>(entry.comp_size, 1);
        // Without a password kept entries are copied byte for byte, encrypted or not.
        if (!m_settings.encrypt)
            continue;
        if (entry.encryption_method != ZIP_EM_NONE) {
            if (const int code = checkPassword(archive, i, name); code != ZE_OK)
                return code;
            continue; // already locked with this password
        }
        // Its data goes over as it is stored, and only gets encrypted on the way.
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t *source = packer.carry(archive, i, name, &error);
        zip_error_fini(&error);
        if (source && zip_file_replace(archive, i, source, 0) != 0) {
            zip_source_free(source);
            source = nullptr;
        }
        if (!source ||
            zip_file_set_encryption(archive, i, ZIP_EM_TRAD_PKWARE, m_password.c_str()) != 0)
            return fail(codeForLibzipError(zip_error_code_zip(zip_get_error(archive))),
                        "Could not encrypt " + name + " of " + m_archiveName + ".");
        packer.placeLast(i);
    }
    return ZE_OK;
}

int Run::checkPassword(zip_t *archive, zip_uint64_t index, const std::string &name) {
    const std::string refused = "Could not encrypt " + name + " of " + m_archiveName +
                                " with this password: it is locked with another one.";
    std::unique_ptr<zip_file_t, EntryCloser> file(
        zip_fopen_index_encrypted(archive, index, 0, m_password.c_str()));
    if (!file) {
        const int error = zip_error_code_zip(zip_get_error(archive));
        if (error == ZIP_ER_WRONGPASSWD || error == ZIP_ER_NOPASSWD)
            return fail(ZE_READ, refused);
        return fail(error == ZIP_ER_MEMORY ? ZE_MEM : ZE_FORM,
                    "Could not read " + name + " of " + m_archiveName + ": " +
                        libzipCause(zip_get_error(archive)) + ".");
    }
    // The check byte of traditional encryption lets one password in 256 through: only the
    // data's checksum tells for sure.
    std::vector<char> buffer(64 << 10);
    zip_int64_t got = 0;
    while ((got = zip_fread(file.get(), buffer.data(), buffer.size())) > 0) {
        if (!m_reporter.tick())
            return fail(ZE_ABORT, "Cancelled: " + m_archiveName + " was not written.");
    }
    if (got < 0)
        return fail(ZE_READ, refused);
    return ZE_OK;
}

int Run::setComment(zip_t *archive) {
    std::vector<char> buffer(ZIP32_COMMENT_BUFFER, 0);
    if (m_callbacks.comment)
        m_callbacks.comment(buffer.data()); // its result carries no meaning
    buffer.back() = '\0';
    m_comment = buffer.data();
    const std::string standIn = asciiStandIn(m_comment);
    const int result = standIn.empty()
                           ? zip_set_archive_comment(archive, nullptr, 0)
                           : zip_set_archive_comment(archive, standIn.data(),
                                                     static_cast<zip_uint16_t>(standIn.size()));
    if (result != 0)
        return fail(codeForLibzipError(zip_error_code_zip(zip_get_error(archive))),
                    "Could not store the comment of " + m_archiveName + ": " +
                        libzipCause(zip_get_error(archive)) + ".");
    return ZE_OK;
}

int Run::storeCommentBytes() {
    if (m_comment == asciiStandIn(m_comment))
        return ZE_OK;
    if (const int error = overwriteComment(m_target, m_comment); error != 0)
        return fail(ZE_WRITE, "Could not store the comment of " + m_archiveName + ": " +
                                  causeText(error) + ".");
    return ZE_OK;
}

int Run::closeFailure(zip_t *archive, const Packer &packer) {
    if (m_reporter.cancelled())
        return fail(ZE_ABORT, "Cancelled: " + m_archiveName + " was not written.");
    if (packer.failure().code != ZE_OK)
        return fail(packer.failure().code, packer.failure().message);
    const zip_error_t *error = zip_get_error(archive);
    const std::string cause = libzipCause(error);
    switch (const int code = codeForLibzipError(zip_error_code_zip(error))) {
    case ZE_CREAT:
        return fail(code, "Could not create " + m_archiveName + " in " + m_settings.rootFolder +
                              ": " + cause + ".");
    case ZE_TEMP:
        return fail(code, "Could not move the finished archive into place as " + m_archiveName +
                              ": " + cause + ".");
    case ZE_MEM:
        return fail(code, "Ran out of memory while writing " + m_archiveName + ".");
    case ZE_READ:
        return fail(code, "Could not read the earlier " + m_archiveName + ": " + cause + ".");
    case ZE_WRITE:
        return fail(code, "Could not write " + m_archiveName + ": " + cause + ".");
    default:
        return fail(code, "Internal error of the engine while writing " + m_archiveName + ": " +
                              cause + ".");
    }
}

} // namespace

int runArchive(const Settings &settings, const ZipCallbacks &callbacks,
               const std::string &archiveName, const std::vector<std::string> &specs) {
    try {
        Run run(settings, callbacks, archiveName);
        return run.execute(specs);
    } catch (const std::bad_alloc &) {
        Reporter(callbacks).say("Ran out of memory while packing " + archiveName + ".");
        return ZE_MEM;
    } catch (...) {
        Reporter(callbacks).say("Internal error of the engine while packing " + archiveName + ".");
        return ZE_LOGIC;
    }
}

} // namespace zip32
