#include "preview/MapPicture.h"

#include "images/GameImages.h"
#include "intake/MapReader.h"
#include "platform/Platform.h"
#include "preview/Rasteriser.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
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

// What a drawing may cost, in the work of drawing one pixel: this many times a picture of at
// least 1024 x 1024 pixels, and never more than about five seconds on two cores. Real maps take
// less than half of it; past it, a map's last triangles are left out, so that no map takes long
// to draw.
constexpr double WorkBudget = 32;
constexpr double LeastBudgetArea = 1024.0 * 1024.0;
constexpr double MostWork = 5 * 8192.0 * 8192.0;
// A row a triangle spans costs as much as this many pixels, a triangle this many on its own.
constexpr double RowWork = 4;
constexpr double TriangleWork = 64;
// No more triangles than this are kept for a drawing (about 160 bytes each).
constexpr size_t MaxTriangles = size_t(1) << 20;

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

// The work of drawing `triangle` into a picture of `size`: its rows, its pixels (at most those
// of its box within the picture) and its own.
double workOf(const RasterTriangle &triangle, QSize size) {
    const auto &[a, b, c] = triangle.corners;
    auto row = [&](double y) { return std::clamp(std::ceil(y - 0.5), 0.0, double(size.height())); };
    const double rows = row(std::max({a.y, b.y, c.y})) - row(std::min({a.y, b.y, c.y}));
    const double area = std::abs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y)) / 2;
    const QRectF box = QPolygonF({{a.x, a.y}, {b.x, b.y}, {c.x, c.y}})
                           .boundingRect()
                           .intersected(QRectF(QPointF(0, 0), QSizeF(size)));
    return TriangleWork + rows * RowWork + std::min(area, box.width() * box.height());
}

// The triangles of a map in the game's order, each textured image in one slot: slot 0 is the
// map's texture, the others its sceneries' images, one per file. The textures are filled in
// once the levels the triangles sample are known.
class Scene {
public:
    Scene(const MapFileContents &map, const MapImages &images, const PictureFrame &frame)
        : m_map(map), m_images(images), m_frame(frame),
          m_budget(std::min(MostWork,
                            WorkBudget * std::max(LeastBudgetArea, double(frame.size().width()) *
                                                                       frame.size().height()))) {
        m_paths.append(images.texture.path);
        m_sizes.append(images.texture.size);
        for (const MapImage &image : images.sceneries) {
            if (!image.isNull() && !m_slots.contains(image.path)) {
                m_slots.insert(image.path, int(m_paths.size()));
                m_paths.append(image.path);
                m_sizes.append(image.size);
            }
        }
        m_textures.resize(size_t(m_paths.size()));
        m_needed.assign(size_t(m_paths.size()), -1);
    }

    // The game's order: the polygons behind everything, the props behind the players and
    // among them, the other polygons, then the props in front.
    void build() {
        addPolygons(true);
        addProps(0);
        addProps(1);
        addPolygons(false);
        addProps(2);
    }

    // Each slot's image file and size, and the finest level its triangles sample (-1: none).
    const QStringList &paths() const { return m_paths; }
    const QList<QSize> &sizes() const { return m_sizes; }
    const std::vector<int> &neededLevels() const { return m_needed; }
    void setTexture(qsizetype slot, const ImageLevels &levels) {
        m_textures[size_t(slot)] = Texture(levels.size, levels.first, levels.levels);
    }
    qsizetype leftOut() const { return m_leftOut; }
    // Leaves out the triangles of the props that show the images in `slots`; the polygons
    // (slot 0) keep theirs, which show their corners' colours without the texture.
    void leaveOut(const std::vector<size_t> &slots) {
        std::vector<bool> out(m_textures.size(), false);
        for (const size_t slot : slots)
            out[slot] = slot > 0;
        std::erase_if(m_triangles, [&](const RasterTriangle &triangle) {
            return triangle.texture && out[size_t(triangle.texture - m_textures.data())];
        });
    }

