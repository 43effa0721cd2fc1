#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace kx {

// Field lists of the two readings tables: No (Long), Time (Time), Value, Unit, V_Range and
// I_Range (Alpha, wide enough for the longest texts the decoder produces), and the S-prefixed
// twins of the stored-readings table.
std::vector<px::FieldDef> readingsFields(bool store = false);

// The six kinds of field a readings table holds, in the order the tables hold them: the
// record number, the time of day, and the value, unit, function and remark texts.
enum class ReadingsField { Number, Time, Value, Unit, Function, Remark };
inline constexpr int kReadingsFieldCount = 6;
// Where each kind is among a table's fields: the field index, by ReadingsField.
using ReadingsFieldMap = std::array<int, kReadingsFieldCount>;

// The names of the six fields in the live table (No, Time, ...) or the stored one (SNo, ...).
std::array<const char*, kReadingsFieldCount> readingsFieldNames(bool store);

// Finds the six kinds among a table's fields, so that either table's grids, reports and
// exports show a file of the other kind, or one made by another program. The names decide
// first: the stored table's names when `storeNamesFirst`, the live table's otherwise, then
// the other set. A table that has neither set is matched by position and kind: its first six
// fields must be a number, a time of day, a value (text or number) and three texts. Nothing
// when the fields cannot be matched at all.
std::optional<ReadingsFieldMap> matchReadingsFields(const std::vector<px::FieldDef>& fields,
                                                    bool storeNamesFirst = false);

// The same with the message the user sees when nothing matches; `path` names the table.
Result<ReadingsFieldMap> readingsFieldMap(const std::vector<px::FieldDef>& fields,
                                          const QString& path, bool storeNamesFirst = false);
QString unmatchedFieldsMessage(const QString& path);

} // namespace kx
