#include "preview/MapPicture.h"

#include "images/GameImages.h"
#include "intake/MapReader.h"
#include "preview/Rasteriser.h"

#include <QHash>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Share of the map's span left free around it.
constexpr double Margin = 0.02;
// The frame shown where the map has nothing to frame, in map units.
const QRectF EmptyMapArea(-320, -240, 640, 480);
// Missing images are drawn as a box of this colour and width in pixels.
constexpr QRgb MissingColour = 0xFFFF0000;
constexpr double MissingLineWidth = 2;

// A map's triangles are drawn while the boxes around them cover the picture this many times
// over: real maps stay below 10, and a map made to cover it thousands of times would take
// minutes.
constexpr double OverdrawBudget = 64;

// Values further than this many times the width of the middle half from it are strays.
constexpr double StrayDistance = 4;

// The smallest and largest of `values` that are not strays, or nothing for no values.
std::optional<std::pair<double, double>> spanWithoutStrays(std::vector<double> values) {
    if (values.empty())
        return std::nullopt;
    std::sort(values.begin(), values.end());
    const double lower = values[values.size() / 4], upper = values[values.size() * 3 / 4];
    const double slack = StrayDistance * (upper - lower) + 64;
    const auto first = std::lower_bound(values.begin(), values.end(), lower - slack);
    const auto last = std::upper_bound(values.begin(), values.end(), upper + slack);
    return std::pair{*first, *(last - 1)};
}

bool finite(const QPointF &point) {
    return std::isfinite(point.x()) && std::isfinite(point.y());
}

RasterVertex corner(const QPointF &at, double u, double v, const MapColour &colour, float alpha) {
    RasterVertex vertex;
    vertex.x = at.x();
    vertex.y = at.y();
    vertex.u = u;
    vertex.v = v;
    vertex.r = colour.red / 255.0f;
    vertex.g = colour.green / 255.0f;
    vertex.b = colour.blue / 255.0f;
    vertex.a = alpha;
    return vertex;
}

void fillGradient(QImage &picture, const MapColour &top, const MapColour &bottom) {
    const int height = picture.height();
    for (int y = 0; y < height; ++y) {
        const double share = height > 1 ? double(y) / (height - 1) : 0;
        auto mix = [share](quint8 a, quint8 b) { return qRound(a + (b - a) * share); };
        const QRgb colour = qRgb(mix(top.red, bottom.red), mix(top.green, bottom.green),
                                 mix(top.blue, bottom.blue));
        std::fill_n(reinterpret_cast<QRgb *>(picture.scanLine(y)), picture.width(), colour);
    }
}

// The images of `paths` with their halvings, decoded through `images` on every core: decoding
// large PNGs is most of the work of a map's first picture.
QHash<QString, ImageLevels> decodeAll(const QStringList &paths, GameImages &images) {
    std::vector<ImageLevels> decoded(size_t(paths.size()));
    std::atomic<qsizetype> next{0};
    auto work = [&] {
        for (qsizetype i = next++; i < paths.size(); i = next++)
            decoded[size_t(i)] = images.levels(paths.at(i));
    };
    const int threads = std::clamp(int(paths.size()), 1, QThread::idealThreadCount());
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
    QHash<QString, ImageLevels> byPath;
    for (qsizetype i = 0; i < paths.size(); ++i)
        byPath.insert(paths.at(i), decoded[size_t(i)]);
    return byPath;
}

// Builds the list of triangles in the game's order.
class Scene {
public:
    Scene(const MapFileContents &map, const MapImages &images, const PictureFrame &frame)
        : m_map(map), m_images(images), m_frame(frame), m_texture(images.texture),
          m_sceneries(size_t(images.sceneries.size())) {}

    void addPolygons(bool background) {
        for (const MapPolygon &polygon : m_map.polygons) {
            const bool behind = polygon.type == MapPolygon::Background ||
                                polygon.type == MapPolygon::BackgroundTransition;
            if (behind != background)
                continue;
            RasterTriangle triangle;
            for (int i = 0; i < 3; ++i) {
                const MapVertex &vertex = polygon.vertices[i];
                triangle.corners[i] = corner(m_frame.toPicture({vertex.x, vertex.y}), vertex.u,
                                             vertex.v, vertex.colour, vertex.colour.alpha / 255.0f);
            }
            add(triangle, m_texture.isNull() ? nullptr : &m_texture);
        }
    }

