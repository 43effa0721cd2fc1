// Room exports: every save of a readings table (keyed copy, text, CSV, JSON lines, workbook),
// the rows they write and the claim of their target. Uses the rooms up to analysis.
#pragma once

#include "common/result.h"
#include "exports/export_kind.h"
#include "exports/readings_exports.h"

#include <QString>

namespace kx {

class ReadingsTable;
struct TestDetails;

// Saving a readings table to a file: the one command behind the main window's Save As, the
// stored-readings window's Save and the command line's export. Every writer reads the table
// through its open records (pending ones included), writes everything to a temporary file
// beside the target and renames it into place only when all of it is written: a failed or
// cancelled save leaves an existing file of that name as it was and nothing else behind.

// What a save writes: the keyed Paradox copy, the tab-separated text in code page 936, or one
// of the formats other programs open without help (readings_exports.h): UTF-8 CSV, JSON lines,
// a workbook.
enum class ExportFormat { Paradox, Text, Csv, JsonLines, Xlsx };

// The name decides the format by its extension: exactly ".db" (lower case) gives a keyed
// Paradox copy; ".csv", ".jsonl" and ".xlsx" in any case (DATA.CSV is CSV) give those formats;
// any other name, ".DB", ".txt" and ".xls" included, gives the tab-separated text.
ExportFormat exportFormatFor(const QString& path);
// "paradox", "text", "csv", "jsonl" or "xlsx".
const char* exportFormatName(ExportFormat format);

// What the user chose besides the name: how a CSV file marks its fields and decimals, and how
// a workbook judges the tests it lists. Other formats have no choices.
struct ExportOptions {
    CsvOptions csv;
    XlsxOptions xlsx;
};

// Checks, before any work is done, that a save can go to `path` by the rules of every write
// (checkWriteTarget: a name is given, its folder exists and may be written, it is not a
// folder, a pipe or a device, it is not read-only; a symbolic link is written through) and
// that no program holds it as an open table. For a Paradox target the same holds for its
// index and its test details.
Status checkExportTarget(const QString& path);

// Copies the table, structure and records, into a new Paradox table at `path` with a primary
// index on its first field, which must be the record number. A closed table is read from its
// file for the copy. Table and index replace an existing pair together or not at all; two
// records with the same number fail with "Key violation: No 16 appears twice" and write
// nothing.
Status SaveToDB(const ReadingsTable& table, const QString& path, ExportKind kind,
                const ExportProgress& progress = {});

// Writes the table as tab-separated text in code page 936: the header line "No Time Value
// Unit Function Remark", then one line per record with the field texts the grid shows, no
// quoting, every line ending in CR LF. The lines are streamed to the file. Fails on a closed
// table with the engine's message before anything is written.
Status SaveToText(const ReadingsTable& table, const QString& path, ExportKind kind,
                  const ExportProgress& progress = {});

// The header line of the text export, CR LF included.
QByteArray textExportHeader();

// What a save came to. How the user hears of it is the front end's business: the window
// shows the text export's outcome in a plain box (textSavedMessage, textNotSavedMessage) and
// any other format's failure in the error box; the command line prints the record count and
// format, or the error.
struct SaveAsOutcome {
    enum class End {
        Saved,
        Cancelled,    // the user stopped it: nothing to tell
        TableRefused, // the table could not be read (closed, not readings): nothing written
        WriteFailed,  // the file could not be written; an old one stays as it was
    };
    End end = End::Saved;
    ExportFormat format = ExportFormat::Text;
    QString path;
    QString error;      // the writer's message unless saved
    QString sourceNote; // saveTableFileAs: what a recording's journal beside the source added
    qint64 records = 0; // records in the table when the save started
    bool saved() const { return end == End::Saved; }
};

// Saves a table by the Save As rule: the name chooses the writer (exportFormatFor), `kind`
// the names looked for first, `options` the CSV variant and the workbook's judgement. The
// text export walks the table, so its current record is the last one afterwards (the grid
// follows), whether or not the file could then be written; the other writers leave the table
// where it was. A closed table is read from its file for a keyed copy and refused
// (TableRefused, the closed-table message) for every other format.
//
// A keyed copy takes the table's test details along (test_details.h): `details` when given
// (the live table's, which the program's scratch table keeps in memory), else the details
// file beside the table; a copy of a table without details loses an old details file of its
// new name. Table, index and details are put in place in one change (DetailsCompanion): when
// the details cannot be written the save fails and the old files stay as they were. A
// workbook judges its tests by the same details' settings.
SaveAsOutcome saveTableAs(ReadingsTable& table, const QString& path, ExportKind kind,
                          const ExportProgress& progress = {}, const ExportOptions& options = {},
                          const TestDetails* details = nullptr);

// The same for a table file that is not open: the target is checked first, so a bad one fails
// at once before the source is read; then the source is read with the readings a recording
// journalled beside it (openTableToRead; told in `sourceNote`).
SaveAsOutcome saveTableFileAs(const QString& source, const QString& target, ExportKind kind,
                              const ExportOptions& options = {});

QString textSavedMessage(const QString& path);
QString textNotSavedMessage(const QString& path);

} // namespace kx
