#pragma once
// A small software rasteriser for map pictures: triangles with a colour at each corner,
// interpolated across them, optionally multiplied by a texture (sampled bilinearly from the
// halving that suits the triangle's scale, repeated or clamped at its edges) and blended
// "source over" onto the picture. Maps colour every polygon corner on its own, which QPainter
// cannot draw.

#include <QImage>
#include <QList>
#include <QSize>

#include <array>
#include <atomic>
#include <vector>

// A texture ready for sampling: an image's halvings from the `first` on (see ImageLevels in
// images/), all premultiplied ARGB. Drawing only reads it.
class Texture {
public:
    Texture() = default;
    Texture(QSize size, int first, QList<QImage> levels)
        : m_size(size), m_first(first), m_levels(std::move(levels)) {}

    bool isNull() const { return m_levels.isEmpty(); }
    QSize size() const { return m_size; } // the image's own size, whatever halvings there are
    // The halving nearest to `level` (0 is the image itself) that there is.
    const QImage &level(int level) const {
        return m_levels.at(qBound(0, level - m_first, int(m_levels.size()) - 1));
    }

private:
    QSize m_size;
    int m_first = 0;
    QList<QImage> m_levels;
};

struct RasterVertex {
    double x = 0, y = 0;              // picture pixels
    double u = 0, v = 0;              // texture coordinates: 1 is the texture's width or height
    float r = 1, g = 1, b = 1, a = 1; // 0 to 1, not premultiplied
};

enum class TextureWrap { Repeat, Clamp };

struct RasterTriangle {
    std::array<RasterVertex, 3> corners;
    const Texture *texture = nullptr; // none: the corners' colours alone
    TextureWrap wrap = TextureWrap::Repeat;
    int level = 0; // the halving of the texture to sample (levelFor)
};

// Corners further than this from the picture are not drawn: such a triangle is a damaged one,
// and no picture is that large.
constexpr double MaxRasterCoordinate = 1 << 22;

// True when every corner is finite and within MaxRasterCoordinate.
bool drawable(const RasterTriangle &triangle);

// The halving of a texture of `textureSize` whose texels come closest to one per picture pixel
// across `triangle`.
int levelFor(const RasterTriangle &triangle, QSize textureSize);

// Draws `triangles`, in order, onto `picture` (ARGB32 premultiplied), on `threads` threads at
// once (0: as many as the machine has), each drawing a band of rows. A pixel belongs to a
// triangle when its centre lies inside; of two triangles that share an edge exactly one takes
// the pixels on it. Triangles that are not drawable() are left out. Once `stop` is set, the
// drawing ends within a few triangles, its picture unfinished.
void rasteriseInBands(QImage &picture, const std::vector<RasterTriangle> &triangles,
                      int threads = 0, const std::atomic<bool> *stop = nullptr);
