// The engine's C entry points. The engine keeps one set of callbacks and one set of options
// between calls, as its callers expect; a run works on its own copies of both.
#include "zip32.h"

#include "ArchiveRun.h"
#include "Reporter.h"

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

void sayError(const ZipCallbacks &callbacks, const char *sentence) {
    zip32::Reporter(callbacks).say(sentence);
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

int ZIP32_CALL ZpSetExtras(const ZipExtras *extras) {
    EngineState &state = engine();
    if (!extras || !state.settings)
        return 0;
    state.settings->entryTime = extras->EntryTime;
    state.settings->threads = extras->Threads;
    return 1;
}

int ZIP32_CALL ZpArchive(int32_t fileCount, const char *archiveName, const ZipFileSpecs *specs) {
    EngineState &state = engine();
    const ZipCallbacks callbacks = state.callbacks.value_or(ZipCallbacks{});
    if (!state.callbacks || !state.settings) {
        sayError(callbacks, "The engine was not started, or no options were set for this run.");
        return ZE_PARMS;
    }
    if (state.running) {
        sayError(callbacks, "Internal error of the engine: a run is already in progress.");
        return ZE_LOGIC;
    }
    if (!archiveName || !specs || fileCount < 1 || fileCount > ZIP32_MAX_FILESPECS) {
        sayError(callbacks, "No archive name or no file names to pack were given.");
        return ZE_PARMS;
    }
    try {
        std::vector<std::string> specTexts;
        for (int32_t i = 0; i < fileCount; ++i) {
            if (!specs->Spec[i] || !*specs->Spec[i]) {
                sayError(callbacks, "One of the file names to pack is empty.");
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
        sayError(callbacks, "Ran out of memory.");
        return ZE_MEM;
    }
}
