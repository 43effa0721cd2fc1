#pragma once

#include "paradox/paradox_value.h"
#include "readings/string_pool.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The records of one table held in memory, column by column: 32-bit integers for the
// integer, logical, date and time fields, doubles for numbers and timestamps, interned texts
// for the rest, and a null bit per cell. A recording of ten million readings takes about 40
// bytes a record this way. Storage only: no conversions from text, no display forms.
class RecordStore {
public:
    // One cell of a record being built. Texts keep their buffers between records.
    struct Cell {
        bool set = false; // false: NULL
        std::int64_t i = 0;
        double d = 0;
        std::string text;
    };
    enum class Storage : std::uint8_t { Int, Double, Text, None };
    static Storage storageOf(px::FieldType t);

    // A new structure with no records.
    void reset(std::vector<px::FieldDef> fields);
    // Removes every record, keeping the structure.
    void clear();

    const std::vector<px::FieldDef>& fields() const { return fields_; }
    std::size_t rowCount() const { return rows_; }

    // Appends one record; `cells` has one entry per field.
    void append(const std::vector<Cell>& cells);
    // Appends one record read from a file.
    void append(const px::Record& values);
    // The same for a record as the file stores it, its fields' storage one after another.
    void appendStored(const unsigned char* stored);
    void erase(std::size_t row);

    bool isNull(std::size_t row, int field) const;
    std::int64_t intValue(std::size_t row, int field) const;
    double doubleValue(std::size_t row, int field) const;
    std::string_view textValue(std::size_t row, int field) const;
    // The cell as the table engine's value, of the kind its field type reads as.
    px::Value value(std::size_t row, int field) const;

    std::size_t memoryUsage() const;

private:
    struct Column {
        Storage storage;
        std::vector<std::int32_t> i32;
        std::vector<double> f64;
        std::vector<std::uint32_t> text; // ids in the pool
        std::vector<std::uint64_t> nulls;
    };
    void markNull(Column& c, bool isNull);
    void put(Column& c, const px::Value& v);

    std::vector<px::FieldDef> fields_;
    std::vector<Column> columns_;
    StringPool pool_;
    std::size_t rows_ = 0;
};

} // namespace kx
