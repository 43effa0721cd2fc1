#pragma once

#include "common/cp936.h"
#include "recording/readings_schema.h"
#include "recording/readings_table.h"

#include <QString>

#include <string>

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

} // namespace kxtest
