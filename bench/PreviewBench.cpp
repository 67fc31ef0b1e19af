// The map preview's cost at 1024 pixels wide, for each fixture map (ctf_Viet is the largest
// file, htf_Dorothy the most to draw): "draw" is the drawing alone, from the map and its
// decoded images, on one thread and on every core; "preview" is what the window's preview does
// on each redraw (read the map, look up its images, take them decoded from the shared cache,
// draw); "cold" also decodes every image first, as the first preview of a map does. Target:
// preview at most 150 ms on 2 cores.
//
// Run: bench/bin/preview_bench [repetitions]

#include "bench/MedianTime.h"
#include "images/GameImages.h"
#include "intake/GameFolder.h"
#include "intake/MapReader.h"
#include "preview/MapPicture.h"

#include <QGuiApplication>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString Fixtures = QStringLiteral(MAPZIP_TEST_DATA);
constexpr double TargetMs = 150;
const QSize Width1024(1024, MaxPictureEdge);

} // namespace

int main(int argc, char *argv[]) {
    QGuiApplication::setAttribute(Qt::AA_Use96Dpi);
    quietImageReaderWarnings();
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    std::printf("%d cores\n%-18s %11s %9s %9s %11s %9s\n", QThread::idealThreadCount(), "map",
                "picture", "draw 1t", "draw ms", "preview ms", "cold ms");
    bool met = true;
    for (const char *name : {"ctf_Aftermath.pms", "ctf_Viet.pms", "htf_Dorothy.pms"}) {
        const QString path = Fixtures + QStringLiteral("/soldat/maps/") + QLatin1String(name);
        GameImages images;
        MapPreview preview;
        QString error;
        if (!previewMap(path, Width1024, images, preview, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        const double oneThread = medianTime<std::milli>(
            repetitions, [&] { drawMap(preview.map, preview.images, preview.frame, images, {1}); });
        const double draw = medianTime<std::milli>(
            repetitions, [&] { drawMap(preview.map, preview.images, preview.frame, images); });
        const double warm = medianTime<std::milli>(
            repetitions, [&] { previewMap(path, Width1024, images, preview, error); });
        const double cold = medianTime<std::milli>(std::max(1, repetitions / 4), [&] {
            GameImages fresh;
            previewMap(path, Width1024, fresh, preview, error);
        });
        met &= warm <= TargetMs;
        std::printf("%-18s %5dx%-5d %9.1f %9.1f %11.1f %9.1f\n", name, preview.picture.width(),
                    preview.picture.height(), oneThread, draw, warm, cold);
    }
    std::printf("target: preview at most %.0f ms: %s\n", TargetMs, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
