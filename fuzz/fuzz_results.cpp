// Input: either a reading's value and unit texts (first byte even; split at the first NUL), or
// a small readings table (first byte odd, its next two bits the recording rules): records of a
// 2-byte number step, a 2-byte time step and four texts, each text a 1-byte length and its
// bytes. The tests found must be
// sound, the live walk must agree with the whole-table one, and every result must make JSON.
#include "analysis/insulation_analyser.h"
#include "readings/reading_quantity.h"
#include "readings/readings_schema.h"
#include "readings/record_store.h"

#include "fuzz_support.h"

#include <QJsonDocument>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using kxfuzz::check;
using kxfuzz::Input;

void checkResult(const kx::InsulationResult& r) {
    check(r.duration >= 10 && r.first <= r.last);
    for (const auto& v : {r.r15, r.r30, r.r60, r.r600, r.dar, r.dar15, r.pi, r.r60Corrected})
        check(!v || std::isfinite(*v));
    check(!r.reasons.isEmpty());
    check(!QJsonDocument(kx::insulationResultJson(r)).toJson().isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0) {
        const std::string_view all(reinterpret_cast<const char*>(data + 1), size - 1);
        const std::size_t cut = all.find('\0');
        const std::string_view value = all.substr(0, cut);
        const std::string_view unit =
            cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
        const kx::ReadingQuantity q = kx::readingQuantity(value, unit);
        check(!q.base || std::isfinite(*q.base));
        (void)kx::testVoltageOf(value);
        return 0;
    }

    Input in(data + 1, size - 1);
    kx::RecordStore store;
    store.reset(kx::readingsFields());
    std::vector<kx::RecordStore::Cell> cells(6);
    std::int64_t no = 0;
    std::int64_t ms = 43'200'000;
    while (!in.empty() && store.rowCount() < 4000) {
        const int noStep = static_cast<int>(in.word(2));
        const int timeStep = static_cast<int>(in.word(2));
        no += noStep % 16 - 2;         // mostly ascending, now and then back or repeated
        ms += (timeStep % 8000) - 500; // up to 7.5 s on, now and then back
        const bool timeKnown = (timeStep & 0x8000) == 0;
        cells[0] = {(noStep & 0x8000) == 0, no, 0, {}};
        cells[1] = {timeKnown, ms, 0, {}};
        for (std::size_t f = 2; f < 6; ++f) {
            std::string t = in.text();
            cells[f] = {!t.empty(), 0, 0, std::move(t)};
        }
        store.append(cells);
    }
    // Without recording rules each run's own pace stands for the interval.
    const kx::Result<std::vector<kx::InsulationResult>> paced = kx::findInsulationTests(store);
    check(paced.ok());
    for (const kx::InsulationResult& r : paced.value())
        checkResult(r);

    // The rules the first byte names: every reading, every 10 s, Repeat unticked, both.
    static const kx::RecordingRules kRules[] = {{}, {10, true}, {std::nullopt, false}, {10, false}};
    const kx::RecordingRules rules = kRules[(data[0] >> 1) % 4];
    const kx::Result<std::vector<kx::InsulationResult>> found =
        kx::findInsulationTests(store, {}, false, rules);
    check(found.ok());
    for (const kx::InsulationResult& r : found.value())
        checkResult(r);

    // In table order the live walk, with its test in progress looked at after each record,
    // must end with the same tests whenever the table is in number order.
    const kx::ReadingsColumns cols = kx::ReadingsColumns::find(store.fields()).value();
    kx::InsulationAnalyser live;
    live.setRules(rules);
    bool ordered = true;
    for (std::size_t row = 0; row < store.rowCount(); ++row) {
        if (store.isNull(row, cols.no) ||
            (row > 0 && store.intValue(row, cols.no) < store.intValue(row - 1, cols.no)))
            ordered = false;
        live.add(kx::readingAt(store, cols, row));
        if (const auto now = live.current())
            check(now->duration >= 0 && !now->reasons.isEmpty());
    }
    live.finish();
    if (ordered) {
        check(live.tests().size() == found.value().size());
        for (std::size_t i = 0; i < live.tests().size(); ++i)
            check(kx::insulationResultJson(live.tests()[i]) ==
                  kx::insulationResultJson(found.value()[i]));
    }
    return 0;
}
