// The spreadsheet-friendly exports of a large recording: a million readings to .csv (both
// variants), .jsonl and .xlsx, then ten million to .csv, each timed with the memory it takes on
// top of the table's own. Each goes through the one save command the window and the command
// line run, with a progress callback as the window passes one. Usage: bench_readings_exports
// [records] [records for the large .csv] [folder] (0 records for the large .csv skips it).
#include "bench_support.h"
#include "exports/readings_exports.h"
#include "exports/table_export.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using kxbench::seconds;

// A recording as the meter makes it: values wandering over a few thousand texts in MΩ and GΩ,
// a voltage check now and then, one reading every half second.
std::unique_ptr<kx::ReadingsTable> recording(int total) {
    auto table = std::make_unique<kx::ReadingsTable>();
    table->openScratch(kx::readingsFields());
    std::vector<std::string> values;
    for (int i = 0; i < 4000; ++i)
        values.push_back(std::to_string(i / 10) + "." + std::to_string(i % 10));
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < total; ++i) {
        table->append();
        const bool volts = i % 1000 == 999;
        const bool ok =
            table->setFieldInt("No", i + 1).ok() &&
            table->setFieldTime("Time", static_cast<std::int32_t>((i * 500LL) % 86400000)).ok() &&
            table
                ->setFieldText("Value", volts ? "1003" : values[static_cast<std::size_t>(i % 4000)])
                .ok() &&
            table->setFieldText("Unit", volts   ? "V"
                                        : i % 3 ? "M\xA6\xB8"
                                                : "G\xA6\xB8")
                .ok() &&
            table->setFieldText("V_Range", "IR:1000V 40G\xA6\xB8").ok() &&
            table->setFieldText("I_Range", i % 2 ? "Continuous" : "Timed").ok() &&
            table->post().ok();
        if (!ok)
            return nullptr;
    }
    std::printf("records              %d (table filled in %.2f s, %.1f MB of records)\n", total,
                seconds(fill), static_cast<double>(table->memoryUsage()) / 1e6);
    return table;
}

kx::Status saveAs(kx::ReadingsTable& table, const QString& path,
                  const kx::ExportOptions& options = {}) {
    const kx::SaveAsOutcome o = kx::saveTableAs(
        table, path, kx::ExportKind::Live, [](qint64, qint64) { return true; }, options);
    if (!o.saved())
        return kx::fail(o.error);
    return {};
}

bool measure(const char* name, const QString& path, double targetS,
             const std::function<kx::Status()>& save) {
    const long before = kxbench::residentKiB();
    const bool peakReset = kxbench::resetPeak();
    QElapsedTimer t;
    t.start();
    const double cpu = kxbench::cpuSeconds();
    const kx::Status s = save();
    const double wall = seconds(t);
    const double used = kxbench::cpuSeconds() - cpu;
    const long peak = kxbench::peakKiB();
    if (!s) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(s.error()));
        return false;
    }
    std::printf("%-20s %.2f s (%.2f s processor), %.1f MB written (target under %.0f s)\n", name,
                wall, used, static_cast<double>(QFileInfo(path).size()) / 1e6, targetS);
    if (peakReset)
        std::printf("%-20s %.1f MB above the table's own (target under 100 MB)\n", "  memory",
                    static_cast<double>(peak - before) / 1024.0);
    QFile::remove(path);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 1'000'000;
    const int large = argc > 2 ? std::atoi(argv[2]) : 10'000'000;
    QTemporaryDir tmp(argc > 3 ? QString::fromLocal8Bit(argv[3]) + QStringLiteral("/bench-XXXXXX")
                               : QString());
    if (!tmp.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    {
        const std::unique_ptr<kx::ReadingsTable> table = recording(total);
        if (!table)
            return 1;
        const QString csv = tmp.filePath(QStringLiteral("readings.csv"));
        const QString jsonl = tmp.filePath(QStringLiteral("readings.jsonl"));
        const QString xlsx = tmp.filePath(QStringLiteral("readings.xlsx"));
        kx::ExportOptions european;
        european.csv.delimiter = ';';
        european.csv.decimalComma = true;
        if (!measure(".csv", csv, 2, [&] { return saveAs(*table, csv); }) ||
            !measure(".csv (; and ,)", csv, 2, [&] { return saveAs(*table, csv, european); }) ||
            !measure(".jsonl", jsonl, 2, [&] { return saveAs(*table, jsonl); }) ||
            !measure(".xlsx", xlsx, 15, [&] { return saveAs(*table, xlsx); }))
            return 1;
    }
    if (large > 0) {
        const std::unique_ptr<kx::ReadingsTable> table = recording(large);
        if (!table)
            return 1;
        const QString csv = tmp.filePath(QStringLiteral("large.csv"));
        if (!measure(".csv (large)", csv, 15, [&] { return saveAs(*table, csv); }))
            return 1;
    }
    return 0;
}
