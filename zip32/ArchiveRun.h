#pragma once
// One ZpArchive call: select the files, write the archive through libzip, report.

#include "zip32.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zip32 {

// The options of ZpSetOptions, copied so that the caller may free its texts.
struct Settings {
    std::string rootFolder; // the file system's encoding; empty when none was given
    bool encrypt = false;
    bool junkPaths = false;
    bool update = false;
    bool freshen = false;
    bool comment = false;
    bool recurse = false;
    char level = 0;
    std::uint32_t entryTime = 0; // 0: each entry gets its file's time
    std::int32_t threads = 0;    // 0: one worker per core
};

// Writes `archiveName` (a bare file name) inside settings.rootFolder from the files matching
// `specs` (wildcards); names and specs in the file system's encoding. Returns ZE_OK or a ZE_
// code; on failure any earlier archive of that name is left as it was and no temporary file
// remains. Never throws.
int runArchive(const Settings &settings, const ZipCallbacks &callbacks,
               const std::string &archiveName, const std::vector<std::string> &specs);

} // namespace zip32
