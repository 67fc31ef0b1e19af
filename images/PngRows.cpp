#include "images/PngRows.h"

#include <QIODevice>
#include <QtEndian>

#include <png.h>

// libpng leaves a failed call by longjmp to the setjmp of the member that called it. Those
// members and the callbacks hold no object with a destructor, so that nothing is skipped.

namespace {

void keepFailure(png_structp png, png_const_charp message) {
    auto *source = static_cast<PngRows::Source *>(png_get_error_ptr(png));
    if (source->error[0] == 0)
        qstrncpy(source->error, message, sizeof source->error);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

void readFromDevice(png_structp png, png_bytep data, size_t length) {
    auto *source = static_cast<PngRows::Source *>(png_get_io_ptr(png));
    const qint64 read = source->device->read(reinterpret_cast<char *>(data), qint64(length));
    if (read < 0) {
        qstrncpy(source->error, qPrintable(source->device->errorString()), sizeof source->error);
        png_error(png, source->error);
    }
    if (read != qint64(length))
        png_error(png, "the image ends early");
}

} // namespace

PngRows::PngRows(QIODevice &device) {
    m_source.device = &device;
}

PngRows::~PngRows() {
    if (m_png)
        png_destroy_read_struct(&m_png, m_info ? &m_info : nullptr, nullptr);
}

bool PngRows::start() {
    m_png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &m_source, keepFailure, ignoreWarning);
    m_info = m_png ? png_create_info_struct(m_png) : nullptr;
    if (!m_info) {
        qstrncpy(m_source.error, "out of memory", sizeof m_source.error);
        return false;
    }
    return readHeader();
}

bool PngRows::readHeader() {
    if (setjmp(png_jmpbuf(m_png)))
        return false;
    png_set_read_fn(m_png, &m_source, readFromDevice);
    // As Qt's reader: a little more memory for images whose zlib stream says less than it needs.
    png_set_option(m_png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
    png_read_info(m_png, m_info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(m_png, m_info, &width, &height, &bitDepth, &colourType, &interlace, nullptr,
                 nullptr);
    // libpng refuses sizes beyond a million pixels either way.
    m_size = QSize(int(width), int(height));
    m_byRows = interlace == PNG_INTERLACE_NONE;
    if (m_byRows)
        setTransforms(colourType, bitDepth);
    return true;
}

// Rows as Qt's reader makes them, converted to ARGB32: palette images are indices into the
// palette (an index past it takes its first colour; in a 1-bit image, white), everything else
// is expanded to 8-bit BGRA (ARGB on a big-endian machine), 16 bits rounded to 8, with an
// opaque filler.
void PngRows::setTransforms(int colourType, int bitDepth) {
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp colours = nullptr;
        int count = 0, alphas = 0;
        png_bytep alpha = nullptr;
        png_get_PLTE(m_png, m_info, &colours, &count);
        png_get_tRNS(m_png, m_info, &alpha, &alphas, nullptr);
        for (int i = 0; i < 256; ++i) {
            m_palette[size_t(i)] = i < count ? qRgba(colours[i].red, colours[i].green,
                                                     colours[i].blue, i < alphas ? alpha[i] : 255)
                                             : (bitDepth == 1 ? 0xFFFFFFFFu : m_palette[0]);
        }
        png_set_packing(m_png);
        m_indexed = true;
        m_indices.resize(size_t(m_size.width()));
    } else {
        png_set_expand(m_png);
        png_set_scale_16(m_png);
        if (!(colourType & PNG_COLOR_MASK_COLOR))
            png_set_gray_to_rgb(m_png);
        constexpr bool bigEndian = QSysInfo::ByteOrder == QSysInfo::BigEndian;
        if (!(colourType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(m_png, m_info, PNG_INFO_tRNS))
            png_set_filler(m_png, 0xFF, bigEndian ? PNG_FILLER_BEFORE : PNG_FILLER_AFTER);
        if (bigEndian)
            png_set_swap_alpha(m_png);
        else
            png_set_bgr(m_png);
    }
    png_read_update_info(m_png, m_info);
}

bool PngRows::next(QRgb *row) {
    if (setjmp(png_jmpbuf(m_png)))
        return false;
    if (!m_indexed) {
        png_read_row(m_png, reinterpret_cast<png_bytep>(row), nullptr);
        return true;
    }
    png_read_row(m_png, m_indices.data(), nullptr);
    for (size_t x = 0; x < m_indices.size(); ++x)
        row[x] = m_palette[m_indices[x]];
    return true;
}
