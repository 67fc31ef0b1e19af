#pragma once
// The archive's file as libzip reads and writes it, with libzip's writes gathered into large
// ones: libzip writes a few KiB at a time, and each entry's header twice (the second time after
// a seek back), which would cost a system call each. An earlier archive is read through
// libzip's own file source. The new one is written into a temporary file beside the target,
// renamed into place on commit and removed on rollback, all here: libzip's file source names
// its temporary file by a random number from OpenSSL, whose start-up costs more than a small
// archive's whole writing.

#include <zip.h>

#include <filesystem>

namespace zip32 {

// A source for zip_open_from_source() on the file at `path`, or null with `error` set.
// zip_open_from_source() takes it over when it succeeds; zip_source_free() it when it fails.
zip_source_t *bufferedArchiveFile(const std::filesystem::path &path, zip_error_t *error);

} // namespace zip32
