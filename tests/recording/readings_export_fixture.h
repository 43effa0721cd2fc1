#pragma once

// Readings tables and file helpers shared by the tests of the .csv, .jsonl and .xlsx exports.

#include "recording/readings_exports.h"
#include "recording/readings_schema.h"
#include "recording/readings_table.h"
#include "support/python_reader.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kxtest {

inline const std::string kOhm936 = "\xA6\xB8";
inline const std::string kOhmUtf8 = "\xCE\xA9";

struct Reading {
    std::int32_t no;
    std::int32_t ms; // time of day; negative: none
    std::string value, unit, function, remark;
};

inline void addReading(kx::ReadingsTable& t, const Reading& r, bool store = false) {
    const std::string p = store ? "S" : "";
    t.append();
    ASSERT_TRUE(t.setFieldInt(p + "No", r.no).ok());
    if (r.ms >= 0) {
        ASSERT_TRUE(t.setFieldTime(p + "Time", r.ms).ok());
    }
    ASSERT_TRUE(t.setFieldText(p + "Value", r.value).ok());
    ASSERT_TRUE(t.setFieldText(p + "Unit", r.unit).ok());
    ASSERT_TRUE(t.setFieldText(p + "V_Range", r.function).ok());
    ASSERT_TRUE(t.setFieldText(p + "I_Range", r.remark).ok());
    ASSERT_TRUE(t.post().ok());
}

// Readings of every kind a recording holds: every unit, blanks, overloads, dashes, negative
// values, voltages, and texts that need quoting or are not ASCII.
inline std::vector<Reading> everyKindOfReading() {
    const std::string ir = "IR:1000V 40G" + kOhm936;
    return {
        {1, 45296789, "941.5", "M" + kOhm936, ir, "Continuous"},
        {2, 0, "1.2", "T" + kOhm936, ir, "PI"},
        {3, 86399999, "0.500", kOhm936, ir, "Timed"},
        {4, 1000, "12.5", "k" + kOhm936, ir, "Timed"},
        {5, 2000, "1.234", "G" + kOhm936, ir, "Timed"},
        {6, 3000, "230.4", "V", "ACV  600V", "Timed"},
        {7, 4000, "-10", "V", "DCV  600V", "Timed"},
        {8, 5000, "0L", "M" + kOhm936, ir, "Timed"},
        {9, 6000, "L0.20", "G" + kOhm936, ir, "Timed"},
        {10, 7000, "----", "G" + kOhm936, ir, "Timed"},
        {11, -1, "", "", "", ""},
        {12, 8000, "941.5   ", "M" + kOhm936, ir, "a \"q\", b\r\nc"},
        {13, 9000, "12", "mV", "DCV  600mV", "\xB2\xE2\xCA\xD4 " + kOhm936}, // 测试 Ω
        {14, 10000, "-1.0", "M" + kOhm936, "=1+2", "@x"},
        {15, 11000, "3.5", "A", "ACA", "a,b;c"},
    };
}

inline QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

using ExportProgress = kx::ExportProgress;

// One of the three writers, with the options of its kind left at their defaults.
struct Writer {
    const char* name;
    const char* extension;
    std::function<kx::Status(const kx::ReadingsTable&, const QString&, kx::ExportKind,
                             const ExportProgress&)>
        save;
};

inline std::vector<Writer> allWriters() {
    return {
        {"csv", "csv",
         [](const kx::ReadingsTable& t, const QString& p, kx::ExportKind k,
            const ExportProgress& g) { return kx::saveReadingsCsv(t, p, k, {}, g); }},
        {"jsonl", "jsonl",
         [](const kx::ReadingsTable& t, const QString& p, kx::ExportKind k,
            const ExportProgress& g) { return kx::saveReadingsJsonLines(t, p, k, g); }},
        {"xlsx", "xlsx",
         [](const kx::ReadingsTable& t, const QString& p, kx::ExportKind k,
            const ExportProgress& g) { return kx::saveReadingsXlsx(t, p, k, {}, g); }},
    };
}

} // namespace kxtest
