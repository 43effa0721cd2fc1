#pragma once

#include "common/result.h"

#include <QString>

#include <array>
#include <functional>
#include <memory>

namespace kx {

namespace px {
class TableLock;
}

class ReadingsTable;

// Saving a readings table to a file, for the main window's Save As, the stored-readings
// window's Save and the command line. Both writers read the table through its open records
// (pending ones included), write everything to a temporary file beside the target and rename
// it into place only when all of it is written: a failed or cancelled save leaves an existing
// file of that name as it was and nothing else behind.
//
// The six fields read are found as the grids find them (matchReadingsFields): `exportKind`
// says whose names are looked for first, 1 the live table's (No, Time, Value, Unit, V_Range,
// I_Range), 2 the stored table's (SNo, STime, ...); a table with neither set is read by the
// position and kind of its fields. A table whose fields cannot be matched is not saved.

// Told how far a save has come (done of total records) every few thousand records; returning
// false cancels the save. The total is fixed when the save starts: records appended while it
// runs are not part of it.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

enum class ExportFormat { Paradox, Text };

// A name whose extension is exactly ".db" (lower case) gives a keyed Paradox copy; any other
// name, ".DB" included, gives the text export.
ExportFormat exportFormatFor(const QString& path);
const char* exportFormatName(ExportFormat format); // "paradox" or "text"

// The names looked for first for an export kind, in the order they are written.
std::array<const char*, 6> exportFieldNames(int exportKind);

// Checks, before any work is done, that a save can go to `path` by the rules of every write
// (checkWriteTarget: a name is given, its folder exists and may be written, it is not a
// folder, a pipe or a device, it is not read-only; a symbolic link is written through) and
// that no program holds it as an open table. For a Paradox target the same holds for its
// index.
Status checkExportTarget(const QString& path);

// Copies the table, structure and records, into a new Paradox table at `path` with a primary
// index on its first field, which must be the record number. A closed table is
// read from its file for the copy. Table and index replace an existing pair together or not
// at all; two records with the same number fail with "Key violation" and write nothing.
Status SaveToDB(const ReadingsTable& table, const QString& path, int exportKind,
                const ExportProgress& progress = {});

// Writes the table as tab-separated text in code page 936: the header line "No Time Value
// Unit Function Remark", then one line per record with the field texts the grid shows, no
// quoting, every line ending in CR LF. The lines are streamed to the file. Fails on a closed
// table with the engine's message before anything is written.
Status SaveToText(const ReadingsTable& table, const QString& path, int exportKind,
                  const ExportProgress& progress = {});

// The header line of the text export, CR LF included.
QByteArray textExportHeader();

// A Save As to `path` as the user sees it: the writer chosen by the name, and what the user is
// told afterwards. A keyed copy says nothing on success and shows the engine's message in
// the error box on failure; the text export tells its outcome in a plain box.
struct SaveAsOutcome {
    enum class Box { None, Plain, Error };
    Box box = Box::None;
    QString text;
    bool saved = false;
    bool cancelled = false;
    ExportFormat format = ExportFormat::Text;
    QString detail; // the writer's own message on failure, for logs and the command line
    // The text export went through every record (whether or not the file could then be
    // written): the table's current record is its last one afterwards, as after any walk.
    bool walkedTable = false;
};
SaveAsOutcome saveTableAs(const ReadingsTable& table, const QString& path, int exportKind,
                          const ExportProgress& progress = {});

QString textSavedMessage(const QString& path);
QString textNotSavedMessage(const QString& path);

} // namespace kx
