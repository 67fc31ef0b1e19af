#include "Text.h"

#include "text/CodePage1252.h"

namespace zip32 {
namespace {

char32_t foldChar(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        return c + 0x20;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 0x20;
    switch (c) {
    case 0x0160: // Š
    case 0x017D: // Ž
    case 0x0152: // Œ
        return c + 1;
    case 0x0178: // Ÿ
        return 0xFF;
    default:
        return c;
    }
}

} // namespace

std::string codePageFromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char32_t c : decodeUtf8(utf8))
        out +=
            (c >= 0xDC80 && c <= 0xDCFF) ? static_cast<char>(c - 0xDC00) : cp1252::fromUnicode(c);
    return out;
}

std::u32string decodeUtf8(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t c = lead;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else if (lead >= 0x80) {
            out += static_cast<char32_t>(0xDC00 + lead);
            ++i;
            continue;
        }
        bool valid = i + extra < utf8.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            if ((next & 0xC0) != 0x80)
                valid = false;
            else
                c = (c << 6) | (next & 0x3F);
        }
        if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += static_cast<char32_t>(0xDC00 + lead);
            ++i;
            continue;
        }
        out += c;
        i += extra + 1;
    }
    return out;
}

std::u32string foldCase(std::u32string_view text) {
    std::u32string out(text);
    for (char32_t &c : out)
        c = foldChar(c);
    return out;
}

bool wildcardMatch(std::u32string_view pattern, std::u32string_view name) {
    if (pattern == U"*.*")
        return true;
    const std::u32string p = foldCase(pattern);
    const std::u32string n = foldCase(name);
    // Greedy match with one backtrack point: the last '*' seen.
    std::size_t pi = 0, ni = 0;
    std::size_t starP = std::u32string::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
            ++pi, ++ni;
        } else if (pi < p.size() && p[pi] == U'*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::u32string::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == U'*')
        ++pi;
    return pi == p.size();
}

} // namespace zip32
