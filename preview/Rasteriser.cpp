#include "preview/Rasteriser.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// x * a / 255 for the four channels of a pixel at once (a from 0 to 255).
inline QRgb scaled(QRgb x, unsigned a) {
    unsigned rb = (x & 0x00FF00FFu) * a;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu) + 0x00800080u) >> 8) & 0x00FF00FFu;
    unsigned ag = ((x >> 8) & 0x00FF00FFu) * a;
    ag = (ag + ((ag >> 8) & 0x00FF00FFu) + 0x00800080u) & 0xFF00FF00u;
    return ag | rb;
}

// p and q mixed, with `f` (0 to 256) parts of q in 256.
inline QRgb mixed(QRgb p, QRgb q, unsigned f) {
    const unsigned rb = ((p & 0x00FF00FFu) * (256 - f) + (q & 0x00FF00FFu) * f) >> 8;
    const unsigned ag = ((p >> 8) & 0x00FF00FFu) * (256 - f) + ((q >> 8) & 0x00FF00FFu) * f;
    return (rb & 0x00FF00FFu) | (ag & 0xFF00FF00u);
}

// One channel times a factor from 0 to 255, divided by 255.
inline unsigned times(unsigned channel, unsigned factor) {
    const unsigned t = channel * factor + 0x80;
    return (t + (t >> 8)) >> 8;
}

// Texel coordinates up to this size are exact in a float and fit an int.
constexpr double MaxTexel = 1 << 24;

inline int floorToInt(float value) {
    const int truncated = int(value);
    return truncated - (value < float(truncated));
}

// A halving of a texture as the pixel loop reads it.
struct Level {
    const QRgb *bits = nullptr;
    qsizetype stride = 0; // pixels per row
    int width = 0, height = 0;
    bool repeat = true;

    int column(int x) const {
        if (!repeat)
            return std::clamp(x, 0, width - 1);
        x %= width;
        return x < 0 ? x + width : x;
    }
    int row(int y) const {
        if (!repeat)
            return std::clamp(y, 0, height - 1);
        y %= height;
        return y < 0 ? y + height : y;
    }
    // Bilinear, at texture coordinates (s, t) in texels. Inlined in the pixel loop, where the
    // call took as long as the sampling.
    Q_ALWAYS_INLINE QRgb sample(float s, float t) const {
        s -= 0.5f;
        t -= 0.5f;
        const int x0 = floorToInt(s), y0 = floorToInt(t);
        const auto fx = unsigned((s - float(x0)) * 256.0f);
        const auto fy = unsigned((t - float(y0)) * 256.0f);
        const int xa = column(x0), xb = column(x0 + 1);
        const QRgb *upper = bits + row(y0) * stride;
        const QRgb *lower = bits + row(y0 + 1) * stride;
        return mixed(mixed(upper[xa], upper[xb], fx), mixed(lower[xa], lower[xb], fx), fy);
    }
};

// A value across the triangle: at the picture's origin, and its change per pixel.
struct Plane {
    double atOrigin = 0, dx = 0, dy = 0;
    double at(double x, double y) const { return atOrigin + dx * x + dy * y; }
};

// The x where the edge from `a` down to `b` crosses the row centre `y`. Both triangles that
// share an edge see it from the same end, so that they agree on it to the last bit.
inline double edgeX(const RasterVertex &a, const RasterVertex &b, double y) {
    return a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y);
}

// The picture's pixels, taken once: QImage's own accessors may not be called from several
// threads at once.
struct Target {
    uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
    int width = 0, height = 0;

    explicit Target(QImage &picture)
        : bits(picture.bits()), bytesPerLine(picture.bytesPerLine()), width(picture.width()),
          height(picture.height()) {}
    QRgb *line(int y) const { return reinterpret_cast<QRgb *>(bits + y * bytesPerLine); }
};

