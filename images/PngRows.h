#pragma once
// A PNG read a row at a time with libpng, so that an image shown small is decoded without
// holding it whole. Each row comes as Qt's image reader, converted to ARGB32, gives it.

#include <QRgb>
#include <QSize>
#include <QString>

#include <array>
#include <vector>

class QIODevice;
struct png_struct_def;
struct png_info_def;

class PngRows {
public:
    // Reads the PNG that `device` holds from its current position on.
    explicit PngRows(QIODevice &device);
    ~PngRows();
    PngRows(const PngRows &) = delete;
    PngRows &operator=(const PngRows &) = delete;

    // Reads the header. False, with error(), when it is damaged or not a PNG.
    bool start();
    // After start(): false for an interlaced PNG, which is read whole.
    bool byRows() const { return m_byRows; }
    QSize size() const { return m_size; }
    // Reads the next row into `row`, size().width() pixels, ARGB32 (not premultiplied). False,
    // with error(), when the image is damaged or the file cannot be read.
    bool next(QRgb *row);
    QString error() const { return QString::fromLocal8Bit(m_source.error); }

    // What libpng's callbacks reach: trivially destructible, as libpng leaves a failed call by
    // longjmp.
    struct Source {
        QIODevice *device = nullptr;
        char error[160] = {};
    };

private:
    bool readHeader();
    void setTransforms(int colourType, int bitDepth);

    Source m_source;
    png_struct_def *m_png = nullptr;
    png_info_def *m_info = nullptr;
    QSize m_size;
    bool m_byRows = false;
    bool m_indexed = false; // a palette image: rows of indices into m_palette
    std::array<QRgb, 256> m_palette{};
    std::vector<unsigned char> m_indices;
};
