#pragma once
// One block of a big file deflated as a piece of the file's single deflate stream.
//
// libdeflate deflates a whole buffer at a time, at about twice zlib's speed, but always ends
// what it makes as a stream of its own: its last deflate block carries the final-block mark and
// its last byte may be half used. A block that is not the file's last has that mark cleared and
// an empty stored block put after it, which ends it on a byte boundary as zlib's sync flush
// does; the next block's data then follows on, and the pieces join into one valid stream. Each
// block is deflated without the data before it, which costs well under a per mille of size for
// blocks of half a MiB.

#include <cstddef>

struct libdeflate_compressor;

namespace zip32 {

// The most bytes deflateBlock() may write for `size` bytes of input.
std::size_t deflateBlockBound(libdeflate_compressor *compressor, std::size_t size);

// Deflates `size` bytes at `data` into `out` (room for `room` bytes): with `last`, as the end
// of the stream; otherwise as a piece the next block's data follows. Returns the bytes written,
// or 0 when they did not fit or the stream libdeflate made could not be read back.
std::size_t deflateBlock(libdeflate_compressor *compressor, const unsigned char *data,
                         std::size_t size, bool last, unsigned char *out, std::size_t room);

// Where the final block of the raw deflate stream in `stream` starts and where its data ends,
// in bits from the start; false when the stream is damaged or ends early.
struct FinalBlock {
    std::size_t headerBit = 0, endBit = 0;
};
bool findFinalBlock(const unsigned char *stream, std::size_t size, FinalBlock &found);

} // namespace zip32
