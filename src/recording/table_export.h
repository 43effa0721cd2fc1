#pragma once

#include "common/result.h"

#include <QString>

#include <functional>

namespace kx {

class ReadingsTable;
struct TestDetails;

// Saving a readings table to a file: the one command behind the main window's Save As, the
// stored-readings window's Save and the command line's export. Both writers read the table
// through its open records (pending ones included), write everything to a temporary file
// beside the target and rename it into place only when all of it is written: a failed or
// cancelled save leaves an existing file of that name as it was and nothing else behind.

// Whose field names a save looks for first: the live table's (No, Time, Value, Unit, V_Range,
// I_Range) or the stored table's (SNo, STime, ...). The six fields are found as the grids
// find them (matchReadingsFields): by either set of names, else by the position and kind of
// the table's fields. A table whose fields cannot be matched is not saved.
enum class ExportKind { Live, Store };

// Told how far a save has come (done of total records) every few thousand records; returning
// false cancels the save. The total is fixed when the save starts: records appended while it
// runs are not part of it.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

enum class ExportFormat { Paradox, Text };

// A name whose extension is exactly ".db" (lower case) gives a keyed Paradox copy; any other
// name, ".DB" included, gives the text export.
ExportFormat exportFormatFor(const QString& path);
const char* exportFormatName(ExportFormat format); // "paradox" or "text"

// Checks, before any work is done, that a save can go to `path` by the rules of every write
// (checkWriteTarget: a name is given, its folder exists and may be written, it is not a
// folder, a pipe or a device, it is not read-only; a symbolic link is written through) and
// that no program holds it as an open table. For a Paradox target the same holds for its
// index.
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
// shows a keyed copy's failure in the error box and the text export's outcome in a plain box
// (textSavedMessage, textNotSavedMessage); the command line prints the record count or the
// error.
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
    QString warning;    // saved, but the test details could not go with it (and why)
    qint64 records = 0; // records in the table when the save started
    bool saved() const { return end == End::Saved; }
};

// Saves a table by the Save As rule: the name chooses the writer (exportFormatFor), `kind`
// the names looked for first. The text export walks the table, so its current record is the
// last one afterwards (the grid follows), whether or not the file could then be written.
//
// A keyed copy takes the table's test details along (test_details.h): `details` when given
// (the live table's, which the program's scratch table keeps in memory), else the details
// file beside the table; a copy of a table without details loses an old details file of its
// new name. The details file's target is checked with the table's before anything is
// written; a failure to write it after the table was saved is told in `warning`.
SaveAsOutcome saveTableAs(ReadingsTable& table, const QString& path, ExportKind kind,
                          const ExportProgress& progress = {},
                          const TestDetails* details = nullptr);

// The same for a table file that is not open: the target is checked first, so a bad one fails
// at once before the source is read; then the source is opened (and locked) for the save.
SaveAsOutcome saveTableFileAs(const QString& source, const QString& target, ExportKind kind);

QString textSavedMessage(const QString& path);
QString textNotSavedMessage(const QString& path);

} // namespace kx
