#pragma once

#include "common/cp936.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kxtest {

// The unit of record i: "V" or "MΩ" (code page 936), so reports carry the two-byte sign.
inline std::string unitOf(int i) {
    return i % 2 ? kx::toCp936(QStringLiteral("M\u03A9")) : std::string("V");
}

// Fills an open scratch table of the live (or stored) kind with n readings: record numbers
// from 1, times a second apart from 10:00:00, values "1.000", "1.001", ...
inline void fillReadings(kx::ReadingsTable& t, int n, bool store = false) {
    t.openScratch(kx::readingsFields(store));
    const std::string p = store ? "S" : "";
    for (int i = 0; i < n; ++i) {
        t.append();
        (void)t.setFieldInt(p + "No", i + 1);
        (void)t.setFieldTime(p + "Time", 36'000'000 + i * 1000);
        (void)t.setFieldText(p + "Value",
                             QStringLiteral("%1").arg(1 + i / 1000.0, 0, 'f', 3).toStdString());
        (void)t.setFieldText(p + "Unit", unitOf(i));
        (void)t.setFieldText(p + "V_Range", "IR:500V 20G" + kx::toCp936(QStringLiteral("\u03A9")));
        (void)t.setFieldText(p + "I_Range", "Continuous");
        (void)t.post();
    }
}

// Appends one reading to an open live table.
inline void addReading(kx::ReadingsTable& t, int no, int ms, const std::string& value,
                       const std::string& unit, const std::string& function,
                       const std::string& mode) {
    t.append();
    ASSERT_TRUE(t.setFieldInt("No", no).ok());
    ASSERT_TRUE(t.setFieldTime("Time", ms).ok());
    ASSERT_TRUE(t.setFieldText("Value", value).ok());
    ASSERT_TRUE(t.setFieldText("Unit", unit).ok());
    ASSERT_TRUE(t.setFieldText("V_Range", function).ok());
    ASSERT_TRUE(t.setFieldText("I_Range", mode).ok());
    ASSERT_TRUE(t.post().ok());
}

// `tests` timed tests of 70 s at 500 V whose resistance rises by 2 MΩ a second from 300 MΩ
// (R15 330, R30 360, R60 420 MΩ), read every second from 09:00:00 and ten minutes apart, then
// a continuous test at 2500 V of 12 s five minutes after the last.
inline void fillInsulationTests(kx::ReadingsTable& t, int tests = 1) {
    const std::string ohm = "\xA6\xB8";
    t.openScratch(kx::readingsFields());
    int no = 1;
    for (int k = 0; k < tests; ++k) {
        const int start = 9 * 3'600'000 + k * 600'000;
        for (int s = 0; s <= 70; ++s)
            addReading(t, no++, start + s * 1000,
                       QString::number(300 + 2 * s, 'f', 1).toStdString(), "M" + ohm,
                       "IR:500V 20G" + ohm, "Timed");
    }
    for (int s = 0; s <= 12; ++s)
        addReading(t, no++, 9 * 3'600'000 + 300'000 + tests * 600'000 + s * 1000, "1.500",
                   "G" + ohm, "IR:2500 100G" + ohm, "Continuous");
}

// Readings table files with chosen units, for the search tests. Units are code page 936 bytes
// ("M\xA6\xB8" is MΩ); a null unit leaves the field blank.
struct ValueUnit {
    const char* value;
    const char* unit;
};

// Record `no`: at 10:00:00 plus `no` seconds, of a 500 V insulation test.
inline kx::px::Record readingRecord(int no, const ValueUnit& r) {
    kx::px::Record rec(6);
    rec[0] = kx::px::Value(std::int32_t(no));
    rec[1] = kx::px::Value::timeOfDay(36000000 + no * 1000);
    rec[2] = kx::px::Value(r.value);
    rec[3] = r.unit ? kx::px::Value(r.unit) : kx::px::Value();
    rec[4] = kx::px::Value("IR:500V 20G\xA6\xB8");
    rec[5] = kx::px::Value("Continuous");
    return rec;
}

inline void writeReadings(const QString& path, const std::vector<ValueUnit>& readings) {
    std::vector<kx::px::Record> rows;
    for (std::size_t i = 0; i < readings.size(); ++i)
        rows.push_back(readingRecord(static_cast<int>(i) + 1, readings[i]));
    const kx::Status s = kx::px::writeTable(path, kx::readingsFields(), rows);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
}

// The pixels of `img` within `area` that `ink` matches: how many, the box round them and
// their centre.
struct Ink {
    int count = 0;
    QRect box;
    QPointF centre;
};
inline Ink inkIn(const QImage& img, const QRect& area, const std::function<bool(QRgb)>& ink) {
    Ink found;
    double sx = 0;
    double sy = 0;
    const QRect r = area & img.rect();
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            if (ink(line[x])) {
                ++found.count;
                found.box |= QRect(x, y, 1, 1);
                sx += x;
                sy += y;
            }
        }
    }
    if (found.count > 0)
        found.centre = QPointF(sx / found.count, sy / found.count);
    return found;
}

} // namespace kxtest
