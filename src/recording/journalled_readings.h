#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"
#include "readings/readings_schema.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace kx {

namespace px {
class TableLock;
}
class ReadingsTable;

// A recording into a table file (RecordingKeeper::keepInFile) journals every reading beside
// the file (".NAME.db.journal") until its next checkpoint writes it into the file. What such a
// journal holds when the file is opened, and what became of it, is told here. Every command
// that opens a table file (the command line's readers, the window's Open and recent entries,
// the store's Open) goes through openTableToRead or openWithJournal, so none of them shows a
// table without the readings a recording left beside it.

// What the journal beside a table file held when the file was opened.
struct JournalledReadings {
    enum class State {
        None,        // no journal, or none with readings the file lacks
        Added,       // left by a recording that no longer runs: now in the file
        SavedBeside, // the same, but they did not follow the file: saved as `savedAs`
        NotInFile,   // the same, but the file could not be written: see `shown`
        Recording,   // a recording into the file runs: its readings since the last checkpoint
    };
    State state = State::None;
    qint64 readings = 0; // the journal's readings this is about
    QString savedAs;     // SavedBeside: the table they were saved as
    QString message;     // what the user is told; empty for None
    // NotInFile and Recording: the readings shown after the file's records, which the file
    // does not hold (yet); none when they do not follow the file as it stands.
    std::vector<Reading> shown;
    qint64 fileRecords = 0; // the records of the file that `shown` follow
};

// Where foldJournal puts readings that follow the file.
enum class FoldInto {
    Table,  // into the file (every open, and `record --append`)
    Beside, // always into a table of their own: the file is about to be replaced (`record --out`)
};

// The one fold of a journal that a recording into `tablePath` left beside it when it did not
// end normally (a kill, a crash, a full disk). The caller holds the table's lock in `lock`
// (px::TableLock::acquire); nothing is done while a running recording holds the journal.
// - Readings that follow the file as it stands (the journal's base matches it) are added to
//   it: table and index are rewritten together, and `lock` then holds the new file (Added).
// - Readings the file already holds (its last checkpoint was written, the journal not yet
//   emptied) are dropped with the journal (None).
// - Any other readings (the file changed since, or the journal follows no file) are saved
//   beside it as "recovered-yymmddhhnn.db", named from `now` (SavedBeside).
// The journal is removed only once its readings are safe. On failure nothing has changed and
// the journal stays for another try; the message says why.
Result<JournalledReadings> foldJournal(const QString& tablePath,
                                       std::unique_ptr<px::TableLock>& lock, const QDateTime& now,
                                       FoldInto into = FoldInto::Table);

// How a table file is opened by openTableToRead.
enum class TableUse {
    Read, // a copy of its records; no lock is taken, so another reader or a recorder may
          // hold the file meanwhile (every reader on the command line)
    Hold, // opened in place and held, as the window holds its data files; a file a running
          // recording holds opens as a copy with that recording's readings
};

// Opens a table file for a command that reads it, first giving the journal beside it its due:
// - left by a recording that no longer runs: folded into the file when the file and its
//   folder can be written (foldJournal); when they cannot, the readings that follow the file
//   are shown after its records and the message says that they are not in the file yet;
// - held by a running recording: the file as its last checkpoint left it, with the readings
//   recorded since after its records, and the message says the recording is in progress.
// `openFile` opens the file the caller's way and gives the number of records it found; it
// runs again when a checkpoint of the running recording came between it and the journal.
// The caller shows `shown` after those records and tells `message`.
Result<JournalledReadings>
openWithJournal(const QString& path, const QDateTime& now,
                const std::function<Result<qint64>(const JournalledReadings&)>& openFile);

// The same for a readings table: `table` is pointed at `path` and opened (see TableUse), and
// the journal's readings it shows are appended as its pending records. On failure the table
// stays closed under that name.
Result<JournalledReadings> openTableToRead(ReadingsTable& table, const QString& path,
                                           const QDateTime& now, TableUse use = TableUse::Read);

// Readings as records of a table with `fields` (those of a readings table), for readers that
// stream a file and show the journal's readings after it.
Result<std::vector<px::Record>> readingsAsRecords(const std::vector<px::FieldDef>& fields,
                                                  const std::vector<Reading>& readings);

} // namespace kx
