#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The six kinds of field a readings table holds, in the order the tables hold them: the
// record number, the time of day, and the value, unit, function and remark texts.
enum class ReadingsField { Number, Time, Value, Unit, Function, Remark };
inline constexpr int kReadingsFieldCount = 6;

// One field of the readings tables: its name in the live table and in the stored one, how the
// table files the program makes hold it (the texts wide enough for the longest the decoder
// produces), and the column the grids give it.
struct ReadingsFieldSpec {
    ReadingsField kind;
    std::string_view name;      // in the live table
    std::string_view storeName; // in the stored table: the S-prefixed twin
    px::FieldType type;
    int size;                   // bytes in the table file
    std::string_view liveTitle; // the readings grid's column title (the stored grid shows names)
    int liveWidth;              // the readings grid's column width in pixels
    int storeWidth;             // the stored grid's
};

// The one description of a readings table: everything that names, makes, shows or fills a
// readings field takes it from here.
inline constexpr std::array<ReadingsFieldSpec, kReadingsFieldCount> kReadingsSchema = {{
    {ReadingsField::Number, "No", "SNo", px::FieldType::Long, 4, "No", 54, 36},
    {ReadingsField::Time, "Time", "STime", px::FieldType::Time, 4, "Time", 92, 47},
    {ReadingsField::Value, "Value", "SValue", px::FieldType::Alpha, 16, "Value", 72, 49},
    {ReadingsField::Unit, "Unit", "SUnit", px::FieldType::Alpha, 8, "Unit", 90, 42},
    {ReadingsField::Function, "V_Range", "SV_Range", px::FieldType::Alpha, 24, "Function", 109, 73},
    {ReadingsField::Remark, "I_Range", "SI_Range", px::FieldType::Alpha, 16, "Remark", 158, 70},
}};

constexpr const ReadingsFieldSpec& readingsField(ReadingsField kind) {
    return kReadingsSchema[static_cast<std::size_t>(kind)];
}
// A field's name in the live table (No, Time, ...) or the stored one (SNo, STime, ...).
constexpr std::string_view readingsFieldName(ReadingsField kind, bool store = false) {
    return store ? readingsField(kind).storeName : readingsField(kind).name;
}

// Field lists of the two readings tables as the program makes them.
std::vector<px::FieldDef> readingsFields(bool store = false);

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

// Whether a table can be recorded into: it has every field a recording sets, under the live
// table's names, with the record number first (the key of the keyed copies). The message
// names `path` and what is missing.
Status checkRecordableFields(const std::vector<px::FieldDef>& fields, const QString& path);

// One reading as a recording keeps it: the record number, the time of day, and the four
// reading texts (code page 936 bytes) for Value, Unit, V_Range (the function) and I_Range
// (the mode).
struct Reading {
    std::int32_t no = 0;
    std::optional<std::int32_t> msOfDay; // none: no time
    std::string value, unit, function, mode;
    bool operator==(const Reading&) const = default;
};

} // namespace kx
