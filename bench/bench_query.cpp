// The search's statements over a table file of a million readings: filtering by unit, as the
// search dialog's query and as the command line's stream, and listing every record. Target:
// filtering 1,000,000 records takes under 0.5 s. Prints the best of five runs of each.
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "reports/local_query.h"
#include "reports/table_query_model.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace kx;

namespace {

constexpr int kRecords = 1'000'000;
constexpr double kTarget = 0.5;

void check(const Status& s) {
    if (!s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.error()));
        std::exit(1);
    }
}

void writeTable(const QString& path) {
    const char* units[] = {"V", "M\xA6\xB8", "G\xA6\xB8", "A"};
    auto w = px::TableWriter::create(path, readingsFields());
    check(w.status());
    px::Record rec(6);
    for (int i = 1; i <= kRecords; ++i) {
        rec[0] = px::Value(std::int32_t(i));
        rec[1] = px::Value::timeOfDay((i * 997) % 86400000);
        rec[2] = px::Value("1.234");
        rec[3] = px::Value(units[i % 4]);
        rec[4] = px::Value("IR:5000V 1000G\xA6\xB8");
        rec[5] = px::Value("Continuous");
        check(w.value()->append(rec));
    }
    check(w.value()->close());
}

// Best of five runs, in seconds; `rows` gets the rows of the last.
double best(const std::function<qint64()>& run, qint64* rows) {
    double fastest = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        *rows = run();
        fastest = std::min(
            fastest, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return fastest;
}

void report(const char* what, double s, qint64 rows, bool targeted) {
    std::printf("%-46s %8.3f s  %8lld rows%s\n", what, s, static_cast<long long>(rows),
                targeted ? (s < kTarget ? "  (target < 0.5 s: met)" : "  (target < 0.5 s: MISSED)")
                         : "");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath("Readings.DB");
    std::printf("writing %d records...\n", kRecords);
    writeTable(path);

    const QString filter = QStringLiteral("select * from\"%1\"where Unit=\"V\"").arg(path);
    const QString all = QStringLiteral("select * from\"%1\"").arg(path);
    qint64 rows = 0;

    double s = best(
        [&] {
            TableQuery q = TableQuery::prepare(parseQueryStatement(filter).take()).take();
            return q.count().value();
        },
        &rows);
    report("filter by unit, count only", s, rows, true);

    s = best(
        [&] {
            TableQuery q = TableQuery::prepare(parseQueryStatement(filter).take()).take();
            qint64 n = 0;
            check(q.forEachRow([&](const px::Record&) { return ++n > 0; }));
            return n;
        },
        &rows);
    report("filter by unit, matching rows decoded", s, rows, true);

    s = best(
        [&] {
            TableQueryModel m;
            m.setText(filter);
            check(m.open());
            return m.recordCount();
        },
        &rows);
    report("filter by unit into the dialog's grid model", s, rows, true);

    s = best(
        [&] {
            TableQueryModel m;
            m.setText(all);
            check(m.open());
            return m.recordCount();
        },
        &rows);
    report("every record into the dialog's grid model", s, rows, false);
    return 0;
}
