#pragma once
// Windows-1252, the game's 8-bit code page, one byte per character. Header-only and free of
// dependencies, so that the engine and the program share one table.

namespace cp1252 {

// Characters of the bytes 0x80..0x9F; the five bytes the code page leaves undefined keep
// their C1 control code, so that every byte survives a round trip.
inline constexpr char32_t HighBytes[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t toUnicode(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? HighBytes[byte - 0x80] : char32_t(byte);
}

// The byte of a character; '?' for one the code page lacks.
constexpr char fromUnicode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (int i = 0; i < 32; ++i) {
        if (HighBytes[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace cp1252
