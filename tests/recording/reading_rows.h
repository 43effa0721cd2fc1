#pragma once

#include "recording/readings_schema.h"
#include "recording/record_store.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Readings tables built in memory for the results tests: one row per reading.
namespace kxtest {

inline const std::string kOhmSign = "\xA6\xB8";
inline const std::string kMOhm = "M" + kOhmSign;
inline const std::string kGOhm = "G" + kOhmSign;
inline const std::string kIr2500 = "IR:2500 100G" + kOhmSign;
inline const std::string kIr500 = "IR:500V 20G" + kOhmSign;

struct Row {
    std::int64_t no = 0;
    std::int64_t ms = 0; // time of day; negative: NULL
    std::string value;
    std::string unit;
    std::string function = kIr2500;
    std::string mode = "PI";
};

inline kx::RecordStore storeOf(const std::vector<Row>& rows) {
    kx::RecordStore s;
    s.reset(kx::readingsFields());
    std::vector<kx::RecordStore::Cell> cells(6);
    for (const Row& r : rows) {
        cells[0] = {true, r.no, 0, {}};
        cells[1] = {r.ms >= 0, r.ms, 0, {}};
        cells[2] = {!r.value.empty(), 0, 0, r.value};
        cells[3] = {!r.unit.empty(), 0, 0, r.unit};
        cells[4] = {!r.function.empty(), 0, 0, r.function};
        cells[5] = {!r.mode.empty(), 0, 0, r.mode};
        s.append(cells);
    }
    return s;
}

// A resistance as the meter shows it: four significant digits in MΩ, GΩ above 999.9 MΩ.
inline std::pair<std::string, std::string> meterText(double ohms) {
    double v = ohms / 1e6;
    std::string unit = kMOhm;
    if (v >= 999.95) {
        v /= 1000;
        unit = kGOhm;
    }
    const int decimals = v < 9.9995 ? 3 : v < 99.995 ? 2 : v < 999.95 ? 1 : 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return {buf, unit};
}

// Rows of one test: a reading at each of `times` (ms after `startMs`) of the curve `ohmsAt`
// (seconds to ohms), numbered from `firstNo`.
template <typename Curve>
std::vector<Row> curveRows(const std::vector<std::int64_t>& times, Curve ohmsAt,
                           std::int64_t startMs = 36'000'000, std::int64_t firstNo = 1,
                           const std::string& mode = "PI", const std::string& function = kIr2500) {
    std::vector<Row> rows;
    for (std::size_t i = 0; i < times.size(); ++i) {
        auto [value, unit] = meterText(ohmsAt(static_cast<double>(times[i]) / 1000.0));
        rows.push_back({firstNo + static_cast<std::int64_t>(i), startMs + times[i], value, unit,
                        function, mode});
    }
    return rows;
}

// Every `stepMs` from 0 to `lastMs`.
inline std::vector<std::int64_t> everyMs(std::int64_t stepMs, std::int64_t lastMs) {
    std::vector<std::int64_t> t;
    for (std::int64_t x = 0; x <= lastMs; x += stepMs)
        t.push_back(x);
    return t;
}

} // namespace kxtest
