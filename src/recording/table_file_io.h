#pragma once

#include <QString>

#include "recording/readings_table.h"

namespace kx {

namespace px {
struct FieldDef;
}

TableField tableFieldFrom(const px::FieldDef& f);

// The bridge between readings tables and their Paradox files.

// Reads the structure and records of a table file into `table` (which must be closed).
bool loadTableFile(const QString& path, ReadingsTable& table, QString* error);
// Removes every record from a table file, keeping its structure.
bool emptyTableFile(const QString& path, QString* error);
// Writes the open table, pending records included, as a new Paradox table at `path` with a
// primary index on its first field. An existing file of that name is replaced.
bool saveKeyedCopy(const ReadingsTable& table, const QString& path, QString* error);

} // namespace kx