    void draw(QImage &picture, const DrawOptions &options) {
        rasteriseInBands(picture, m_triangles, options.threads, options.stop);
    }

private:
    void addPolygons(bool background) {
        const bool textured = !m_images.texture.isNull();
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
            add(triangle, textured ? 0 : -1);
        }
    }

    void addProps(quint8 level) {
        for (const MapProp &prop : m_map.props) {
            if (!prop.drawn() || prop.level != level)
                continue;
            const qsizetype index = qsizetype(prop.style) - 1;
            const bool listed = index >= 0 && index < m_images.sceneries.size();
            const MapImage image = listed ? m_images.sceneries.at(index) : MapImage();
            const QPolygonF outline = m_frame.toPicture(propOutline(prop, image.size));
            if (outline.size() != 4)
                continue;
            if (image.isNull()) {
                for (int i = 0; i < 4; ++i)
                    addLine(outline[i], outline[(i + 1) % 4]);
                continue;
            }
            const float alpha = prop.alpha / 255.0f;
            const std::array<RasterVertex, 4> corners{corner(outline[0], 0, 0, prop.colour, alpha),
                                                      corner(outline[1], 1, 0, prop.colour, alpha),
                                                      corner(outline[2], 1, 1, prop.colour, alpha),
                                                      corner(outline[3], 0, 1, prop.colour, alpha)};
            for (const auto &[a, b, c] : {std::array{0, 1, 2}, std::array{0, 2, 3}}) {
                RasterTriangle triangle;
                triangle.corners = {corners[a], corners[b], corners[c]};
                triangle.wrap = TextureWrap::Clamp;
                add(triangle, m_slots.value(image.path));
            }
        }
    }

    // Keeps `triangle`, textured by `slot` (-1: none), while the work stays within the budget;
    // past it, only counts it as left out.
    void add(RasterTriangle triangle, int slot) {
        if (!drawable(triangle))
            return;
        if (m_work > m_budget || m_triangles.size() >= MaxTriangles) {
            ++m_leftOut;
            return;
        }
        m_work += workOf(triangle, m_frame.size());
        if (slot >= 0) {
            triangle.texture = &m_textures[size_t(slot)];
            triangle.level = levelFor(triangle, m_sizes.at(slot));
            int &needed = m_needed[size_t(slot)];
            needed = needed < 0 ? triangle.level : std::min(needed, triangle.level);
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
            add(triangle, -1);
        }
    }

    const MapFileContents &m_map;
    const MapImages &m_images;
    const PictureFrame &m_frame;
    const double m_budget;
    double m_work = 0;
    qsizetype m_leftOut = 0;
    QStringList m_paths;
    QList<QSize> m_sizes;
    QHash<QString, int> m_slots; // by image file
    std::vector<Texture> m_textures;
    std::vector<int> m_needed;
    std::vector<RasterTriangle> m_triangles;
};

// An image for the picture, or none with a line in `problems` saying why.
MapImage imageFor(const ImageFile &file, const QString &what, const QString &consequence,
                  GameImages &images, QStringList *problems) {
    MapImage image;
    if (file.found()) {
        image.size = images.size(file.target);
        if (!image.size.isEmpty())
            image.path = file.target;
    }
    if (image.isNull() && problems) {
        const QString why = file.found() ? images.failure(file.target) : file.reason;
        problems->append(QStringLiteral("%1: %2, so %3").arg(what, why, consequence));
    }
    return image;
}

// A line naming the drawn props whose scenery number the map names no image for; empty when
// there are none.
QString unnamedSceneries(const MapFileContents &map) {
    constexpr int Named = 8; // props named one by one; the rest are counted
    QStringList named;
    qsizetype count = 0;
    for (qsizetype i = 0; i < map.props.size(); ++i) {
        const MapProp &prop = map.props.at(i);
        if (!prop.drawn() || (prop.style >= 1 && prop.style <= map.sceneryNames.size() &&
                              !map.sceneryNames.at(prop.style - 1).isEmpty()))
            continue;
        if (++count <= Named)
            named.append(QStringLiteral("prop %1 shows %2").arg(i + 1).arg(prop.style));
    }
    if (count == 0)
        return {};
    if (count > Named)
        named.append(QStringLiteral("%1 more").arg(count - Named));
    return QStringLiteral("%1 prop(s) show a scenery number the map names no image for (it names "
                          "%2): %3, so they are red boxes")
        .arg(count)
        .arg(map.sceneryNames.size())
        .arg(named.join(QStringLiteral(", ")));
}

