#include "BlockDeflate.h"

#include <libdeflate.h>

#include <array>
#include <cstdint>

namespace zip32 {
namespace {

constexpr int FastBits = 10;    // codes this short are found with one table look-up
constexpr int LongestCode = 15; // deflate's limit
constexpr int EndOfBlock = 256;

// A raw deflate stream read least significant bit first, as deflate packs it. Past the end it
// reads zeros; overran() tells.
class BitReader {
public:
    BitReader(const unsigned char *data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint32_t peek(int count) { // count at most 32
        while (m_held <= 56) {
            const std::uint64_t byte = m_next < m_size ? m_data[m_next] : 0;
            ++m_next;
            m_bits |= byte << m_held;
            m_held += 8;
        }
        return static_cast<std::uint32_t>(m_bits & ((std::uint64_t{1} << count) - 1));
    }
    void skip(int count) { // after a peek of at least `count` bits
        m_bits >>= count;
        m_held -= count;
        m_position += static_cast<std::size_t>(count);
    }
    std::uint32_t take(int count) {
        const std::uint32_t value = peek(count);
        skip(count);
        return value;
    }
    void moveTo(std::size_t bit) {
        m_position = bit;
        m_next = bit / 8;
        m_bits = 0;
        m_held = 0;
        peek(0);
        m_bits >>= bit % 8;
        m_held -= static_cast<int>(bit % 8);
    }
    std::size_t position() const { return m_position; }
    bool overran() const { return m_position > 8 * m_size; }

private:
    const unsigned char *m_data;
    std::size_t m_size, m_next = 0, m_position = 0;
    std::uint64_t m_bits = 0;
    int m_held = 0;
};

// A canonical Huffman code as deflate describes it, by the code length of each symbol.
class HuffmanCode {
public:
    // False when the lengths make no code (more codes than lengths allow).
    bool build(const std::uint8_t *lengths, int count) {
        m_count.fill(0);
        for (int symbol = 0; symbol < count; ++symbol)
            ++m_count[lengths[symbol]];
        m_count[0] = 0;
        std::array<std::uint16_t, LongestCode + 2> offset{};
        int room = 1;
        for (int length = 1; length <= LongestCode; ++length) {
            room = 2 * room - m_count[length];
            if (room < 0)
                return false;
            offset[length + 1] = static_cast<std::uint16_t>(offset[length] + m_count[length]);
        }
        for (int symbol = 0; symbol < count; ++symbol) {
            if (lengths[symbol] != 0)
                m_symbols[offset[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
        }
        fillFastTable();
        return true;
    }

    // The next symbol, or -1 where the bits are no code.
    int decode(BitReader &in) const {
        if (const std::uint16_t entry = m_fast[in.peek(FastBits)]) {
            in.skip(entry & 15);
            return entry >> 4;
        }
        int code = 0, first = 0, index = 0; // codes longer than the table, a bit at a time
        for (int length = 1; length <= LongestCode; ++length) {
            code |= static_cast<int>(in.take(1));
            const int count = m_count[length];
            if (code - count < first)
                return m_symbols[index + code - first];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

private:
    void fillFastTable() {
        m_fast.fill(0);
        unsigned code = 0;
        int index = 0;
        for (int length = 1; length <= FastBits; ++length, code <<= 1) {
            for (int n = 0; n < m_count[length]; ++n, ++code) {
                unsigned reversed = 0; // the stream holds a code's first bit lowest
                for (int bit = 0; bit < length; ++bit)
                    reversed |= ((code >> bit) & 1u) << (length - 1 - bit);
                const auto entry = static_cast<std::uint16_t>(m_symbols[index++] << 4 | length);
                for (unsigned at = reversed; at < m_fast.size(); at += 1u << length)
                    m_fast[at] = entry;
            }
        }
    }

    std::array<std::uint16_t, 1 << FastBits> m_fast{}; // symbol << 4 | length; 0: longer
    std::array<std::uint16_t, LongestCode + 1> m_count{};
    std::array<std::uint16_t, 288> m_symbols{}; // in code order
};

struct FixedCodes {
    HuffmanCode literals, distances;
    FixedCodes() {
        std::array<std::uint8_t, 288> lengths{};
        for (int symbol = 0; symbol < 288; ++symbol)
            lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
        literals.build(lengths.data(), 288);
        lengths.fill(5);
        distances.build(lengths.data(), 30);
    }
};

// Reads past a compressed block's symbols up to its end-of-block code.
bool skipSymbols(BitReader &in, const HuffmanCode &literals, const HuffmanCode &distances) {
    static constexpr std::uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr std::uint8_t DistanceExtra[30] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                       4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                       9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
        const int symbol = literals.decode(in);
        if (symbol < 0 || symbol > 285 || in.overran())
            return false;
        if (symbol < EndOfBlock)
            continue;
        if (symbol == EndOfBlock)
            return true;
        in.take(LengthExtra[symbol - 257]);
        const int distance = distances.decode(in);
        if (distance < 0 || distance > 29)
            return false;
        in.take(DistanceExtra[distance]);
    }
}

// The code lengths at the head of a block with codes of its own, and the codes they make.
bool readCodes(BitReader &in, HuffmanCode &literals, HuffmanCode &distances) {
    static constexpr std::uint8_t Order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int literalCount = static_cast<int>(in.take(5)) + 257;
    const int distanceCount = static_cast<int>(in.take(5)) + 1;
    const int lengthCodeCount = static_cast<int>(in.take(4)) + 4;
    if (literalCount > 286 || distanceCount > 30)
        return false;
    std::array<std::uint8_t, 286 + 30> lengths{};
    for (int i = 0; i < lengthCodeCount; ++i)
        lengths[Order[i]] = static_cast<std::uint8_t>(in.take(3));
    HuffmanCode lengthCode;
    if (!lengthCode.build(lengths.data(), 19))
        return false;
    const int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        const int symbol = lengthCode.decode(in);
        if (symbol < 0)
            return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        if (symbol == 16 && i == 0)
            return false;
        const std::uint8_t value = symbol == 16 ? lengths[i - 1] : 0;
        const int repeat = symbol == 16   ? 3 + static_cast<int>(in.take(2))
                           : symbol == 17 ? 3 + static_cast<int>(in.take(3))
                                          : 11 + static_cast<int>(in.take(7));
        if (i + repeat > total)
            return false;
        for (int n = 0; n < repeat; ++n)
            lengths[i++] = value;
    }
    return lengths[EndOfBlock] != 0 && literals.build(lengths.data(), literalCount) &&
           distances.build(lengths.data() + literalCount, distanceCount);
}

bool skipStored(BitReader &in) {
    in.moveTo((in.position() + 7) / 8 * 8);
    const std::uint32_t length = in.take(16);
    if ((length ^ in.take(16)) != 0xFFFFu)
        return false;
    in.moveTo(in.position() + 8 * std::size_t{length});
    return true;
}

} // namespace

bool findFinalBlock(const unsigned char *stream, std::size_t size, FinalBlock &found) {
    static const FixedCodes fixed;
    BitReader in(stream, size);
    HuffmanCode literals, distances;
    for (;;) {
        const std::size_t header = in.position();
        const bool final = in.take(1) != 0;
        const std::uint32_t type = in.take(2);
        const bool read =
            type == 0   ? skipStored(in)
            : type == 1 ? skipSymbols(in, fixed.literals, fixed.distances)
            : type == 2 ? readCodes(in, literals, distances) && skipSymbols(in, literals, distances)
                        : false;
        if (!read || in.overran())
            return false;
        if (final) {
            found = {header, in.position()};
            return true;
        }
    }
}

std::size_t deflateBlockBound(libdeflate_compressor *compressor, std::size_t size) {
    return libdeflate_deflate_compress_bound(compressor, size) + 5; // and an empty stored block
}

std::size_t deflateBlock(libdeflate_compressor *compressor, const unsigned char *data,
                         std::size_t size, bool last, unsigned char *out, std::size_t room) {
    const std::size_t made = libdeflate_deflate_compress(compressor, data, size, out, room);
    FinalBlock final;
    if (made == 0 || last)
        return made;
    if (!findFinalBlock(out, made, final))
        return 0;
    out[final.headerBit / 8] &= static_cast<unsigned char>(~(1u << (final.headerBit % 8)));
    // The empty stored block: three zero bits, zero bits up to the byte, length 0 and its
    // complement.
    const std::size_t end = (final.endBit + 3 + 7) / 8;
    if (end + 4 > room)
        return 0;
    out[final.endBit / 8] &= static_cast<unsigned char>((1u << (final.endBit % 8)) - 1);
    for (std::size_t at = final.endBit / 8 + 1; at < end; ++at)
        out[at] = 0;
    out[end] = out[end + 1] = 0;
    out[end + 2] = out[end + 3] = 0xFF;
    return end + 4;
}

} // namespace zip32
