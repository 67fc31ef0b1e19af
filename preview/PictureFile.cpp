#include "preview/PictureFile.h"

#include <QIODevice>
#include <QImage>
#include <QThread>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int RowsPerStrip = 32;
constexpr int StripsPerThread = 4; // deflated before they are written, per thread
// Fast: runs of one byte only, which the filters leave where the picture is flat or repeats
// its row above. The fixture maps' pictures at 8192 pixels came out a few percent smaller than
// with zlib's fast searches for repeats, and a picture of noise wrote in two thirds the time.
constexpr int DeflateLevel = 2;
constexpr int DeflateStrategy = Z_RLE;
// The zlib header for a 32 KiB window and a fast level, as the picture's stream starts.
constexpr std::array<unsigned char, 2> ZlibHeader{0x78, 0x5E};

// A strip of rows filtered and deflated as a piece of the picture's one stream.
struct Strip {
    Bytes deflated;
    uLong adler = 1;      // of its filtered rows
    z_off_t rawBytes = 0; // of its filtered rows
    bool failed = false;  // no memory for it
};

// Row `y` of `picture` as PNG samples: red, green and blue of each pixel.
void samplesOf(const QImage &picture, int y, Bytes &samples) {
    const auto *pixels = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
    const size_t width = size_t(picture.width());
    for (size_t x = 0; x < width; ++x) {
        samples[3 * x] = uchar(qRed(pixels[x]));
        samples[3 * x + 1] = uchar(qGreen(pixels[x]));
        samples[3 * x + 2] = uchar(qBlue(pixels[x]));
    }
}

// The neighbour nearest to left + up - upLeft, the first of them on a tie.
inline int paeth(int left, int up, int upLeft) {
    const int toLeft = std::abs(up - upLeft), toUp = std::abs(left - upLeft),
              toUpLeft = std::abs(left + up - 2 * upLeft);
    const int nearer = toUp <= toUpLeft ? up : upLeft;
    return toLeft <= toUp && toLeft <= toUpLeft ? left : nearer;
}

// The sum of a filtered row's bytes taken as differences, small where it deflates well.
unsigned long spread(const Bytes &filtered) {
    unsigned long sum = 0;
    for (const unsigned char byte : filtered)
        sum += byte < 128 ? byte : 256 - byte;
    return sum;
}

// Appends rows to a strip, each with the PNG filter among Sub, Up and Paeth that leaves the
// smallest differences, as libpng chooses.
class RowFilter {
public:
    explicit RowFilter(size_t rowBytes) {
        for (size_t i = 0; i < m_tried.size(); ++i) {
            m_tried[i].resize(rowBytes + 1);
            m_tried[i][0] = uchar(Filters[i]);
        }
    }
    void append(const Bytes &row, const Bytes &above, Bytes &strip) {
        for (size_t i = 0; i < 3; ++i) { // no pixel on the left
            m_tried[0][i + 1] = row[i];
            m_tried[1][i + 1] = uchar(row[i] - above[i]);
            m_tried[2][i + 1] = uchar(row[i] - paeth(0, above[i], 0));
        }
        for (size_t i = 3; i < row.size(); ++i) {
            m_tried[0][i + 1] = uchar(row[i] - row[i - 3]);
            m_tried[1][i + 1] = uchar(row[i] - above[i]);
            m_tried[2][i + 1] = uchar(row[i] - paeth(row[i - 3], above[i], above[i - 3]));
        }
        const Bytes *best = &m_tried[0];
        unsigned long least = spread(*best);
        for (const Bytes &tried : {std::cref(m_tried[1]), std::cref(m_tried[2])}) {
            if (const unsigned long sum = spread(tried); sum < least)
                least = sum, best = &tried;
        }
        strip.insert(strip.end(), best->begin(), best->end());
    }

private:
    static constexpr std::array<int, 3> Filters{1, 2, 4}; // Sub, Up, Paeth
    std::array<Bytes, 3> m_tried;
};

// Deflates `input` as a raw piece of a stream: the last one ends the stream, the others end
// on a byte boundary where the next one's data follows on. False when there is no memory.
bool deflatePiece(const Bytes &input, bool last, Bytes &out) {
    z_stream stream{};
    if (deflateInit2(&stream, DeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, DeflateStrategy) != Z_OK)
        return false;
    out.resize(deflateBound(&stream, uLong(input.size())) + 16); // and a sync flush's mark
    stream.next_in = const_cast<Bytef *>(input.data());
    stream.avail_in = uInt(input.size());
    stream.next_out = out.data();
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool done = last ? result == Z_STREAM_END
                           : result == Z_OK && stream.avail_in == 0 && stream.avail_out > 0;
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return done;
}

