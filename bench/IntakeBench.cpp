// Intake of the fixture maps: reading a map and building its add list, as the browse button does.

#include "intake/DefaultSceneries.h"
#include "intake/MapReader.h"

#include <QString>
#include <benchmark/benchmark.h>

namespace {
void intake(benchmark::State &run, const char *mapName) {
    WizardState state;
    loadDefaultSceneries(QStringLiteral(MAPZIP_TEST_DATA "/defaults.txt"), state.DefaultSceneries);
    const QString path = QStringLiteral(MAPZIP_TEST_DATA "/soldat/maps/") + QLatin1String(mapName);
    QStringList list;
    QString error;
    for (auto _ : run) {
        QString filepath = path;
        if (!listStuff(state, filepath, path, list, error)) {
            run.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(list);
    }
    run.counters["sceneries"] = static_cast<double>(list.size());
}

void readOnly(benchmark::State &run, const char *mapName) {
    const QString path = QStringLiteral(MAPZIP_TEST_DATA "/soldat/maps/") + QLatin1String(mapName);
    MapFileContents contents;
    QString error;
    for (auto _ : run) {
        if (!readMapFile(path, contents, error)) {
            run.SkipWithError(qPrintable(error));
            break;
        }
        benchmark::DoNotOptimize(contents);
    }
}
} // namespace

BENCHMARK_CAPTURE(intake, ctf_Aftermath, "ctf_Aftermath.pms")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(intake, ctf_Viet, "ctf_Viet.pms")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(intake, htf_Dorothy, "htf_Dorothy.pms")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readOnly, ctf_Aftermath, "ctf_Aftermath.pms")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readOnly, ctf_Viet, "ctf_Viet.pms")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(readOnly, htf_Dorothy, "htf_Dorothy.pms")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
