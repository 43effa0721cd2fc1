#pragma once

#include "common/result.h"
#include "exports/export_kind.h"
#include "readings/field_text.h"
#include "readings/readings_schema.h"

#include <QMetaObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kx {

class ReadingsTable;
class RecordStore;
class ReplacingFile;

// The records of a readings table as the spreadsheet-friendly exports (.csv, .jsonl, .xlsx)
// write them: eight columns No, Time, Value, Unit, Function, Remark, BaseValue, BaseUnit,
// with texts in UTF-8 and numbers as numbers. The six fields are found as the grids find them
// (readingsFieldMap), so the live table, the stored one and tables of other programs read
// alike. Shared by the three writers; nothing here writes.

// A cell that holds a number when it can: a whole number, another number, or the field's
// text where it holds none (a table of another program may keep anything under these names).
struct ExportNumber {
    enum class Kind : unsigned char { Missing, Integer, Real, Text };
    Kind kind = Kind::Missing;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view text; // UTF-8
};

struct ExportRow {
    ExportNumber no;
    std::optional<std::int32_t> timeMs; // time of day, ms since midnight
    std::string_view timeText;          // a `Time` field that holds no time: its text
    // UTF-8 texts; empty stands for a missing value (an empty text is NULL in the tables).
    std::string_view value; // trailing blanks removed
    std::string_view unit;
    std::string_view function;
    std::string_view remark;
    std::optional<double> baseValue; // the reading in its base unit (readingQuantity)
    std::string_view baseUnit;       // "Ω", the unit as it stands, or empty
};

// Code page 936 texts in UTF-8, each distinct text converted once. A view handed out stays
// valid until the next call.
class Utf8Texts {
public:
    std::string_view convert(std::string_view cp936);

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> done_;
    std::string_view lastIn_;
    std::string_view lastOut_;
};

class ReadingsRowReader {
public:
    // Fails on a closed table (the engine's message) and on a table whose fields cannot be
    // matched; `kind` Store looks for the stored table's names first.
    static Result<std::unique_ptr<ReadingsRowReader>> open(const ReadingsTable& table,
                                                           ExportKind kind);
    ~ReadingsRowReader();

    ReadingsRowReader(const ReadingsRowReader&) = delete;
    ReadingsRowReader& operator=(const ReadingsRowReader&) = delete;

    // Records when the reader was opened: records appended later are not part of the export.
    std::size_t count() const { return count_; }
    // Fills `row` with record `index`; the views live until the next call.
    void read(std::size_t index, ExportRow& row);

    // Fails when records were removed or the table was reset since the reader was opened:
    // the export would no longer be the table the user saw.
    Status check() const;

    const ReadingsFieldMap& fields() const { return map_; }

private:
    ReadingsRowReader(const ReadingsTable& table, const ReadingsFieldMap& map);

    struct Column {
        int field = -1;
        enum class Kind : unsigned char { Integer, Real, Time, Timestamp, Text, Other } kind;
        Utf8Texts utf8;
        std::string scratch;
    };
    std::string_view text(Column& c, std::size_t index, bool trimTrailing = false);
    ExportNumber number(Column& c, std::size_t index);

    const ReadingsTable& table_;
    const RecordStore& store_;
    ReadingsFieldMap map_;
    std::vector<Column> columns_;
    std::size_t count_ = 0;
    std::string valueDigits_;
    bool changed_ = false;
    QMetaObject::Connection watch_[2];
};

// Text gathered in memory and written to a file being replaced in large pieces.
class ChunkedWriter {
public:
    explicit ChunkedWriter(ReplacingFile& file);
    std::string& text() { return text_; }
    // Writes what was gathered once there is enough of it.
    Status maybeWrite() { return text_.size() >= kChunk ? write() : Status(); }
    Status write();

private:
    static constexpr std::size_t kChunk = 1u << 20;
    ReplacingFile& file_;
    qint64 at_ = 0;
    std::string text_;
};

// Records between two progress reports.
inline constexpr std::size_t kExportProgressStep = 8192;

// Reports `done` of the reader's rows (a false answer cancels the save) and checks that the
// table did not change meanwhile.
Status exportStep(const ReadingsRowReader& reader, const ExportProgress& progress,
                  std::size_t done);

// Reads every row in order and hands it to `use(index, row)`, which returns a Status; stops at
// the first failure. Progress and the table's check come every kExportProgressStep rows and
// once more at the end.
template <typename Use>
Status forEachExportRow(ReadingsRowReader& reader, const ExportProgress& progress, Use use) {
    const std::size_t count = reader.count();
    ExportRow row;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % kExportProgressStep == 0) {
            if (Status s = exportStep(reader, progress, i); !s)
                return s;
        }
        reader.read(i, row);
        if (Status s = use(i, row); !s)
            return s;
    }
    return reader.check();
}

// Appends `v` as a plain decimal number: no exponent, the fewest digits that read back as the
// same number, `decimalMark` between the whole and the fraction.
void appendPlainNumber(std::string& out, double v, char decimalMark = '.');

} // namespace kx
