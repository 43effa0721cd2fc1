// Input: the bytes of a test details file beside a readings table with three tests, the last
// past midnight. Imports the table as `assets import` does (the walk that finds tables naming
// an asset, then the tests as they would be filed) and checks what it made of them: the walk
// and the details agree on the asset, the tests' dates go forward, and each test's readings
// start at its beginning and go forward in time.
#include "fuzz_support.h"

#include "assets/table_filing.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The table, written once: 20 s tests from 23:40:00, 23:50:00 and 00:05:00.
QString tablePath() {
    static const QString path = [] {
        const QString p = kxfuzz::scratchPath("t.db");
        std::vector<kx::px::Record> rows;
        std::int32_t no = 1;
        for (const int start : {(23 * 60 + 40) * 60'000, (23 * 60 + 50) * 60'000, 5 * 60'000}) {
            for (int s = 0; s <= 20; ++s, ++no)
                rows.push_back({kx::px::Value(no), kx::px::Value::timeOfDay(start + 1000 * s),
                                kx::px::Value(QByteArray::number(300 + s)),
                                kx::px::Value(QByteArray("M\xA6\xB8")),
                                kx::px::Value(QByteArray("IR:500V 20G\xA6\xB8")),
                                kx::px::Value(QByteArray("Timed"))});
        }
        if (!kx::px::writeTable(p, kx::readingsFields(), rows).ok())
            std::abort();
        return p;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString table = tablePath();
    kxfuzz::putFile(kxfuzz::scratchPath("t.results.json"), data, size);
    const kx::Result<QStringList> named = kx::tablesNamingAnAsset(kxfuzz::scratchDir().path());
    if (!named)
        __builtin_trap();
    const kx::Result<kx::TableTests> tests = kx::tableTestsToFile(table);
    if (!tests)
        __builtin_trap(); // the table itself is sound: only the details vary
    const kx::TableTests& t = tests.value();
    if (named.value().contains(table) == t.detailsAsset.isEmpty())
        __builtin_trap();
    QDateTime previous;
    for (const kx::FiledTest& f : t.tests) {
        if (!f.testedAt.isValid() || (previous.isValid() && f.testedAt < previous))
            __builtin_trap();
        previous = f.testedAt;
        double elapsed = 0;
        for (const kx::FiledReading& r : f.readings) {
            if (r.elapsed < elapsed || r.elapsed > f.result.duration)
                __builtin_trap();
            elapsed = r.elapsed;
        }
        if (f.readings.empty() || f.readings.front().elapsed != 0)
            __builtin_trap();
    }
    return 0;
}
