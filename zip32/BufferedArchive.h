#pragma once
// The archive's file as libzip reads and writes it, with libzip's writes gathered into large
// ones: libzip writes a few KiB at a time, and each entry's header twice (the second time after
// a seek back), which would cost a system call each. Everything else is libzip's own file
// source: reading an earlier archive, the temporary file beside the target, its rename into
// place on commit and its removal on rollback.

#include <zip.h>

#include <filesystem>

namespace zip32 {

// A source for zip_open_from_source() on the file at `path`, or null with `error` set.
// zip_open_from_source() takes it over when it succeeds; zip_source_free() it when it fails.
zip_source_t *bufferedArchiveFile(const std::filesystem::path &path, zip_error_t *error);

} // namespace zip32
