#pragma once

#include "analysis/insulation_analyser.h"
#include "common/result.h"
#include "exports/export_kind.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace kx {

class ReadingsTable;

// Saving a readings table in the formats other programs open without help: comma-separated
// text (.csv) and a workbook (.xlsx) for spreadsheets, JSON lines (.jsonl) for scripts. The
// tab-separated text and the keyed Paradox copy (table_export.h) stay as they are.
//
// Each writer takes an open table of either kind: the six fields are found as the grids find
// them (`kind` Live looks for the live table's names first, Store for the stored table's, and a
// table with neither is read by position and kind). Every one writes eight columns:
//
//   No         the record number, as a number
//   Time       the time of day, "HH:MM:SS.zzz"
//   Value      the reading's text as recorded, without trailing blanks
//   Unit       the unit text        } converted from code page 936 to UTF-8, the ohm sign
//   Function   the function text    } as U+03A9
//   Remark     the mode text        }
//   BaseValue  the reading as a number in its base unit: ohms for Ω, kΩ, MΩ, GΩ and TΩ (950 MΩ
//              is 950000000), the value as it stands for any other unit; nothing when the
//              reading is no number (blank, dashes, an overload such as "0L")
//   BaseUnit   "Ω" for a resistance, otherwise the unit as it stands; nothing without a unit
//
// BaseValue sorts and sums where the Value texts cannot: 950 MΩ and 1.2 GΩ in order.
//
// The rules of every save hold: the target is checked before any work starts (a folder, a
// pipe, a device, a read-only file and a table another program holds open are refused);
// the file is written beside the target and renamed into place only when all of it is on
// disk, so a failure or a Cancel leaves an existing file as it was and no temporary behind;
// a full disk is reported with the path ("No space left on device"). `progress` is told
// done/total records every few thousand records; returning false cancels with "Cancelled".
// A closed table fails with the engine's message, a table whose fields cannot be matched with
// the reason, both before anything is written. Records appended while a save runs are not
// part of it; records removed meanwhile fail it ("The table changed while it was being
// saved").

// Which of these a target gets is told by exportFormatFor (table_export.h), from its extension.

struct CsvOptions {
    // ',' or ';' (the choice of spreadsheets that write numbers with a decimal comma).
    char delimiter = ',';
    // Numbers with a decimal comma: BaseValue, and Value where it is a plain number, so that a
    // spreadsheet set to a comma decimal mark reads both as numbers (and never as a date), and
    // the millisecond mark of Time ("08:00:07,000"), which such a spreadsheet reads as a time.
    // Values that are not numbers ("0L", "----") are written as they are.
    bool decimalComma = false;
};

// UTF-8 with a byte-order mark, CR LF after every line, quoted as RFC 4180 has it: a field
// holding the delimiter, a double quote, CR or LF is put in double quotes and its quotes
// doubled. The header is "No,Time,Value,Unit,Function,Remark,BaseValue,BaseUnit" (the same
// names joined by ';' for that delimiter). BaseValue is a plain decimal number, never in
// exponent notation, in the fewest digits that read back as the same number (1.2 TΩ gives
// 1200000000000). A text that a spreadsheet would take for a formula (it begins with '=', '+',
// '-', '@', a tab or CR, and is neither a plain number nor the meter's dashes) is written with
// a leading apostrophe, so opening the file cannot run anything.
Status saveReadingsCsv(const ReadingsTable& table, const QString& path, ExportKind kind,
                       const CsvOptions& options = {}, const ExportProgress& progress = {});

// The header line, CR LF included (without the byte-order mark).
QByteArray csvHeader(const CsvOptions& options = {});

// Appends one text field (UTF-8) as the .csv export writes it: quoted when it holds the
// delimiter, a quote, CR or LF, and after an apostrophe when a spreadsheet would take it for
// a formula. The report's comma-separated text follows the same rule.
void appendCsvText(std::string& out, std::string_view text, char delimiter = ',');

// One JSON object per record and line, LF after each: keys "no", "time", "value", "unit",
// "function", "remark", "baseValue" and "baseUnit" in that order; "no" and "baseValue" are
// numbers, the rest strings; a missing value (an empty field, a reading that is no number) is
// null. UTF-8 without a byte-order mark. A `No` field of another program that holds a text
// that is no number gives that text as a string.
Status saveReadingsJsonLines(const ReadingsTable& table, const QString& path, ExportKind kind,
                             const ExportProgress& progress = {});

// A workbook with the sheet "Readings": a header row, frozen and with an autofilter, then one
// row per record; No and BaseValue are numbers, Time a time value shown as hh:mm:ss.000, the
// rest texts; columns wide enough for their texts. When the table holds insulation tests
// (findInsulationTests, judged under `results`), a second sheet "Results" lists one test per
// row with its figures as numbers. A sheet holds at most kXlsxMaxReadings records below its
// header: a longer table is refused before anything is written (the .csv and .jsonl formats
// have no such limit). The workbook library keeps its working files, unnamed, beside the
// target while it writes (they take about as much room as the sheet's text) and the workbook
// is checked as a whole before it is put in place.
struct XlsxOptions {
    ResultSettings results;
};
inline constexpr qint64 kXlsxMaxReadings = 1'048'575;
// Refuses a workbook of `count` readings when that is more than a sheet holds, naming the
// target and telling the formats without that limit.
Status checkXlsxReadingCount(const QString& path, qint64 count);
Status saveReadingsXlsx(const ReadingsTable& table, const QString& path, ExportKind kind,
                        const XlsxOptions& options = {}, const ExportProgress& progress = {});

// Checks, before any work, that a save can go to `path`: the rules of every write
// (checkWriteTarget), that no program holds it as an open table, and that it is not the file
// of `table` itself.
Status checkReadingsExportTarget(const QString& path, const ReadingsTable* table = nullptr);

} // namespace kx