// Rows [first, end) of `picture`, filtered and deflated.
Strip stripOf(const QImage &picture, int first, int end) {
    Strip strip;
    try {
        const size_t rowBytes = size_t(picture.width()) * 3;
        Bytes above(rowBytes, 0), row(rowBytes), filtered;
        filtered.reserve((rowBytes + 1) * size_t(end - first));
        RowFilter filter(rowBytes);
        if (first > 0)
            samplesOf(picture, first - 1, above);
        for (int y = first; y < end; ++y) {
            samplesOf(picture, y, row);
            filter.append(row, above, filtered);
            std::swap(row, above);
        }
        strip.rawBytes = z_off_t(filtered.size());
        strip.adler = adler32(1, filtered.data(), uInt(filtered.size()));
        strip.failed = !deflatePiece(filtered, end == picture.height(), strip.deflated);
    } catch (const std::bad_alloc &) {
        strip.failed = true;
    }
    return strip;
}

// Strips [first, end) of `picture`, made on `threads` threads.
std::vector<Strip> stripsOf(const QImage &picture, int first, int end, int threads) {
    std::vector<Strip> made(size_t(end - first));
    std::atomic<int> next{first};
    auto work = [&] {
        for (int strip = next++; strip < end; strip = next++)
            made[size_t(strip - first)] =
                stripOf(picture, strip * RowsPerStrip,
                        std::min(picture.height(), (strip + 1) * RowsPerStrip));
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < std::min(threads, end - first); ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
    return made;
}

bool writeAll(QIODevice &device, const void *data, qint64 size, QString &error) {
    if (device.write(static_cast<const char *>(data), size) == size)
        return true;
    error = device.errorString();
    return false;
}

bool writeChunk(QIODevice &device, const char (&type)[5], const unsigned char *data, size_t size,
                QString &error) {
    std::array<unsigned char, 8> head{};
    qToBigEndian(quint32(size), head.data());
    std::copy_n(type, 4, head.begin() + 4);
    uLong crc = crc32(0, head.data() + 4, 4);
    if (size > 0) // given no data, crc32() starts anew
        crc = crc32(crc, data, uInt(size));
    std::array<unsigned char, 4> tail{};
    qToBigEndian(quint32(crc), tail.data());
    return writeAll(device, head.data(), 8, error) && writeAll(device, data, qint64(size), error) &&
           writeAll(device, tail.data(), 4, error);
}

bool writeHeader(const QImage &picture, QIODevice &device, QString &error) {
    static const unsigned char Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::array<unsigned char, 13> header{}; // 8-bit RGB, not interlaced
    qToBigEndian(quint32(picture.width()), header.data());
    qToBigEndian(quint32(picture.height()), header.data() + 4);
    header[8] = 8;
    header[9] = 2;
    return writeAll(device, Signature, sizeof Signature, error) &&
           writeChunk(device, "IHDR", header.data(), header.size(), error);
}

} // namespace

bool writeOpaquePng(const QImage &picture, QIODevice &device, QString &error, int threads) {
    threads = threads > 0 ? threads : QThread::idealThreadCount();
    if (!writeHeader(picture, device, error) ||
        !writeChunk(device, "IDAT", ZlibHeader.data(), ZlibHeader.size(), error))
        return false;
    const int strips = (picture.height() + RowsPerStrip - 1) / RowsPerStrip;
    uLong adler = 1;
    for (int first = 0; first < strips; first += threads * StripsPerThread) {
        const int end = std::min(strips, first + threads * StripsPerThread);
        for (const Strip &strip : stripsOf(picture, first, end, threads)) {
            if (strip.failed) {
                error = QStringLiteral("out of memory");
                return false;
            }
            adler = adler32_combine(adler, strip.adler, strip.rawBytes);
            if (!writeChunk(device, "IDAT", strip.deflated.data(), strip.deflated.size(), error))
                return false;
        }
    }
    std::array<unsigned char, 4> check{};
    qToBigEndian(quint32(adler), check.data());
    return writeChunk(device, "IDAT", check.data(), check.size(), error) &&
           writeChunk(device, "IEND", nullptr, 0, error);
}
