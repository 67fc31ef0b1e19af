// Linked into tests that read archives back in their own process: the read-back library lies in
// the program folder of the build, not beside the test.

#include "archive/ReadBack.h"

namespace {
const bool g_folderSet = [] {
    setReadBackFolder(QStringLiteral(MAPZIP_PROGRAM_FOLDER));
    return true;
}();
} // namespace
