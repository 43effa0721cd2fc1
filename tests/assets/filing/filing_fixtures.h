#pragma once

#include "analysis/details_file.h"
#include "exports/table_export.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "reports/report_fixtures.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kxtest {

// Two 70 s timed tests at 500 V from 09:00:00 and 09:10:00 (R60 420 MΩ), then a 12 s
// continuous run at 2500 V from 09:25:00, saved as a readings table at `path`. Tables of
// different `variant`s differ in the continuous run's value, so their bytes differ.
inline void writeFilingTable(const QString& path, int variant = 0) {
    const std::string ohm = "\xA6\xB8";
    kx::ReadingsTable t;
    t.openScratch(kx::readingsFields());
    int no = 1;
    for (const int start : {9 * 3'600'000, 9 * 3'600'000 + 600'000})
        for (int s = 0; s <= 70; ++s)
            addReading(t, no++, start + s * 1000, std::to_string(300 + 2 * s) + ".0", "M" + ohm,
                       "IR:500V 20G" + ohm, "Timed");
    for (int s = 0; s <= 12; ++s)
        addReading(t, no++, 9 * 3'600'000 + 1'500'000 + s * 1000,
                   QString::number(1.5 + 0.001 * variant, 'f', 3).toStdString(), "G" + ohm,
                   "IR:2500 100G" + ohm, "Continuous");
    const kx::Status s = kx::SaveToDB(t, path, kx::ExportKind::Live);
    ASSERT_TRUE(s.ok()) << s.error().toStdString();
}

inline QString filingTable(const QTemporaryDir& dir, const char* name = "t.db") {
    const QString path = dir.filePath(QString::fromLatin1(name));
    writeFilingTable(path);
    return path;
}

// Three 70 s timed tests from 23:50:00, 23:58:30 and 00:05:00.
inline QString midnightTable(const QTemporaryDir& dir) {
    const QString path = dir.filePath(QStringLiteral("midnight.db"));
    const std::string ohm = "\xA6\xB8";
    kx::ReadingsTable t;
    t.openScratch(kx::readingsFields());
    int no = 1;
    for (const int start : {(23 * 60 + 50) * 60'000, (23 * 60 + 58) * 60'000 + 30'000, 5 * 60'000})
        for (int s = 0; s <= 70; ++s)
            addReading(t, no++, start + s * 1000, std::to_string(300 + s), "M" + ohm,
                       "IR:500V 20G" + ohm, "Timed");
    const kx::Status s = kx::SaveToDB(t, path, kx::ExportKind::Live);
    EXPECT_TRUE(s.ok()) << s.error().toStdString();
    return path;
}

// Gives the file the time of its last change.
inline void setChanged(const QString& path, const QDateTime& when) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
}

} // namespace kxtest