// A row's run of pixels: the colour and texel coordinates at its first pixel, and their change
// from one pixel to the next.
struct Span {
    std::array<float, 4> colour, colourStep; // red, green, blue, alpha
    float s, t, ds, dt;
};

inline unsigned coverage(float a) {
    return unsigned(std::clamp(a, 0.0f, 1.0f) * 255.0f + 0.5f);
}
inline unsigned channel(float value, unsigned coverage) {
    return std::min(coverage, unsigned(std::max(value, 0.0f) * 255.0f + 0.5f));
}

// Blends the pixels [first, end) of `line` with the span's colour, times the texture's where
// `Textured`. `Flat`: the colour does not change along the span (most props, most polygons
// of one colour), which is then worked out once.
template <bool Textured, bool Flat>
void fillSpan(QRgb *line, int first, int end, Span span, const Level &level) {
    unsigned ca = 0, cr = 0, cg = 0, cb = 0;
    auto colourNow = [&] {
        ca = coverage(span.colour[3]);
        cr = channel(span.colour[0], ca);
        cg = channel(span.colour[1], ca);
        cb = channel(span.colour[2], ca);
    };
    if (Flat) {
        colourNow();
        if (ca == 0)
            return;
    }
    // Opaque white leaves the texture's colours as they are: times(x, 255) is x.
    const bool plain = Flat && (ca & cr & cg & cb) == 255;
    for (int column = first; column < end; ++column) {
        if (!Flat)
            colourNow();
        if (ca > 0) {
            QRgb source = (ca << 24) | (cr << 16) | (cg << 8) | cb;
            if (Textured) {
                const QRgb texel = level.sample(span.s, span.t);
                source = plain ? texel
                               : (times(qAlpha(texel), ca) << 24) | (times(qRed(texel), cr) << 16) |
                                     (times(qGreen(texel), cg) << 8) | times(qBlue(texel), cb);
            }
            line[column] = source + scaled(line[column], 255 - qAlpha(source));
        }
        if (!Flat) {
            for (size_t i = 0; i < 4; ++i)
                span.colour[i] += span.colourStep[i];
        }
        if (Textured) {
            span.s += span.ds;
            span.t += span.dt;
        }
    }
}

// A triangle's corners from top to bottom, and what interpolating across it needs.
struct Corners {
    std::array<const RasterVertex *, 3> v;
    double x10 = 0, y10 = 0, x20 = 0, y20 = 0;
    double area = 0; // twice the signed area; near 0 for a triangle that covers nothing

    // The plane through the corners' `value`s.
    template <typename Value> Plane plane(Value value) const {
        const double a0 = value(*v[0]), a10 = value(*v[1]) - a0, a20 = value(*v[2]) - a0;
        Plane p;
        p.dx = (a10 * y20 - a20 * y10) / area;
        p.dy = (a20 * x10 - a10 * x20) / area;
        p.atOrigin = a0 - p.dx * v[0]->x - p.dy * v[0]->y;
        return p;
    }
};

Corners sortedCorners(const RasterTriangle &triangle) {
    Corners c{{&triangle.corners[0], &triangle.corners[1], &triangle.corners[2]}};
    std::sort(c.v.begin(), c.v.end(), [](const RasterVertex *a, const RasterVertex *b) {
        return a->y < b->y || (a->y == b->y && a->x < b->x);
    });
    c.x10 = c.v[1]->x - c.v[0]->x, c.y10 = c.v[1]->y - c.v[0]->y;
    c.x20 = c.v[2]->x - c.v[0]->x, c.y20 = c.v[2]->y - c.v[0]->y;
    c.area = c.x10 * c.y20 - c.x20 * c.y10;
    return c;
}

// How a triangle's pixels are coloured: corner colours, and the texture where there is one.
struct Shading {
    Plane red, green, blue, alpha;
    std::array<float, 4> colourStep{};
    bool flat = false; // the colour does not change along a row
    bool textured = false;
    Level level;
    Plane s, t; // texel coordinates
};

