// The engine's C entry points. The engine keeps one set of callbacks and one set of options
// between calls, as its callers expect; a run works on its own copies of both.
#include "zip32.h"

#include "ArchiveRun.h"

#include <optional>
#include <string>
#include <vector>

namespace {

struct EngineState {
    std::optional<ZipCallbacks> callbacks;   // set by ZpInit
    std::optional<zip32::Settings> settings; // set by ZpSetOptions
    bool running = false;                    // a callback must not start a second run
};

EngineState &engine() {
    static EngineState state;
    return state;
}

void sayError(const ZipCallbacks &callbacks, const char *text) {
    if (!callbacks.print)
        return;
    const std::string line = std::string("zip error: ") + text + '\n';
    callbacks.print(line.c_str(), static_cast<uint32_t>(line.size()));
}

} // namespace

int ZIP32_CALL ZpInit(const ZipCallbacks *callbacks) {
    // A missing table is allowed: the engine then works silently, without a password or comment.
    engine().callbacks = callbacks ? *callbacks : ZipCallbacks{};
    return 1;
}

int ZIP32_CALL ZpSetOptions(const ZipOptions *options) {
    EngineState &state = engine();
    state.settings.reset();
    if (!options)
        return 0;
    try {
        zip32::Settings settings;
        if (options->RootFolder)
            settings.rootFolder = options->RootFolder;
        settings.encrypt = options->EncryptFlag != 0;
        settings.junkPaths = options->JunkPathsFlag != 0;
        settings.update = options->UpdateFlag != 0;
        settings.freshen = options->FreshenFlag != 0;
        settings.comment = options->CommentFlag != 0;
        settings.recurse = options->RecurseFlag != 0;
        settings.level = options->LevelChar;
        state.settings = std::move(settings);
        return 1;
    } catch (...) {
        return 0;
    }
}

int ZIP32_CALL ZpArchive(int32_t fileCount, const char *archiveName, const ZipFileSpecs *specs) {
    EngineState &state = engine();
    const ZipCallbacks callbacks = state.callbacks.value_or(ZipCallbacks{});
    if (!state.callbacks || !state.settings) {
        sayError(callbacks, "Invalid command arguments (engine not initialised or no options set)");
        return ZE_PARMS;
    }
    if (state.running) {
        sayError(callbacks, "Internal logic error (a run is already in progress)");
        return ZE_LOGIC;
    }
    if (!archiveName || !specs || fileCount < 1 || fileCount > ZIP32_MAX_FILESPECS) {
        sayError(callbacks, "Invalid command arguments (archive name or file specs)");
        return ZE_PARMS;
    }
    try {
        std::vector<std::string> specTexts;
        for (int32_t i = 0; i < fileCount; ++i) {
            if (!specs->Spec[i] || !*specs->Spec[i]) {
                sayError(callbacks, "Invalid command arguments (empty file spec)");
                return ZE_PARMS;
            }
            specTexts.emplace_back(specs->Spec[i]);
        }
        const zip32::Settings settings = *state.settings;
        state.running = true;
        const int result = zip32::runArchive(settings, callbacks, archiveName, specTexts);
        state.running = false;
        return result;
    } catch (...) {
        state.running = false;
        return ZE_MEM;
    }
}
