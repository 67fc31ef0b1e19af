#pragma once
// A stand-in for the archive engine: records what the binding hands over and lets a test
// drive the callbacks from inside ZpArchive. The test reaches it through fakeZip32State(),
// resolved from the same library file the binding loads.

#include "zip32.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct FakeZip32State {
    // Steering.
    int initResult = 1;
    int archiveResult = 0;
    // Runs inside ZpArchive with the registered callbacks; its result replaces archiveResult.
    std::function<int(const ZipCallbacks &)> archiveAction;

    // Records.
    std::vector<std::string> calls; // "ZpInit", "ZpSetOptions", ... in call order
    const ZipCallbacks *callbacks = nullptr;
    std::vector<unsigned char> optionBytes; // the last ZipOptions, byte for byte
    std::optional<ZipExtras> extras;        // the last ZpSetExtras
    std::optional<std::string> dateFilter, rootFolder, tempFolder;
    int32_t fileCount = -1;
    std::optional<std::string> archiveName;
    std::array<std::optional<std::string>, ZIP32_MAX_FILESPECS> specs;

    int count(const std::string &call) const {
        int n = 0;
        for (const auto &c : calls)
            n += c == call ? 1 : 0;
        return n;
    }
};

using FakeZip32StateFunction = FakeZip32State *(*)();
