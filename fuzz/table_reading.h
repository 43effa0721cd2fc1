#pragma once

#include "paradox/paradox_reader.h"
#include "readings/field_text.h"
#include "readings/readings_table.h"

#include <QString>

namespace kxfuzz {

// Reads a table file every way the program does: the engine's reader with every value's own
// text (table dump), the display texts (grids, reports, exports), and a readings table opened
// on the file with every cell's text.
inline void readLikeTheProgram(const QString& path) {
    kx::Result<kx::px::TableReader> r = kx::px::TableReader::open(path);
    if (r) {
        const std::vector<kx::px::FieldDef>& fields = r.value().info().fields;
        (void)r.value().forEach([&](const kx::px::Record& rec) {
            for (std::size_t i = 0; i < rec.size(); ++i) {
                (void)rec[i].toText();
                (void)kx::displayText(fields[i].type, rec[i]);
            }
            return true;
        });
    }
    kx::ReadingsTable table;
    table.setTableName(path);
    if (table.open()) {
        const int fieldCount = static_cast<int>(table.fields().size());
        for (qint64 row = 0; row < table.rowCount(); ++row) {
            for (int f = 0; f < fieldCount; ++f)
                (void)table.fieldText(row, f);
        }
        table.close();
    }
}

} // namespace kxfuzz
