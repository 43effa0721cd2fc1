#pragma once

#include "paradox/paradox_value.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_schema.h"

#include <QString>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// Readings table files with chosen units, for the search tests. Units are code page 936 bytes
// ("M\xA6\xB8" is MΩ); a null unit leaves the field blank.
struct Reading {
    const char* value;
    const char* unit;
};

inline kx::px::Record readingRecord(int no, const Reading& r) {
    kx::px::Record rec(6);
    rec[0] = kx::px::Value(std::int32_t(no));
    rec[1] = kx::px::Value::timeOfDay(36000000 + no * 1000);
    rec[2] = kx::px::Value(r.value);
    rec[3] = r.unit ? kx::px::Value(r.unit) : kx::px::Value();
    rec[4] = kx::px::Value("IR:500V 20G\xA6\xB8");
    rec[5] = kx::px::Value("Continuous");
    return rec;
}

inline void writeReadings(const QString& path, const std::vector<Reading>& readings) {
    std::vector<kx::px::Record> rows;
    for (std::size_t i = 0; i < readings.size(); ++i)
        rows.push_back(readingRecord(static_cast<int>(i) + 1, readings[i]));
    const kx::Status s = kx::px::writeTable(path, kx::readingsFields(), rows);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
}