// The texture's level and texel planes; false where the corners' colours alone are drawn.
bool shadeWithTexture(const RasterTriangle &triangle, const Corners &c, Shading &shading) {
    if (!triangle.texture || triangle.texture->isNull())
        return false;
    Level &level = shading.level;
    const QImage &image = triangle.texture->level(triangle.level);
    level.bits = reinterpret_cast<const QRgb *>(image.constBits());
    level.stride = image.bytesPerLine() / 4;
    level.width = image.width();
    level.height = image.height();
    level.repeat = triangle.wrap == TextureWrap::Repeat;
    // A repeated texture is the same a whole number of widths further on: start near 0, where
    // single precision is exact enough.
    double uShift = 0, vShift = 0;
    if (level.repeat) {
        uShift = std::floor(std::min({c.v[0]->u, c.v[1]->u, c.v[2]->u}));
        vShift = std::floor(std::min({c.v[0]->v, c.v[1]->v, c.v[2]->v}));
    }
    shading.s = c.plane([&](const RasterVertex &r) { return (r.u - uShift) * level.width; });
    shading.t = c.plane([&](const RasterVertex &r) { return (r.v - vShift) * level.height; });
    // Inside the triangle the texel coordinates lie between the corners' ones. Beyond MaxTexel
    // (a damaged map's span of u or v, where a float no longer tells texels apart and the pixel
    // loop's conversion to int would overflow) the corners' colours alone are drawn.
    bool inRange = true;
    for (const RasterVertex *r : c.v)
        inRange &= std::abs((r->u - uShift) * level.width) <= MaxTexel &&
                   std::abs((r->v - vShift) * level.height) <= MaxTexel;
    return inRange;
}

Shading shadingOf(const RasterTriangle &triangle, const Corners &c) {
    Shading shading;
    shading.red = c.plane([](const RasterVertex &r) { return double(r.r * r.a); });
    shading.green = c.plane([](const RasterVertex &r) { return double(r.g * r.a); });
    shading.blue = c.plane([](const RasterVertex &r) { return double(r.b * r.a); });
    shading.alpha = c.plane([](const RasterVertex &r) { return double(r.a); });
    shading.colourStep = {float(shading.red.dx), float(shading.green.dx), float(shading.blue.dx),
                          float(shading.alpha.dx)};
    shading.flat = std::all_of(shading.colourStep.begin(), shading.colourStep.end(),
                               [](float step) { return step == 0; });
    shading.textured = shadeWithTexture(triangle, c, shading);
    return shading;
}

// Row `y` of the triangle: the pixels whose centres lie inside it.
void drawRow(const Target &picture, const Corners &c, const Shading &shading, int y) {
    const double centre = y + 0.5;
    const double onLong = edgeX(*c.v[0], *c.v[2], centre);
    const double onShort =
        centre < c.v[1]->y ? edgeX(*c.v[0], *c.v[1], centre) : edgeX(*c.v[1], *c.v[2], centre);
    const bool longEdgeLeft = c.area > 0; // the middle corner lies right of the long edge
    const double left = longEdgeLeft ? onLong : onShort;
    const double right = longEdgeLeft ? onShort : onLong;
    const int firstColumn = std::max(0, int(std::ceil(left - 0.5)));
    const int endColumn = std::min(picture.width, int(std::ceil(right - 0.5)));
    if (firstColumn >= endColumn)
        return;
    const double x = firstColumn + 0.5;
    auto at = [&](const Plane &plane) { return float(plane.at(x, centre)); };
    const bool textured = shading.textured;
    const Span span{{at(shading.red), at(shading.green), at(shading.blue), at(shading.alpha)},
                    shading.colourStep,
                    textured ? at(shading.s) : 0,
                    textured ? at(shading.t) : 0,
                    float(shading.s.dx),
                    float(shading.t.dx)};
    QRgb *line = picture.line(y);
    if (textured && shading.flat)
        fillSpan<true, true>(line, firstColumn, endColumn, span, shading.level);
    else if (textured)
        fillSpan<true, false>(line, firstColumn, endColumn, span, shading.level);
    else if (shading.flat)
        fillSpan<false, true>(line, firstColumn, endColumn, span, shading.level);
    else
        fillSpan<false, false>(line, firstColumn, endColumn, span, shading.level);
}