    void addProps(quint8 level) {
        for (const MapProp &prop : m_map.props) {
            if (!prop.drawn() || prop.level != level)
                continue;
            const qsizetype index = qsizetype(prop.style) - 1;
            const bool listed = index >= 0 && index < m_images.sceneries.size();
            const ImageLevels none;
            const ImageLevels &levels = listed ? m_images.sceneries.at(index) : none;
            const QSize imageSize = levels.isEmpty() ? QSize() : levels.constFirst().size();
            const QPolygonF outline = m_frame.toPicture(propOutline(prop, imageSize));
            if (outline.size() != 4)
                continue;
            if (levels.isEmpty()) {
                for (int i = 0; i < 4; ++i)
                    addLine(outline[i], outline[(i + 1) % 4]);
                continue;
            }
            Texture &texture = m_sceneries[size_t(index)];
            if (texture.isNull())
                texture = Texture(levels);
            const float alpha = prop.alpha / 255.0f;
            const std::array<RasterVertex, 4> corners{corner(outline[0], 0, 0, prop.colour, alpha),
                                                      corner(outline[1], 1, 0, prop.colour, alpha),
                                                      corner(outline[2], 1, 1, prop.colour, alpha),
                                                      corner(outline[3], 0, 1, prop.colour, alpha)};
            for (const auto &[a, b, c] : {std::array{0, 1, 2}, std::array{0, 2, 3}}) {
                RasterTriangle triangle;
                triangle.corners = {corners[a], corners[b], corners[c]};
                triangle.wrap = TextureWrap::Clamp;
                add(triangle, &texture);
            }
        }
    }

    // Draws the triangles in order while what they cover adds up to OverdrawBudget pictures;
    // returns how many were left out after that.
    qsizetype draw(QImage &picture, int threads) {
        const QRectF whole(QPointF(0, 0), QSizeF(picture.size()));
        const double budget = OverdrawBudget * whole.width() * whole.height();
        double covered = 0;
        qsizetype kept = 0;
        for (; kept < qsizetype(m_triangles.size()) && covered <= budget; ++kept) {
            const auto &[a, b, c] = m_triangles[size_t(kept)].corners;
            const QRectF box = QPolygonF({{a.x, a.y}, {b.x, b.y}, {c.x, c.y}}).boundingRect();
            const QRectF inside = box.intersected(whole);
            covered += inside.width() * inside.height();
        }
        const qsizetype leftOut = qsizetype(m_triangles.size()) - kept;
        m_triangles.resize(size_t(kept));
        rasteriseInBands(picture, m_triangles, threads);
        return leftOut;
    }

private:
    void add(RasterTriangle triangle, const Texture *texture) {
        if (!drawable(triangle))
            return;
        if (texture) {
            triangle.texture = texture;
            triangle.level = levelFor(triangle, texture->size());
        }
        m_triangles.push_back(triangle);
    }

    void addLine(const QPointF &from, const QPointF &to) {
        const QPointF along = to - from;
        const double length = std::hypot(along.x(), along.y());
        if (!(length > 0))
            return;
        const QPointF across = QPointF(-along.y(), along.x()) * (MissingLineWidth / 2 / length);
        static const MapColour red{0, 0, 255, 255};
        const std::array<RasterVertex, 4> corners{
            corner(from + across, 0, 0, red, 1), corner(to + across, 0, 0, red, 1),
            corner(to - across, 0, 0, red, 1), corner(from - across, 0, 0, red, 1)};
        for (const auto &[a, b, c] : {std::array{0, 1, 2}, std::array{0, 2, 3}}) {
            RasterTriangle triangle;
            triangle.corners = {corners[a], corners[b], corners[c]};
            add(triangle, nullptr);
        }
    }

    const MapFileContents &m_map;
    const MapImages &m_images;
    const PictureFrame &m_frame;
    Texture m_texture;
    std::vector<Texture> m_sceneries; // made when a prop first shows one
    std::vector<RasterTriangle> m_triangles;
};

} // namespace

MapImages loadMapImages(const MapFileContents &map, const GameFolder &game, GameImages &images,
                        QStringList *problems) {
    // What the game loads: the texture, and the image of every scenery a drawn prop shows.
    QList<bool> shown(map.sceneryNames.size(), false);
    for (const MapProp &prop : map.props) {
        if (prop.drawn() && prop.style >= 1 && prop.style <= shown.size())
            shown[prop.style - 1] = true;
    }
    const ImageFile texture = game.texture(map.texture);
    QList<ImageFile> sceneries(map.sceneryNames.size());
    QStringList files{texture.target};
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (shown.at(i) && !map.sceneryNames.at(i).isEmpty()) {
            sceneries[i] = game.scenery(map.sceneryNames.at(i));
            files.append(sceneries.at(i).target);
        }
    }
    files.removeAll(QString());
    files.removeDuplicates();
    const QHash<QString, ImageLevels> decoded = decodeAll(files, images);

    MapImages loaded;
    auto take = [&](const ImageFile &file, const QString &what, const QString &consequence,
                    bool tell) {
        if (file.found())
            loaded.files.append(file.path);
        const ImageLevels levels = decoded.value(file.target);
        if (levels.isEmpty() && problems && tell) {
            const QString why = file.found() ? images.failure(file.target) : file.reason;
            problems->append(QStringLiteral("%1: %2, so %3").arg(what, why, consequence));
        }
        return levels;
    };
    if (map.texture.isEmpty() && problems)
        problems->append(
            QStringLiteral("the map names no texture, so the polygons show their colours"));
    else
        loaded.texture = take(texture, QStringLiteral("texture %1").arg(map.texture),
                              QStringLiteral("the polygons show their colours"), true);
    loaded.sceneries.resize(map.sceneryNames.size());
    QSet<QString> told; // a scenery listed twice is told of once
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QString &name = map.sceneryNames.at(i);
        if (!shown.at(i) || name.isEmpty())
            continue;
        const bool tell = !told.contains(name.toLower());
        told.insert(name.toLower());
        loaded.sceneries[i] = take(sceneries.at(i), QStringLiteral("scenery %1").arg(name),
                                   QStringLiteral("its props are red boxes"), tell);
    }
    return loaded;
}

