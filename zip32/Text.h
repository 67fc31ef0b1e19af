#pragma once
// Text at the engine's edges: callers speak Windows-1252, file names and libzip speak UTF-8.

#include <string>
#include <string_view>

namespace zip32 {

// One byte per character; a character the code page lacks becomes '?'.
std::string codePageFromUtf8(std::string_view utf8);

// Code points of `utf8`; a byte that is not valid UTF-8 becomes U+DC00 + byte, so it only
// ever equals itself.
std::u32string decodeUtf8(std::string_view utf8);

// Letter case folded the way the file system of the original platform ignores it
// (ASCII and the Latin letters of the code page).
std::u32string foldCase(std::u32string_view text);

// File name wildcard match: '*' any run of characters, '?' one character, case ignored.
// "*.*" matches every name, with or without a dot.
bool wildcardMatch(std::u32string_view pattern, std::u32string_view name);

} // namespace zip32
