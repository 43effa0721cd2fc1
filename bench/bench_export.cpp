// Saving a recording at the "Limitless" ceiling: ten million readings written as the text
// export and as a keyed Paradox copy, with the memory the text export takes on top of the
// table's own. Usage: bench_export [records] [folder]
#include "bench_support.h"
#include "exports/table_export.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using kxbench::cpuSeconds;
using kxbench::peakKiB;
using kxbench::resetPeak;
using kxbench::residentKiB;
using kxbench::seconds;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 10'000'000;
    QTemporaryDir tmp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX")
                               : QString());
    if (!tmp.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }

    // A recording as the meter makes it: a value wandering over a few thousand texts, one
    // reading every half second.
    kx::ReadingsTable table;
    table.openScratch(kx::readingsFields());
    std::vector<std::string> values;
    for (int i = 0; i < 4000; ++i)
        values.push_back(std::to_string(i / 1000) + "." + std::to_string(100 + i % 900));
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < total; ++i) {
        const kx::Reading r{i + 1, static_cast<std::int32_t>((i * 500LL) % 86400000),
                            values[static_cast<std::size_t>(i % 4000)], "M\xA6\xB8",
                            "IR:1000V 40G\xA6\xB8", i % 2 ? "Continuous" : "Timed"};
        if (!table.appendReading(r))
            return 1;
    }
    std::printf("records              %d (table filled in %.2f s, %.1f MB of records)\n", total,
                seconds(fill), static_cast<double>(table.memoryUsage()) / 1e6);

    const QString text = tmp.filePath(QStringLiteral("readings.txt"));
    const long before = residentKiB();
    const bool peakReset = resetPeak();
    QElapsedTimer t;
    t.start();
    double cpu = cpuSeconds();
    kx::Status s = kx::SaveToText(table, text, kx::ExportKind::Live);
    const double textS = seconds(t);
    const double textCpu = cpuSeconds() - cpu;
    const long peak = peakKiB();
    if (!s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.error()));
        return 1;
    }
    std::printf("text export          %.2f s (%.2f s processor), %.1f MB written (target under "
                "3 s)\n",
                textS, textCpu, static_cast<double>(QFileInfo(text).size()) / 1e6);
    if (peakReset)
        std::printf("text export memory   %.1f MB above the table's own (target under 64 MB)\n",
                    static_cast<double>(peak - before) / 1024.0);
    else
        std::printf("text export memory   not measured (no /proc/self/clear_refs)\n");
    QFile::remove(text);

    const QString keyed = tmp.filePath(QStringLiteral("readings.db"));
    t.restart();
    cpu = cpuSeconds();
    s = kx::SaveToDB(table, keyed, kx::ExportKind::Live);
    const double keyedS = seconds(t);
    const double keyedCpu = cpuSeconds() - cpu;
    if (!s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.error()));
        return 1;
    }
    std::printf("keyed copy           %.2f s (%.2f s processor), %.1f MB written (target under "
                "5 s)\n",
                keyedS, keyedCpu, static_cast<double>(QFileInfo(keyed).size()) / 1e6);
    return 0;
}
