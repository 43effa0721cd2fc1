#pragma once

// Helpers shared by the table-file tests of this folder.
#include "support/table_files.h"

#include "paradox/paradox_value.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pxtest {

// Passes when the outcome (a Status or a Result) failed with a message holding `part`.
template <class Outcome>
::testing::AssertionResult failsWith(const Outcome& o, const QString& part) {
    if (o.ok())
        return ::testing::AssertionFailure() << "succeeded, wanted: " << part.toStdString();
    if (!o.error().contains(part))
        return ::testing::AssertionFailure()
               << "failed with: " << o.error().toStdString() << "\nwanted: " << part.toStdString();
    return ::testing::AssertionSuccess();
}

// Passes when the outcome succeeded; shows its message otherwise.
template <class Outcome>::testing::AssertionResult succeeds(const Outcome& o) {
    if (o.ok())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << o.error().toStdString();
}

// A keyed layout of 48-byte records (21 to a 1 KB block) and rows numbered from `first`.
inline const std::vector<kx::px::FieldDef> kNumberedFields = {
    {"No", kx::px::FieldType::Long, 4}, {"Text", kx::px::FieldType::Alpha, 44}};

inline std::vector<kx::px::Record> numberedRows(int n, int first = 1) {
    std::vector<kx::px::Record> rows;
    for (int i = 0; i < n; ++i)
        rows.push_back({kx::px::Value(std::int32_t(first + i)),
                        kx::px::Value(QByteArray("row ") + QByteArray::number(i))});
    return rows;
}

// A Long as tables store it: big-endian with the sign bit flipped.
inline QByteArray storedLong(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
    const char b[4] = {static_cast<char>(u >> 24), static_cast<char>(u >> 16),
                       static_cast<char>(u >> 8), static_cast<char>(u)};
    return QByteArray(b, 4);
}

// Little-endian 16-bit numbers of table and index headers.
inline void put16(QByteArray& b, int at, int v) {
    b[at] = static_cast<char>(v);
    b[at + 1] = static_cast<char>(v >> 8);
}
inline int le16(const QByteArray& b, int at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

// Everything in a folder, hidden files and folders included, by name.
inline QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(
        QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// A test with a temporary folder of its own.
struct InTempDir : ::testing::Test {
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
};

} // namespace pxtest
