#include "FakeZip32.h"

#include <cstring>

namespace {
FakeZip32State g_state;

std::optional<std::string> copied(const char *text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}
} // namespace

extern "C" ZIP32_API FakeZip32State *fakeZip32State() {
    return &g_state;
}

extern "C" ZIP32_API int ZIP32_CALL ZpInit(const ZipCallbacks *callbacks) {
    g_state.calls.push_back("ZpInit");
    g_state.callbacks = callbacks;
    return g_state.initResult;
}

extern "C" ZIP32_API int ZIP32_CALL ZpSetOptions(const ZipOptions *options) {
    g_state.calls.push_back("ZpSetOptions");
    const auto *bytes = reinterpret_cast<const unsigned char *>(options);
    g_state.optionBytes.assign(bytes, bytes + sizeof(ZipOptions));
    g_state.dateFilter = copied(options->DateFilter);
    g_state.rootFolder = copied(options->RootFolder);
    g_state.tempFolder = copied(options->TempFolder);
    return 1;
}

extern "C" ZIP32_API int ZIP32_CALL ZpSetExtras(const ZipExtras *extras) {
    g_state.calls.push_back("ZpSetExtras");
    g_state.extras = *extras;
    return 1;
}

// Built a second time without this entry point, to stand for a broken engine library.
#ifndef FAKE_ZIP32_WITHOUT_ARCHIVE
extern "C" ZIP32_API int ZIP32_CALL ZpArchive(int32_t fileCount, const char *archiveName,
                                              const ZipFileSpecs *specs) {
    g_state.calls.push_back("ZpArchive");
    g_state.fileCount = fileCount;
    g_state.archiveName = copied(archiveName);
    for (int i = 0; i < ZIP32_MAX_FILESPECS; ++i)
        g_state.specs[i] = copied(specs->Spec[i]);
    if (g_state.archiveAction)
        return g_state.archiveAction(*g_state.callbacks);
    return g_state.archiveResult;
}
#endif
