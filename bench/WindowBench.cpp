// The window under load, against its targets:
// - "open": a map with 500 sceneries, each a 256 x 256 PNG, read into the lists. The window's
//   thread must return within 200 ms and never stall over 50 ms while the pictures come in
//   the background; all 500 are shown within 10 s (2 cores).
// - "stop": a build of a map with one large scenery (default 300 MB of compressible data),
//   stopped 2 s into the build as Escape does; it must have ended, nothing delivered, within
//   1 s of the stop.
//
// Run: QT_QPA_PLATFORM=offscreen bench/bin/window_bench [scenery MB]

#include "archive/ReadBack.h"
#include "dialogs/FileDialogs.h"
#include "dialogs/MessageBox.h"
#include "images/GameImages.h"
#include "wizard/Form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <random>

namespace {

// A map file with `sceneries` listed and nothing else, laid out as the game writes it.
QByteArray mapListing(const QStringList &sceneries) {
    QByteArray map(88, '\0');
    map[0] = 11; // version
    auto int32 = [&map](qint32 value) {
        for (int i = 0; i < 4; ++i)
            map.append(char((value >> (8 * i)) & 0xFF));
    };
    int32(0);                               // polygons
    map.append(QByteArray(8, '\0'));        // after the polygons
    map.append(QByteArray(2 * 2601, '\0')); // empty sector lists
    int32(0);                               // props
    int32(qint32(sceneries.size()));
    for (const QString &name : sceneries) {
        const QByteArray bytes = name.toLatin1().left(50);
        map.append(char(bytes.size()));
        map.append(bytes.leftJustified(50, '\0'));
        map.append(QByteArray(4, '\0'));
    }
    return map;
}

bool write(const QString &path, const QByteArray &bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int openBench(const QString &program, const QString &game) {
    std::mt19937 random(7);
    QDir().mkpath(game + QStringLiteral("/scenery-gfx"));
    QStringList names;
    for (int i = 0; i < 500; ++i) {
        // A picture of its own: a gradient, with a band of the game's see-through green.
        QImage image(256, 256, QImage::Format_RGB32);
        const int seed = int(random() % 256);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                line[x] = y < 32 ? qRgb(0, 255, 0) : qRgb(x, y, (x + y + seed) % 256);
        }
        names << QStringLiteral("bench_%1.png").arg(i, 3, 10, QLatin1Char('0'));
        image.save(game + QStringLiteral("/scenery-gfx/") + names.last());
    }
    const QString map = game + QStringLiteral("/maps/bench500.pms");
    write(map, mapListing(names));

    Form1 form(program);
    form.show();
    QCoreApplication::processEvents();
    QSet<QString> ready;
    QObject::connect(&form.images(), &GameImages::ready,
                     [&](const QString &path) { ready << path; });
    QElapsedTimer clock;
    clock.start();
    form.openMap(map);
    const qint64 openMs = clock.elapsed();
    qint64 last = clock.elapsed();
    qint64 longestStall = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestStall = qMax(longestStall, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(1);
    while (ready.size() < names.size() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 allMs = clock.elapsed();
    std::printf("open: read 500 sceneries in %lld ms (target 200), longest stall %lld ms "
                "(target 50), all %lld pictures in %lld ms (target 10000)\n",
                static_cast<long long>(openMs), static_cast<long long>(longestStall),
                static_cast<long long>(ready.size()), static_cast<long long>(allMs));
    return openMs <= 200 && longestStall <= 50 && ready.size() == names.size() && allMs <= 10000
               ? 0
               : 1;
}

int stopBench(const QString &program, const QString &game, qint64 megabytes) {
    QDir().mkpath(game + QStringLiteral("/scenery-gfx"));
    const QString big = game + QStringLiteral("/scenery-gfx/big.bmp");
    QFile file(big);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    std::mt19937 random(11);
    QByteArray chunk;
    for (int i = 0; i < (1 << 20) / 8; ++i)
        chunk += QByteArray::number(quint32(random() % 100000)).leftJustified(8, ' ');
    for (qint64 i = 0; i < megabytes; ++i)
        file.write(chunk);
    file.close();
    const QString map = game + QStringLiteral("/maps/big.pms");
    write(map, mapListing({QStringLiteral("big.bmp")}));

    Form1 form(program);
    form.show();
    form.openMap(map);
    form.cmdNextFrame_Click();
    form.cmdNextFrame_Click();
    const QString archive = game + QStringLiteral("/big.zip");
    FileDialogTestHook::setNextPaths({archive});
    MessageBoxTestHook::hideBoxes();
    QElapsedTimer clock;
    qint64 stoppedAt = -1;
    QTimer::singleShot(2000, [&] {
        stoppedAt = clock.elapsed();
        form.cmdGO_Click(); // busy, "Make ZIP" stops the build, as Escape does
    });
    clock.start();
    form.cmdGO_Click();
    const qint64 endedAt = clock.elapsed();
    const qint64 latency = stoppedAt < 0 ? -1 : endedAt - stoppedAt;
    const bool nothing =
        !QFile::exists(archive) && form.lastBuildOutcome() == BuildOutcome::Stopped;
    std::printf("stop: %lld MB scenery, stopped 2 s in, ended %lld ms after the stop "
                "(target 1000), %s\n",
                static_cast<long long>(megabytes), static_cast<long long>(latency),
                nothing ? "nothing delivered" : "NOT STOPPED");
    return nothing && latency <= 1000 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quietImageReaderWarnings();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 300;
    QTemporaryDir game;
    if (!game.isValid())
        return 1;
    const QString program = QStringLiteral(MAPZIP_PROGRAM_FOLDER);
    setReadBackFolder(program); // the libraries lie in the build's program folder
    const int open = openBench(program, game.path());
    const int stop = stopBench(program, game.path(), megabytes);
    return open | stop;
}
