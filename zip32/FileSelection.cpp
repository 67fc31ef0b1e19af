#include "FileSelection.h"

#include "Reporter.h"
#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <tuple>

namespace zip32 {
namespace fs = std::filesystem;

std::string utf8Path(const fs::path &path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

fs::path pathFromUtf8(const std::string &utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

FilePtr openFile(const fs::path &path, bool inPlace) {
    errno = 0;
#ifdef _WIN32
    return FilePtr(_wfopen(path.c_str(), inPlace ? L"r+b" : L"rb"));
#else
    return FilePtr(std::fopen(path.c_str(), inPlace ? "r+b" : "rb"));
#endif
}

FilePtr createNewFile(const fs::path &path) {
    errno = 0;
#ifdef _WIN32
    FilePtr file(_wfopen(path.c_str(), L"wbx"));
#else
    FilePtr file(std::fopen(path.c_str(), "wbx"));
#endif
    if (file)
        std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return file;
}

namespace {

bool matchesAnyPattern(const SelectionRules &rules, const std::string &relative,
                       const std::string &fileName) {
    const std::u32string relativeText = decodeUtf8(relative);
    const std::u32string nameText = decodeUtf8(fileName);
    for (const std::u32string &pattern : rules.specs) {
        const bool againstPath = pattern.find(U'/') != std::u32string::npos;
        if (wildcardMatch(pattern, againstPath ? relativeText : nameText))
            return true;
    }
    return false;
}

// Adds the entry if it is a matching regular file (links to files count as the file).
void consider(const fs::path &root, const fs::directory_entry &entry, const SelectionRules &rules,
              Selection &selection) {
    std::error_code error;
    if (!entry.is_regular_file(error))
        return;
    const std::string relative = utf8Path(entry.path().lexically_relative(root));
    const std::string fileName = utf8Path(entry.path().filename());
    if (relative == fileName && rules.skipTopLevel && rules.skipTopLevel(fileName))
        return;
    if (!matchesAnyPattern(rules, relative, fileName))
        return;
    const std::uintmax_t size = entry.file_size(error);
    selection.files.push_back({entry.path(), relative, rules.junkPaths ? fileName : relative,
                               error ? std::uintmax_t{0} : size});
}

} // namespace

Selection selectFiles(const fs::path &root, const SelectionRules &rules) {
    Selection selection;
    std::error_code error;
    if (rules.recurse) {
        fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
        for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (rules.keepGoing && !rules.keepGoing())
                return {};
            consider(root, *it, rules, selection);
        }
    } else {
        fs::directory_iterator it(root, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            if (rules.keepGoing && !rules.keepGoing())
                return {};
            consider(root, *it, rules, selection);
        }
    }
    if (error) {
        selection.unreadable = utf8Path(root);
        selection.cause = causeText(error.value());
        selection.files.clear();
        return selection;
    }
    // Entries go into the archive in the byte order of their names.
    std::sort(selection.files.begin(), selection.files.end(),
              [](const FoundFile &a, const FoundFile &b) {
                  return std::tie(a.entryName, a.relative) < std::tie(b.entryName, b.relative);
              });
    return selection;
}

NameClash findNameClash(const std::vector<FoundFile> &files) {
    std::map<std::u32string, const FoundFile *> seen;
    for (const FoundFile &file : files) {
        const auto [it, inserted] = seen.emplace(foldCase(decodeUtf8(file.entryName)), &file);
        if (!inserted)
            return {it->second, &file};
    }
    return {};
}

} // namespace zip32
