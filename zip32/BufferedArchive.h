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
#include <string_view>

namespace zip32 {

// A source for zip_open_from_source() on the file at `path`, or null with `error` set.
// zip_open_from_source() takes it over when it succeeds; zip_source_free() it when it fails.
zip_source_t *bufferedArchiveFile(const std::filesystem::path &path, zip_error_t *error);

// Whether `name` is a temporary file that writing the archive `archiveName` makes beside it,
// and that a killed run leaves there: "<archive>.%08x" of ours, or "<archive>.XXXXXX" of libzip's
// file source, which earlier versions wrote through.
bool isTemporaryArchiveName(std::string_view name, std::string_view archiveName);

} // namespace zip32
