// The asset register on SQLite at the size of a large plant: 10,000 assets with 20 yearly tests
// each (200,000 tests), built once into a temporary file. Targets: the list under 100 ms, an
// asset's page (its tests and trend) under 50 ms, a trend fit under 5 ms.
#include "assets/asset_register.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kAssets = 10000;
constexpr int kTestsEach = 20;
constexpr int kReadingsEach = 60;

kx::FiledTest benchTest(int asset, int year, double r60) {
    kx::FiledTest t;
    t.testedAt = QDateTime(QDate(2005 + year, 1 + asset % 12, 1 + asset % 28), QTime(9, 0));
    t.result.test = 1;
    t.result.mode = "IR";
    t.result.function = "IR:5000";
    t.result.testVoltage = 5000;
    t.result.duration = 600;
    t.result.r15 = r60 * 0.6;
    t.result.r30 = r60 * 0.8;
    t.result.r60 = r60;
    t.result.r600 = r60 * 2.4;
    t.result.pi = 2.4;
    t.result.temperature = 20 + (asset + year) % 15;
    t.sourcePath = QStringLiteral("/plant/%1/%2.db").arg(asset).arg(year);
    t.sourceHash = QStringLiteral("%1-%2").arg(asset).arg(year);
    t.sourceTest = 1;
    for (int i = 0; i < kReadingsEach; ++i)
        t.readings.push_back({double(i * 10), r60 * (0.5 + i / 100.0)});
    return t;
}

QString tagOf(int i) {
    return QStringLiteral("M-%1").arg(i, 5, 10, QLatin1Char('0'));
}

struct Plant {
    QTemporaryDir folder;
    std::unique_ptr<kx::AssetRegister> reg;
};
std::unique_ptr<Plant> thePlant;

// The register, built on first use and kept for the whole run.
kx::AssetRegister& plant() {
    if (thePlant)
        return *thePlant->reg;
    thePlant = std::make_unique<Plant>();
    QTemporaryDir& folder = thePlant->folder;
    thePlant->reg = [&folder] {
        QElapsedTimer timer;
        timer.start();
        // KX_BENCH_ASSETS_DB keeps the register between runs (built when it is empty).
        const QString kept = qEnvironmentVariable("KX_BENCH_ASSETS_DB");
        const auto location =
            kx::parseDatabaseUrl(kept.isEmpty() ? folder.filePath(QStringLiteral("plant.sqlite"))
                                                : kept)
                .value();
        auto opened = kx::AssetRegister::open(location);
        if (!opened) {
            std::fprintf(stderr, "%s\n", qPrintable(opened.error()));
            std::abort();
        }
        auto r = opened.take();
        if (!r->list().value().empty())
            return r;
        for (int i = 0; i < kAssets; ++i) {
            kx::Asset a;
            a.tag = tagOf(i);
            a.name = QStringLiteral("Motor %1").arg(i);
            a.kind = kx::AssetKind(i % 5);
            a.location = QStringLiteral("Hall %1").arg(i % 40);
            a.ratedVoltage = 400 + (i % 7) * 1000;
            if (!r->addAsset(a)) {
                std::fprintf(stderr, "cannot add %d\n", i);
                std::abort();
            }
            std::vector<kx::FiledTest> tests;
            const double fall = i % 10 == 0 ? 0.7 : 0.99;
            for (int y = 0; y < kTestsEach; ++y)
                tests.push_back(benchTest(i, y, 5e9 * std::pow(fall, y)));
            if (!r->fileTests(a.tag, tests)) {
                std::fprintf(stderr, "cannot file %d\n", i);
                std::abort();
            }
        }
        std::printf("built %d assets with %d tests each in %.1f s\n", kAssets, kTestsEach,
                    double(timer.elapsed()) / 1000);
        return r;
    }();
    return *thePlant->reg;
}

void BM_List(benchmark::State& state) {
    kx::AssetRegister& reg = plant();
    for (auto _ : state) {
        auto list = reg.list();
        if (!list || list.value().size() != std::size_t(kAssets))
            state.SkipWithError("list failed");
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(BM_List)->Unit(benchmark::kMillisecond);

void BM_ListFiltered(benchmark::State& state) {
    kx::AssetRegister& reg = plant();
    for (auto _ : state) {
        auto list = reg.list({QStringLiteral("hall 3")});
        benchmark::DoNotOptimize(list);
    }
}
BENCHMARK(BM_ListFiltered)->Unit(benchmark::kMillisecond);

// What an asset's page reads: its tests and its trend.
void BM_AssetPage(benchmark::State& state) {
    kx::AssetRegister& reg = plant();
    int i = 0;
    for (auto _ : state) {
        const QString tag = tagOf((i++ * 7919) % kAssets);
        auto tests = reg.tests(tag);
        auto trend = reg.trend(tag);
        if (!tests || !trend || tests.value().size() != std::size_t(kTestsEach))
            state.SkipWithError("page failed");
        benchmark::DoNotOptimize(trend);
    }
}
BENCHMARK(BM_AssetPage)->Unit(benchmark::kMillisecond);

// One test with its readings, as a point of the chart opens it.
void BM_OneTest(benchmark::State& state) {
    kx::AssetRegister& reg = plant();
    qint64 id = 1;
    for (auto _ : state) {
        auto t = reg.test(id);
        id = id % (kAssets * kTestsEach) + 1;
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_OneTest)->Unit(benchmark::kMicrosecond);

void BM_ComputeTrend(benchmark::State& state) {
    std::vector<kx::TrendPoint> points;
    for (int y = 0; y < kTestsEach; ++y) {
        kx::TrendPoint p;
        p.testId = y + 1;
        p.testedAt = QDateTime(QDate(2005 + y, 3, 1), QTime(9, 0));
        p.r60Corrected40 = 5e9 * std::pow(0.8, y);
        points.push_back(p);
    }
    for (auto _ : state) {
        auto t = kx::computeTrend(points, 100e6, 2.0);
        benchmark::DoNotOptimize(t);
    }
}
BENCHMARK(BM_ComputeTrend)->Unit(benchmark::kMicrosecond);

// Filing a table of three tests under an asset of the full register, as an import does.
void BM_FileTable(benchmark::State& state) {
    kx::AssetRegister& reg = plant();
    static int n = 0; // new tables on every run of the benchmark
    for (auto _ : state) {
        std::vector<kx::FiledTest> tests;
        for (int k = 1; k <= 3; ++k) {
            kx::FiledTest t = benchTest(n % kAssets, kTestsEach, 1e9);
            t.sourceHash = QStringLiteral("new-%1").arg(n);
            t.sourceTest = k;
            tests.push_back(t);
        }
        auto r = reg.fileTests(tagOf(n % kAssets), tests);
        if (!r || r.value().filed != 3)
            state.SkipWithError("filing failed");
        ++n;
    }
}
BENCHMARK(BM_FileTable)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    thePlant.reset(); // while the application object lives
    return 0;
}