// The images of `map`'s sceneries that drawn props show, by record; a scenery listed twice is
// told of once.
QList<MapImage> sceneryImages(const MapFileContents &map, const GameFolder &game,
                              GameImages &images, MapImages &found) {
    QList<bool> shown(map.sceneryNames.size(), false);
    for (const MapProp &prop : map.props) {
        if (prop.drawn() && prop.style >= 1 && prop.style <= shown.size())
            shown[prop.style - 1] = true;
    }
    QList<MapImage> sceneries(map.sceneryNames.size());
    QHash<QString, MapImage> byName;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QString &name = map.sceneryNames.at(i);
        const QString key = name.toLower();
        if (name.isEmpty() || byName.contains(key))
            continue;
        const ImageFile file = game.scenery(name);
        if (file.found())
            found.files.append(file.path);
        if (shown.at(i))
            byName.insert(key, imageFor(file, QStringLiteral("scenery %1").arg(name),
                                        QStringLiteral("its props are red boxes"), images,
                                        &found.problems));
    }
    for (qsizetype i = 0; i < shown.size(); ++i)
        sceneries[i] = shown.at(i) ? byName.value(map.sceneryNames.at(i).toLower()) : MapImage();
    return sceneries;
}

// The images a scene decodes: each slot's level (-1: none), and how many images are shown with
// less detail or left out.
struct DecodePlan {
    std::vector<int> levels;
    int coarser = 0;
    int leftOut = 0;
};

// Each image from the level its triangles sample; where together they would take more than
// `images` keeps, the largest are taken a halving smaller, in turn.
DecodePlan levelsWithinCeiling(const Scene &scene, const GameImages &images) {
    DecodePlan plan{scene.neededLevels()};
    std::vector<int> &levels = plan.levels;
    std::vector<qint64> bytes(levels.size(), 0);
    qint64 total = 0;
    for (size_t i = 0; i < levels.size(); ++i)
        total += bytes[i] = levels[i] < 0 ? 0 : levelBytes(scene.sizes().at(i), levels[i]);
    QSet<size_t> coarser;
    while (total > images.ceiling()) {
        const size_t largest = size_t(std::max_element(bytes.begin(), bytes.end()) - bytes.begin());
        const qint64 smaller = levelBytes(scene.sizes().at(largest), ++levels[largest]);
        if (smaller >= bytes[largest])
            break; // nothing is left to take smaller
        total -= bytes[largest] - smaller;
        bytes[largest] = smaller;
        coarser.insert(largest);
    }
    plan.coarser = int(coarser.size());
    return plan;
}

// The slots to decode, the costliest first (so that the threads finish together), leaving out
// those past the decode budget: the texture is taken first, then the images from the cheapest
// on, so that as many as can be are shown.
std::vector<size_t> decodeOrder(DecodePlan &plan, Scene &scene, GameImages &images, qint64 budget) {
    std::vector<size_t> order;
    std::vector<qint64> cost(plan.levels.size(), 0);
    for (size_t i = 0; i < plan.levels.size(); ++i) {
        if (plan.levels[i] >= 0) {
            order.push_back(i);
            cost[i] = images.decodeCost(scene.paths().at(qsizetype(i)), plan.levels[i]);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return (a == 0) != (b == 0) ? a == 0 : cost[a] < cost[b];
    });
    qint64 spent = 0;
    const auto within = std::find_if(order.begin(), order.end(),
                                     [&](size_t slot) { return (spent += cost[slot]) > budget; });
    plan.leftOut = int(order.end() - within);
    scene.leaveOut(std::vector<size_t>(within, order.end()));
    order.erase(within, order.end());
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return cost[a] > cost[b]; });
    return order;
}

// Decodes the images the scene's triangles sample, within the ceiling of `images` and the
// decode budget, on every core: decoding large PNGs is most of the work of a map's first
// picture. `failed` gets the slots that cannot be decoded.
DecodePlan decodeForScene(Scene &scene, GameImages &images, const DrawOptions &options,
                          QList<qsizetype> &failed) {
    DecodePlan plan = levelsWithinCeiling(scene, images);
    const std::vector<size_t> order = decodeOrder(plan, scene, images, options.decodeBudget);
    std::atomic<size_t> next{0};
    QMutex lock;
    auto work = [&] {
        for (size_t i = next++; i < order.size(); i = next++) {
            if (options.stop && options.stop->load())
                return;
            const size_t slot = order[i];
            const ImageLevels decoded =
                images.levels(scene.paths().at(qsizetype(slot)), plan.levels[slot]);
            QMutexLocker locker(&lock);
            if (decoded.isEmpty())
                failed.append(qsizetype(slot));
            scene.setTexture(qsizetype(slot), decoded);
        }
    };
    const int threads = std::clamp(
        int(order.size()), 1, options.threads > 0 ? options.threads : QThread::idealThreadCount());
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
    return plan;
}

} // namespace

