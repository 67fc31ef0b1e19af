// Compiled for a 32-bit Windows target only: the engine header's own static_asserts check
// that the records have the original engine's layout there.
#include "zip32/zip32.h"

static_assert(sizeof(void *) == 4, "this check is meant for a 32-bit target");
static_assert(offsetof(ZipOptions, RootFolder) == 4, "ZipOptions layout");
static_assert(offsetof(ZipOptions, TempFolder) == 8, "ZipOptions layout");
static_assert(sizeof(ZipFileSpecs) == 400, "ZipFileSpecs layout");
