#pragma once
// Which files of the root folder go into the archive.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zip32 {

struct FoundFile {
    std::filesystem::path path; // on disk
    std::string relative;       // UTF-8, relative to the root folder with '/'
    std::string entryName;      // the relative name, or the bare file name with junked paths
    std::uintmax_t size = 0;
};

struct SelectionRules {
    std::vector<std::u32string> specs; // wildcards; one with a '/' is matched against the path
    bool recurse = false;              // subfolders too
    bool junkPaths = false;            // entry names without their folders
    // Files directly in the root folder that must never be packed (the archive itself).
    std::function<bool(const std::string &utf8Name)> skipTopLevel;
    // Asked between files; false stops the listing (the run was cancelled).
    std::function<bool()> keepGoing;
};

struct Selection {
    std::vector<FoundFile> files; // sorted by entry name, then by path
    std::string unreadable;       // UTF-8 path of a folder that could not be listed, if any
    std::string cause;            // why it could not be listed, the end of a sentence
};

// Lists the regular files under `root` that match the rules. Folders are never entries and
// links to folders are not followed.
Selection selectFiles(const std::filesystem::path &root, const SelectionRules &rules);

// For junked paths: the first pair of files whose entry names differ only in letter case or
// not at all, or nothing.
struct NameClash {
    const FoundFile *first = nullptr;
    const FoundFile *second = nullptr;
};
NameClash findNameClash(const std::vector<FoundFile> &files);

// UTF-8 form of a path (the file system's own bytes where it has no other encoding), as libzip
// and the entry names want it.
std::string utf8Path(const std::filesystem::path &path);
std::filesystem::path pathFromUtf8(const std::string &utf8);

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens `path` in binary mode, to read it, or to read and change it in place; null, with
// errno set, when it cannot be opened.
FilePtr openFile(const std::filesystem::path &path, bool inPlace = false);
// Creates the new file `path` for writing, unbuffered; null (errno set) when it exists already or
// cannot be made.
FilePtr createNewFile(const std::filesystem::path &path);

} // namespace zip32