MapImages findMapImages(const MapFileContents &map, const GameFolder &game, GameImages &images) {
    MapImages found;
    if (map.texture.isEmpty()) {
        found.problems.append(
            QStringLiteral("the map names no texture, so the polygons show their colours"));
    } else {
        const ImageFile texture = game.texture(map.texture);
        found.texture =
            imageFor(texture, QStringLiteral("texture %1").arg(map.texture),
                     QStringLiteral("the polygons show their colours"), images, &found.problems);
        for (const ImageFile &file : {texture, game.edgeTexture(map.texture)}) {
            if (file.found())
                found.files.append(file.path);
        }
    }
    found.sceneries = sceneryImages(map, game, images, found);
    if (const QString unnamed = unnamedSceneries(map); !unnamed.isEmpty())
        found.problems.append(unnamed);
    return found;
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

MapDrawing drawMap(const MapFileContents &map, const MapImages &mapImages,
                   const PictureFrame &frame, GameImages &images, const DrawOptions &options) {
    MapDrawing drawing;
    MapImages shown = mapImages;
    auto scene = std::make_unique<Scene>(map, shown, frame);
    scene->build();
    QList<qsizetype> failed;
    DecodePlan plan = decodeForScene(*scene, images, options, failed);
    if (!failed.isEmpty()) {
        // An image that cannot be decoded after all: the texture leaves the polygons their
        // colours, a scenery's props become red boxes.
        for (const qsizetype slot : std::as_const(failed)) {
            const QString &path = scene->paths().at(slot);
            drawing.problems.append(QStringLiteral("%1: %2, so it is not shown")
                                        .arg(QDir::toNativeSeparators(path), images.failure(path)));
            if (shown.texture.path == path)
                shown.texture = MapImage();
            for (MapImage &image : shown.sceneries) {
                if (image.path == path)
                    image = MapImage();
            }
        }
        scene = std::make_unique<Scene>(map, shown, frame);
        scene->build();
        plan = decodeForScene(*scene, images, options, failed);
    }
    if (options.stop && options.stop->load())
        return drawing;
    drawing.picture = QImage(frame.size(), QImage::Format_ARGB32_Premultiplied);
    if (drawing.picture.isNull())
        return drawing;
    platform::adviseLargePages(drawing.picture.bits(), size_t(drawing.picture.sizeInBytes()));
    fillGradient(drawing.picture, map.backgroundTop, map.backgroundBottom);
    scene->draw(drawing.picture, options);
    if (options.stop && options.stop->load())
        drawing.picture = QImage();
    if (plan.coarser > 0)
        drawing.problems.append(QStringLiteral("%1 image(s) are shown with less detail than the "
                                               "game shows them, as together they would take "
                                               "more than %2 MiB")
                                    .arg(plan.coarser)
                                    .arg(images.ceiling() >> 20));
    if (plan.leftOut > 0)
        drawing.problems.append(QStringLiteral("%1 image(s) are left out with the props that "
                                               "show them, as decoding them all would take too "
                                               "long")
                                    .arg(plan.leftOut));
    if (scene->leftOut() > 0)
        drawing.problems.append(QStringLiteral("the map's last %1 triangles are left out, as the "
                                               "map would take too long to draw whole")
                                    .arg(scene->leftOut()));
    return drawing;
}

bool readMapPreview(const QString &mapPath, GameImages &images, MapPreview &preview,
                    QString &error) {
    MapPreview made;
    if (!readMapFile(mapPath, made.map, error))
        return false;
    const GameFolder game(gameFolderForMap(mapPath));
    made.images = findMapImages(made.map, game, images);
    if (!game.hasSceneryFolder())
        made.images.problems.prepend(
            QStringLiteral("no game folder around the map (no scenery-gfx folder beside or "
                           "above it), so no image is found"));
    made.problems = made.images.problems;
    preview = std::move(made);
    return true;
}

void drawPreview(MapPreview &preview, QSize maxSize, GameImages &images,
                 const DrawOptions &options) {
    preview.frame = PictureFrame::fit(preview.map, maxSize);
    MapDrawing drawing = drawMap(preview.map, preview.images, preview.frame, images, options);
    preview.picture = std::move(drawing.picture);
    preview.problems = preview.images.problems + drawing.problems;
}

bool previewMap(const QString &mapPath, QSize maxSize, GameImages &images, MapPreview &preview,
                QString &error) {
    if (!readMapPreview(mapPath, images, preview, error))
        return false;
    drawPreview(preview, maxSize, images);
    return true;
}