PictureFrame PictureFrame::fit(const MapFileContents &map, QSize maxSize) {
    std::vector<double> xs, ys;
    auto take = [&](const QPointF &point) {
        if (finite(point)) {
            xs.push_back(point.x());
            ys.push_back(point.y());
        }
    };
    for (const MapPolygon &polygon : map.polygons) {
        for (const MapVertex &vertex : polygon.vertices)
            take({vertex.x, vertex.y});
    }
    for (const MapProp &prop : map.props) {
        if (map.polygons.isEmpty() && prop.drawn()) {
            for (const QPointF &point : propOutline(prop))
                take(point);
        }
    }
    const auto across = spanWithoutStrays(xs), down = spanWithoutStrays(ys);
    QRectF area = EmptyMapArea;
    if (across && down) {
        area = QRectF(QPointF(across->first, down->first), QPointF(across->second, down->second));
        const double margin = Margin * std::max(area.width(), area.height());
        area.adjust(-margin, -margin, margin, margin);
        area.setWidth(std::max(area.width(), 1.0));
        area.setHeight(std::max(area.height(), 1.0));
    }
    PictureFrame frame;
    frame.m_area = area;
    const int maxWidth = std::clamp(maxSize.width(), 1, MaxPictureEdge);
    const int maxHeight = std::clamp(maxSize.height(), 1, MaxPictureEdge);
    frame.m_scale = std::min(maxWidth / area.width(), maxHeight / area.height());
    frame.m_size = QSize(std::clamp(int(std::lround(area.width() * frame.m_scale)), 1, maxWidth),
                         std::clamp(int(std::lround(area.height() * frame.m_scale)), 1, maxHeight));
    return frame;
}

QPolygonF PictureFrame::toPicture(const QPolygonF &polygon) const {
    QPolygonF mapped;
    mapped.reserve(polygon.size());
    for (const QPointF &point : polygon)
        mapped.append(toPicture(point));
    return mapped;
}

QPolygonF propOutline(const MapProp &prop, QSize imageSize) {
    const double width = (prop.width > 0 ? prop.width : imageSize.width()) * double(prop.scaleX);
    const double height =
        (prop.height > 0 ? prop.height : imageSize.height()) * double(prop.scaleY);
    if (!(std::abs(width) > 0 && std::abs(height) > 0))
        return {};
    // A positive rotation turns the prop anticlockwise as seen on screen, where y points down.
    const double cosine = std::cos(double(prop.rotation)), sine = std::sin(double(prop.rotation));
    auto at = [&](double right, double down) {
        return QPointF(prop.x + right * cosine + down * sine,
                       prop.y - right * sine + down * cosine);
    };
    const QPolygonF outline{at(0, 0), at(width, 0), at(width, height), at(0, height)};
    return std::all_of(outline.begin(), outline.end(), [](const QPointF &p) { return finite(p); })
               ? outline
               : QPolygonF();
}

QImage drawMap(const MapFileContents &map, const MapImages &images, const PictureFrame &frame,
               int threads, qsizetype *leftOut) {
    QImage picture(frame.size(), QImage::Format_ARGB32_Premultiplied);
    if (picture.isNull())
        return picture;
    fillGradient(picture, map.backgroundTop, map.backgroundBottom);
    // The game's order: the polygons behind everything, the props behind the players and
    // among them, the other polygons, then the props in front.
    Scene scene(map, images, frame);
    scene.addPolygons(true);
    scene.addProps(0);
    scene.addProps(1);
    scene.addPolygons(false);
    scene.addProps(2);
    const qsizetype notDrawn = scene.draw(picture, threads);
    if (leftOut)
        *leftOut = notDrawn;
    return picture;
}

bool previewMap(const QString &mapPath, QSize maxSize, GameImages &images, MapPreview &preview,
                QString &error) {
    MapPreview made;
    if (!readMapFile(mapPath, made.map, error))
        return false;
    const GameFolder game(gameFolderForMap(mapPath));
    if (!game.hasSceneryFolder())
        made.problems.append(QStringLiteral("no game folder around the map (no scenery-gfx "
                                            "folder beside or above it), so no image is found"));
    made.images = loadMapImages(made.map, game, images, &made.problems);
    made.frame = PictureFrame::fit(made.map, maxSize);
    qsizetype leftOut = 0;
    made.picture = drawMap(made.map, made.images, made.frame, 0, &leftOut);
    if (leftOut > 0)
        made.problems.append(QStringLiteral("the map's last %1 triangles are left out, as the "
                                            "map would cover its picture more than %2 times over")
                                 .arg(leftOut)
                                 .arg(OverdrawBudget));
    preview = std::move(made);
    return true;
}
