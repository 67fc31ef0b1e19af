// mapzip pack of the largest fixture map, against the floor: packing the same staged tree with
// libzip alone (no staging, no readme, no engine binding, no process of its own, or in a bare
// child process). Time per pack and the peak memory of one pack are reported.
//
// Run: bench/bin/pack_bench [benchmark options]

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <zip.h>

#include <cstring>
#include <memory>
#include <optional>

namespace {

const QString Map = QStringLiteral(MAPZIP_TEST_DATA "/soldat/maps/ctf_Viet.pms");
const QString Defaults = QStringLiteral(MAPZIP_TEST_DATA "/defaults.txt");
const char *const FloorChildFlag = "--pack-floor-child";

struct ZipDiscard {
    void operator()(zip_t *archive) const { zip_discard(archive); }
};

// Packs every file under `root` into `archivePath` at level 9, with folder names, the way the
// engine packs the staging tree; nothing else. False with `error` set on failure.
bool packWithLibzip(const QString &root, const QString &archivePath, QString &error) {
    int code = 0;
    std::unique_ptr<zip_t, ZipDiscard> archive(
        zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!archive) {
        error = QStringLiteral("zip_open failed (%1)").arg(code);
        return false;
    }
    const QDir base(root);
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray name = base.relativeFilePath(path).toUtf8();
        zip_source_t *source =
            zip_source_file(archive.get(), QFile::encodeName(path).constData(), 0, -1);
        if (!source) {
            error = QString::fromUtf8(zip_strerror(archive.get()));
            return false;
        }
        const zip_int64_t index =
            zip_file_add(archive.get(), name.constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            error = QString::fromUtf8(zip_strerror(archive.get()));
            return false;
        }
        zip_set_file_compression(archive.get(), zip_uint64_t(index), ZIP_CM_DEFLATE, 9);
    }
    if (zip_close(archive.get()) != 0) {
        error = QString::fromUtf8(zip_strerror(archive.get()));
        return false;
    }
    archive.release();
    return true;
}

// The staged tree of the map (TEMP without the staged archive), made once by mapzip itself.
struct StagedTree {
    QTemporaryDir folder;
    QString tree; // holds the map's folders
    QString error;
};

StagedTree &stagedTree() {
    static StagedTree staged = [] {
        StagedTree s;
        const QString staging = s.folder.path() + QStringLiteral("/program");
        QProcess mapzip;
        mapzip.start(QStringLiteral(MAPZIP_EXE),
                     {QStringLiteral("pack"), Map, QStringLiteral("-o"),
                      s.folder.path() + QStringLiteral("/staged.zip"), QStringLiteral("--defaults"),
                      Defaults, QStringLiteral("--staging"), staging});
        if (!mapzip.waitForFinished(120000) || mapzip.exitCode() != 0) {
            s.error = QStringLiteral("mapzip pack failed: ") +
                      QString::fromLocal8Bit(mapzip.readAllStandardError());
            return s;
        }
        s.tree = staging + QStringLiteral("/TEMP");
        QFile::remove(s.tree + QStringLiteral("/ctf_Viet.zip"));
        return s;
    }();
    return staged;
}

bool runProcess(const QString &program, const QStringList &args, QString &error) {
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        error = program + QStringLiteral(" failed: ") +
                QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

// Peak resident memory (KiB) of one run of the command, measured by a Python wrapper that
// runs it as its only child; empty where that cannot be measured.
std::optional<double> peakMemoryKiB(const QString &program, const QStringList &args) {
    QProcess python;
    python.start(
        QStringLiteral(MAPZIP_PYTHON),
        QStringList{QStringLiteral("-c"),
                    QStringLiteral("import resource, subprocess, sys\n"
                                   "r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)\n"
                                   "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss"
                                   " if r.returncode == 0 else -1)\n"),
                    program} +
            args);
    if (!python.waitForFinished(120000) || python.exitCode() != 0)
        return std::nullopt;
    bool ok = false;
    const double kib = python.readAllStandardOutput().trimmed().toDouble(&ok);
    if (!ok || kib < 0)
        return std::nullopt;
    return kib;
}

QString selfPath;

void BM_MapzipPack(benchmark::State &run) {
    QTemporaryDir out;
    const QString target = out.path() + QStringLiteral("/viet.zip");
    const QStringList args = {QStringLiteral("pack"),       Map,     QStringLiteral("-o"), target,
                              QStringLiteral("--defaults"), Defaults};
    QString error;
    for (auto _ : run) {
        if (!runProcess(QStringLiteral(MAPZIP_EXE), args, error)) {
            run.SkipWithError(qPrintable(error));
            return;
        }
    }
    run.counters["archive_bytes"] = double(QFileInfo(target).size());
    if (const auto kib = peakMemoryKiB(QStringLiteral(MAPZIP_EXE), args))
        run.counters["peak_rss_kib"] = *kib;
}

void BM_LibzipFloorInProcess(benchmark::State &run) {
    StagedTree &staged = stagedTree();
    if (!staged.error.isEmpty()) {
        run.SkipWithError(qPrintable(staged.error));
        return;
    }
    QTemporaryDir out;
    const QString target = out.path() + QStringLiteral("/floor.zip");
    QString error;
    for (auto _ : run) {
        if (!packWithLibzip(staged.tree, target, error)) {
            run.SkipWithError(qPrintable(error));
            return;
        }
    }
    run.counters["archive_bytes"] = double(QFileInfo(target).size());
}

void BM_LibzipFloorProcess(benchmark::State &run) {
    StagedTree &staged = stagedTree();
    if (!staged.error.isEmpty()) {
        run.SkipWithError(qPrintable(staged.error));
        return;
    }
    QTemporaryDir out;
    const QString target = out.path() + QStringLiteral("/floor.zip");
    const QStringList args = {QString::fromLatin1(FloorChildFlag), staged.tree, target};
    QString error;
    for (auto _ : run) {
        if (!runProcess(selfPath, args, error)) {
            run.SkipWithError(qPrintable(error));
            return;
        }
    }
    run.counters["archive_bytes"] = double(QFileInfo(target).size());
    if (const auto kib = peakMemoryKiB(selfPath, args))
        run.counters["peak_rss_kib"] = *kib;
}

BENCHMARK(BM_MapzipPack)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibzipFloorProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibzipFloorInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
    // The floor as a process of its own: pack_bench --pack-floor-child TREE ARCHIVE
    if (argc == 4 && std::strcmp(argv[1], FloorChildFlag) == 0) {
        QString error;
        if (!packWithLibzip(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]), error)) {
            std::fputs(qPrintable(error + QLatin1Char('\n')), stderr);
            return 1;
        }
        return 0;
    }
    selfPath = QFileInfo(QFile::decodeName(argv[0])).absoluteFilePath();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
