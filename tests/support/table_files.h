#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include "paradox/paradox_index.h"
#include "paradox/paradox_writer.h"

#include <gtest/gtest.h>

// Paths and small file helpers shared by the table-file tests.

// Tables made by other programs, kept with the tests (tests/fixtures/). A test that needs them
// fails when they are missing rather than passing without having run.
inline QString fixturesDir() {
    return QStringLiteral(KX_SOURCE_DIR "/tests/fixtures/");
}
inline QString fixture(const char* name) {
    return fixturesDir() + QLatin1String(name);
}
#define KX_NEED_FIXTURES()                                                                         \
    ASSERT_TRUE(QDir(fixturesDir()).exists())                                                      \
        << "table fixtures missing from " << fixturesDir().toStdString()

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Six fields laid out as the program's readings tables are: a Long number, a Time and four
// Alpha texts; `prefix` names the stored table's twins ("S").
inline std::vector<kx::px::FieldDef> readingsLikeFields(const QByteArray& prefix = {}) {
    using T = kx::px::FieldType;
    return {
        {prefix + "No", T::Long, 4},        {prefix + "Time", T::Time, 4},
        {prefix + "Value", T::Alpha, 16},   {prefix + "Unit", T::Alpha, 8},
        {prefix + "V_Range", T::Alpha, 24}, {prefix + "I_Range", T::Alpha, 16},
    };
}

// Write options with the given block size.
inline kx::px::WriteOptions blocks(int size) {
    kx::px::WriteOptions o;
    o.blockSize = size;
    return o;
}

// Records the index points at: the counts of its lowest level.
inline std::int64_t indexedRecords(const kx::px::PrimaryIndex& index) {
    std::int64_t n = 0;
    if (!index.levels.empty()) {
        for (const kx::px::IndexEntry& e : index.levels.back())
            n += e.count;
    }
    return n;
}
