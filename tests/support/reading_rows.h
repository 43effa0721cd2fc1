#pragma once

// Readings the recording tests are built from: rows of a recording, insulation test curves
// recorded as the meter shows them, tables holding them, and the five writers a save uses.

#include "exports/readings_exports.h"
#include "exports/table_export.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/record_store.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kxtest {

inline const std::string kOhmSign = "\xA6\xB8"; // code page 936, as the tables hold it
inline const std::string kOhmUtf8 = "\xCE\xA9";
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

// Writes the rows as a readings table file.
inline kx::Status writeRowsTable(const QString& path, const std::vector<Row>& rows) {
    std::vector<kx::px::Record> records;
    auto text = [](const std::string& t) { return kx::px::Value(QByteArray::fromStdString(t)); };
    for (const Row& r : rows)
        records.push_back({kx::px::Value(std::int32_t(r.no)), kx::px::Value::timeOfDay(int(r.ms)),
                           text(r.value), text(r.unit), text(r.function), text(r.mode)});
    return kx::px::writeKeyedTable(path, kx::readingsFields(), records);
}

// Appends a row to the live table, or with `store` to the stored table's S-named fields.
inline void addRow(kx::ReadingsTable& t, const Row& r, bool store = false) {
    const std::string p = store ? "S" : "";
    t.append();
    ASSERT_TRUE(t.setFieldInt(p + "No", static_cast<std::int32_t>(r.no)).ok());
    if (r.ms >= 0) {
        ASSERT_TRUE(t.setFieldTime(p + "Time", static_cast<std::int32_t>(r.ms)).ok());
    }
    ASSERT_TRUE(t.setFieldText(p + "Value", r.value).ok());
    ASSERT_TRUE(t.setFieldText(p + "Unit", r.unit).ok());
    ASSERT_TRUE(t.setFieldText(p + "V_Range", r.function).ok());
    ASSERT_TRUE(t.setFieldText(p + "I_Range", r.mode).ok());
    ASSERT_TRUE(t.post().ok());
}

// Dielectric absorption: a fast charging term and a slow rise, PI about 2.5.
inline double absorption(double s) {
    return 4e9 * (1 - 0.83 * std::exp(-s / 200) - 0.17 * std::exp(-s / 2));
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

// Readings of every kind a recording holds: every unit, blanks, overloads, dashes, negative
// values, voltages, and texts that need quoting or are not ASCII.
inline std::vector<Row> everyKindOfReading() {
    const std::string ir = "IR:1000V 40G" + kOhmSign;
    return {
        {1, 45296789, "941.5", kMOhm, ir, "Continuous"},
        {2, 0, "1.2", "T" + kOhmSign, ir, "PI"},
        {3, 86399999, "0.500", kOhmSign, ir, "Timed"},
        {4, 1000, "12.5", "k" + kOhmSign, ir, "Timed"},
        {5, 2000, "1.234", kGOhm, ir, "Timed"},
        {6, 3000, "230.4", "V", "ACV  600V", "Timed"},
        {7, 4000, "-10", "V", "DCV  600V", "Timed"},
        {8, 5000, "0L", kMOhm, ir, "Timed"},
        {9, 6000, "L0.20", kGOhm, ir, "Timed"},
        {10, 7000, "----", kGOhm, ir, "Timed"},
        {11, -1, "", "", "", ""},
        {12, 8000, "941.5   ", kMOhm, ir, "a \"q\", b\r\nc"},
        {13, 9000, "12", "mV", "DCV  600mV", "\xB2\xE2\xCA\xD4 " + kOhmSign}, // 测试 Ω
        {14, 10000, "-1.0", kMOhm, "=1+2", "@x"},
        {15, 11000, "3.5", "A", "ACA", "a,b;c"},
    };
}

// A scratch readings table holding everyKindOfReading(), and a temporary folder to save it in.
struct EveryKindOfReadingTable : ::testing::Test {
    QTemporaryDir dir;
    kx::ReadingsTable table;

    void SetUp() override {
        table.openScratch(kx::readingsFields());
        for (const Row& r : everyKindOfReading())
            addRow(table, r);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
};

// Whether a status or result failed with a message that holds `part`; tells the message (or
// the success) when not.
template <typename S> testing::AssertionResult failsWith(const S& status, const QString& part) {
    if (!status.ok() && status.error().contains(part))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << (status.ok() ? std::string("it succeeded") : status.error().toStdString());
}

inline QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// One of the writers of a save, with the options of its kind left at their defaults.
struct Writer {
    const char* name;
    const char* extension;
    std::function<kx::Status(const kx::ReadingsTable&, const QString&, kx::ExportKind,
                             const kx::ExportProgress&)>
        save;
};

// The program's own two formats and the three for other programs.
inline std::vector<Writer> allWriters() {
    using kx::ExportKind;
    using kx::ExportProgress;
    using kx::ReadingsTable;
    return {
        {"text", "txt", &kx::SaveToText},
        {"keyed", "db", &kx::SaveToDB},
        {"csv", "csv",
         [](const ReadingsTable& t, const QString& p, ExportKind k, const ExportProgress& g) {
             return kx::saveReadingsCsv(t, p, k, {}, g);
         }},
        {"jsonl", "jsonl", &kx::saveReadingsJsonLines},
        {"xlsx", "xlsx",
         [](const ReadingsTable& t, const QString& p, ExportKind k, const ExportProgress& g) {
             return kx::saveReadingsXlsx(t, p, k, {}, g);
         }},
    };
}

} // namespace kxtest
