#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kx {
class ReplacingFile;
}

namespace kx::px {

class TableLock;
// Told how far a long write has come (done of total steps); returning false stops the write,
// which then fails with cancelledMessage() and leaves the target as it was.
using WriteProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

struct WriteOptions {
    // 1024, 2048, 3072, 4096, 8192, 16384 or 32768. 32 KB blocks hold over 29 million readings.
    int blockSize = 32768;
    int codePage = 936;
    QByteArray tableName; // defaults to the file name
    // When given, the new table file is locked before it takes the target's name, and the lock
    // is handed out here (the caller's lock on the old file can then go).
    std::unique_ptr<TableLock>* keepLock = nullptr;
    WriteProgress progress;
    // Files that belong to the new table (its test details) and take their place in the same
    // change as the table and its index, and files that go in that change (the details of an
    // older table of the name). The written ones take the new table's mode and owner, as its
    // index does. Still the caller's: a write that fails leaves them unused.
    std::vector<ReplacingFile*> companions;
    QStringList removeWith;
};

inline QString cancelledMessage() {
    return QStringLiteral("Cancelled");
}

// Writes a new table file: fields first, then records appended in order. Records are encoded
// into an in-memory block and written a block at a time; the header is written by flush() and
// close(). All of it goes to a temporary file beside the target, which close() renames over the
// target; a writer destroyed before close() leaves the target untouched. Append refuses a
// record, with a message, once the table has reached the format's 65,535 blocks. A new table
// never keeps the primary index of the file it replaces: close() removes that index with the
// same all-or-nothing change.
class TableWriter {
public:
    static Result<std::unique_ptr<TableWriter>> create(const QString& path,
                                                       const std::vector<FieldDef>& fields,
                                                       const WriteOptions& options = {});
    ~TableWriter();

    Status append(const Record& record);
    // Appends a record already in stored form (recordSize() bytes).
    Status appendStored(const unsigned char* stored);
    // Writes the pending block and the header to the temporary file.
    Status flush();
    // Flushes and puts the file in place of the target (removing an index left beside it).
    Status close();
    // Flushes and hands the written file over uncommitted, for a caller that puts it in place
    // together with other files (commitTogether).
    Result<std::unique_ptr<ReplacingFile>> finish();

    const std::vector<FieldDef>& fields() const { return fields_; }
    int recordSize() const { return recordSize_; }
    int recordsPerBlock() const { return perBlock_; }
    std::int64_t recordCount() const { return count_; }
    // Most records the table can hold with its block size.
    std::int64_t capacity() const;
    // Marks the table as keyed on its first field (set by the keyed copy before close).
    void setKeyed(bool keyed) { keyed_ = keyed; }

private:
    TableWriter() = default;
    Status writeBlock(bool last);
    QByteArray header() const;

    QString path_;
    std::vector<FieldDef> fields_;
    std::vector<int> offsets_;
    WriteOptions options_;
    std::unique_ptr<ReplacingFile> file_;
    QByteArray block_;
    QByteArray scratch_;
    int headerSize_ = 0;
    int recordSize_ = 0;
    int perBlock_ = 0;
    int inBlock_ = 0;
    int blocks_ = 0; // blocks started, the current one included
    std::int64_t count_ = 0;
    std::int32_t autoInc_ = 0;
    bool keyed_ = false;
    bool closed_ = false;
};

// Checks a field list against the format's limits (names, types, sizes, record size).
Status checkFields(const std::vector<FieldDef>& fields, int blockSize);

// Creates (or replaces) a table file with these fields and no records, and no key.
Status createTable(const QString& path, const std::vector<FieldDef>& fields,
                   const WriteOptions& options = {});
// Writes a whole table from rows in memory. The table has no key, so an index left beside it
// from an earlier table of that name is removed.
Status writeTable(const QString& path, const std::vector<FieldDef>& fields,
                  const std::vector<Record>& rows, const WriteOptions& options = {});
// Writes a table keyed on its first field with its primary index (.PX) beside it. Rows are
// stored in key order. Table and index replace the old pair together or not at all. A
// duplicate key fails with "Key violation" before anything is written: an existing table and
// index of that name stay as they were.
Status writeKeyedTable(const QString& path, const std::vector<FieldDef>& fields,
                       const std::vector<Record>& rows, const WriteOptions& options = {});
// The same for rows handed out one at a time by position (0 .. count-1), so a large table
// need not be copied into records first. The reference returned is used before the next call.
using RowSource = std::function<const Record&(std::size_t)>;
Status writeKeyedTable(const QString& path, const std::vector<FieldDef>& fields, std::size_t count,
                       const RowSource& rowAt, const WriteOptions& options = {});
// The same for rows the caller encodes itself into their stored form (recordSize bytes, the
// fields at their offsets), the fastest way to copy a large table. The source is asked for the
// first `fields` fields of a row: 1 while the keys are gathered, all of them when the record
// is written; it may be asked for a row more than once.
using StoredRowSource =
    std::function<Status(std::size_t row, unsigned char* record, std::size_t fields)>;
Status writeKeyedTableStored(const QString& path, const std::vector<FieldDef>& fields,
                             std::size_t count, const StoredRowSource& rowAt,
                             const WriteOptions& options = {});
// Rewrites a table file with the same structure and no records (its index too, if keyed).
Status emptyTable(const QString& path);

// What rebuildPrimaryIndex did.
struct IndexRebuild {
    bool keyed = false;        // the table has a primary key, and now an index that fits
    bool reordered = false;    // the records were out of key order and were rewritten sorted
    bool removedIndex = false; // an index beside a table without a key was removed
    std::int64_t records = 0;
};
// Rebuilds the primary index of a keyed table from its records, through a temporary file. A
// table whose records are in key order is kept as it is; one out of order is rewritten sorted.
// A key that appears twice, or a table damaged beyond its index, fails with the message and
// leaves both files as they were. An index beside a table without a key describes some other
// table and is removed. The caller holds the table's lock.
Result<IndexRebuild> rebuildPrimaryIndex(const QString& path);

// The primary index file that belongs to a table file (same name, extension .PX or .px),
// beside the file a symbolic link names (linkedFile), where the table really is.
QString indexPathFor(const QString& tablePath);
// Both names an index beside the table may have: indexPathFor's first, then the other case.
QStringList indexPathsFor(const QString& tablePath);

} // namespace kx::px