void drawTriangle(const Target &picture, const RasterTriangle &triangle, int top, int bottom) {
    const Corners corners = sortedCorners(triangle);
    if (std::abs(corners.area) < 1e-9)
        return;
    const int firstRow = std::max(top, int(std::ceil(corners.v[0]->y - 0.5)));
    const int endRow = std::min(bottom, int(std::ceil(corners.v[2]->y - 0.5)));
    if (firstRow >= endRow)
        return;
    const Shading shading = shadingOf(triangle, corners);
    for (int y = firstRow; y < endRow; ++y)
        drawRow(picture, corners, shading, y);
}

} // namespace

bool drawable(const RasterTriangle &triangle) {
    return std::all_of(triangle.corners.begin(), triangle.corners.end(), [](const RasterVertex &c) {
        // NaN fails every comparison, so it is left out here too.
        return std::abs(c.x) <= MaxRasterCoordinate && std::abs(c.y) <= MaxRasterCoordinate &&
               std::isfinite(c.u) && std::isfinite(c.v) && std::abs(c.u) < 1e6 &&
               std::abs(c.v) < 1e6;
    });
}

int levelFor(const RasterTriangle &triangle, QSize textureSize) {
    const auto &[a, b, c] = triangle.corners;
    const double pixels = std::abs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
    const double texels = std::abs((b.u - a.u) * (c.v - a.v) - (c.u - a.u) * (b.v - a.v)) *
                          textureSize.width() * textureSize.height();
    if (!(pixels > 0) || !(texels > pixels))
        return 0;
    // Texels per pixel along one side is the root of the ratio of the areas.
    return std::clamp(int(std::floor(0.5 * std::log2(texels / pixels))), 0, 24);
}

namespace {
void drawBand(const Target &picture, const std::vector<RasterTriangle> &triangles, int top,
              int bottom, const std::atomic<bool> *stop) {
    top = std::max(top, 0);
    bottom = std::min(bottom, picture.height);
    if (top >= bottom)
        return;
    const double above = top - 0.5, below = bottom + 0.5;
    for (size_t i = 0; i < triangles.size(); ++i) {
        if (stop && i % 256 == 0 && stop->load(std::memory_order_relaxed))
            return;
        const RasterTriangle &triangle = triangles[i];
        const auto &[a, b, c] = triangle.corners;
        // Most triangles lie in other bands: told at a glance (NaN never passes).
        if (!(std::max({a.y, b.y, c.y}) >= above && std::min({a.y, b.y, c.y}) <= below))
            continue;
        if (drawable(triangle))
            drawTriangle(picture, triangle, top, bottom);
    }
}
} // namespace

void rasteriseInBands(QImage &picture, const std::vector<RasterTriangle> &triangles, int threads,
                      const std::atomic<bool> *stop) {
    if (threads <= 0)
        threads = QThread::idealThreadCount();
    threads = std::clamp(threads, 1, std::max(1, picture.height() / 16));
    // Thin bands taken in turn even out the work where the map is busier in some rows.
    const int bands = threads * 8;
    const int bandHeight = (picture.height() + bands - 1) / bands;
    const Target target(picture);
    auto work = [&](int first) {
        for (int band = first; band < bands; band += threads)
            drawBand(target, triangles, band * bandHeight, (band + 1) * bandHeight, stop);
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(work, i);
    work(0);
    for (std::thread &helper : helpers)
        helper.join();
}
