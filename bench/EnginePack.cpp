// The engine alone on a folder, and the floor it is measured against: the same folder packed by
// a minimal libzip program. Used by engine_bench.py, which times both and prints the ratios.
//
//   engine_pack engine ROOT ARCHIVE LEVEL [THREADS]   ZpArchive of every file under ROOT
//   engine_pack libzip ROOT ARCHIVE LEVEL             libzip alone, one file source per file
//
// ARCHIVE is a bare name written inside ROOT (the engine's contract); the libzip floor writes
// it in the same place and skips it when listing.

#include "zip32.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int ZIP32_CALL quietPrint(const char *, uint32_t) {
    return 0;
}
int ZIP32_CALL noComment(char *buffer) {
    buffer[0] = '\0';
    return 0;
}
int ZIP32_CALL noPassword(char *, int32_t, const char *, const char *) {
    return 1;
}
int ZIP32_CALL keepGoing(const char *, int32_t) {
    return 0;
}

int packWithEngine(const std::string &root, const std::string &archive, char level, int threads) {
    const ZipCallbacks callbacks{quietPrint, noComment, noPassword, keepGoing};
    ZipOptions options{};
    options.RootFolder = root.c_str();
    options.RecurseFlag = 1;
    options.LevelChar = level;
    const ZipExtras extras{0, threads};
    ZipFileSpecs specs{};
    specs.Spec[0] = "*.*";
    if (!ZpInit(&callbacks) || !ZpSetOptions(&options) || !ZpSetExtras(&extras))
        return 1;
    return ZpArchive(1, archive.c_str(), &specs);
}

int packWithLibzip(const std::string &root, const std::string &archiveName, int level) {
    const fs::path target = fs::path(root) / archiveName;
    int error = 0;
    zip_t *archive = zip_open(target.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return 1;
    std::vector<fs::path> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file() && entry.path() != target)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files) {
        zip_source_t *source = zip_source_file(archive, file.c_str(), 0, -1);
        const std::string name = file.lexically_relative(root).generic_string();
        const zip_int64_t index =
            source ? zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return 1;
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                 level == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 static_cast<zip_uint32_t>(level));
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 5 || std::strlen(argv[4]) != 1) {
        std::fputs("usage: engine_pack engine|libzip ROOT ARCHIVE LEVEL [THREADS]\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    const char level = argv[4][0];
    if (mode == "engine")
        return packWithEngine(argv[2], argv[3], level, argc > 5 ? std::atoi(argv[5]) : 0);
    if (mode == "libzip")
        return packWithLibzip(argv[2], argv[3], level - '0');
    return 2;
}
