// Room readings: the readings table (schema, record store, string pool, field texts, reading
// quantities, table model, table files). Uses common and paradox; ui/ the readings grid.
#pragma once

#include "common/result.h"
#include "paradox/paradox_value.h"
#include "readings/readings_schema.h"
#include "readings/record_store.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

namespace px {
class TableLock;
}

// One table of readings: its structure and committed records come from its table file; the
// records appended while it is open are pending changes held in memory, never written back.
// Closing discards them. Everything that reads a recording (grids, reports, exports, copies)
// reads it through the open table, pending records included.
//
// Every operation that can fail returns a Status or Result carrying the message the user
// sees; the table is left as it was.
class ReadingsTable : public QObject {
    Q_OBJECT
public:
    explicit ReadingsTable(QObject* parent = nullptr);
    ~ReadingsTable() override;

    // A bare name ("Pw60bdb") resolves against the program's folder with the table extension;
    // a path is used as it stands. Takes effect at the next open.
    void setTableName(const QString& nameOrPath);
    QString tableName() const { return tableName_; }
    QString filePath() const;

    // Opens the table exclusively; fails when the file is missing, locked by another
    // program or damaged.
    Status open();
    // Opens the table's file as open() does, but without taking its lock: a reader that keeps
    // no one out (another reader, or a recorder that holds the file and replaces it at its
    // checkpoints). Emptying the table and opening it again work on the file as after open().
    Status openUnheld();
    // Opens the table on a structure alone, with no file behind it: a scratch recording whose
    // records live only until it is closed or copied (the command-line recorder uses this).
    void openScratch(std::vector<px::FieldDef> fields);
    // Opens the table on a copy of a file's structure and records, without taking the file's
    // lock (the caller holds it): records appended live only in memory, as in a scratch table.
    // Fails, leaving the table closed, when the file cannot be read.
    Status openCopy(const QString& path);
    // Pending records are discarded; the file stays as it was.
    void close();
    // Takes over what `other` holds (its file, structure, records and lock) as if it had been
    // opened here, which closes this table first; `other` is left closed and empty. Lets a
    // command open a file on the side and switch to it only once it has opened.
    void takeOver(ReadingsTable& other);
    bool isOpen() const { return open_; }
    // Removes every record from the table file, keeping its structure. The table must be
    // closed (it works on the file by name).
    Status emptyTable();

    const std::vector<px::FieldDef>& fields() const { return store_.fields(); }
    int fieldIndex(std::string_view name) const; // -1 when there is no such field

    // Appending: begin a record, set fields by name, post it. Values are converted to the
    // field's type; a value that does not convert fails with a message. An empty text is
    // a NULL value.
    void append();
    Status setFieldText(std::string_view field, std::string_view text);
    Status setFieldInt(std::string_view field, std::int32_t value);
    Status setFieldTime(std::string_view field, std::int32_t msOfDay);
    Status post();
    void cancel();

    // Appends one reading as a record of the live table's fields and posts it, setting the
    // fields in the order recording sets them: Value, Time, No, V_Range, I_Range, Unit. A
    // reading without a time leaves Time blank. Fails with the first field that cannot be set
    // (a closed table, a missing field, a value that does not convert), appending nothing.
    Status appendReading(const Reading& reading);
    // The reading a record holds under the live table's field names; nothing for a row that
    // does not exist or has no number, and for a table without No or Time (it is no recording).
    std::optional<Reading> readingAt(qint64 row) const;
    // The highest record number (`No`) of the records, numbers kept as text or as a Number
    // included; nothing when none has one.
    std::optional<std::int32_t> highestNo() const;

    // Record count, pending records included; fails on a closed table.
    Result<qint64> recordCount() const;
    bool isEmpty() const { return store_.rowCount() == 0; }
    qint64 rowCount() const { return static_cast<qint64>(store_.rowCount()); }

    // The display form of a field of row `row` (code page 936 bytes); empty for NULL and for
    // a row or field that does not exist.
    std::string fieldText(qint64 row, int field) const;
    std::string fieldText(qint64 row, std::string_view field) const;
    // The stored records, for copies and fast readers.
    const RecordStore& records() const { return store_; }

    // Browsing in table order. The grids follow the current record when a walk leaves it
    // somewhere (currentMoved).
    Status first();
    void next() { ++cursor_; }
    bool eof() const { return cursor_ >= rowCount(); }
    qint64 cursor() const { return cursor_; }
    void setCursor(qint64 row) { cursor_ = row; }
    // The last record becomes the current one, where a walk over the whole table ends.
    void last();

    // Deletes one record; the others keep their numbers.
    Status deleteRecord(qint64 row);

    // Bytes of memory held by the records.
    std::size_t memoryUsage() const { return store_.memoryUsage(); }

    static QString closedMessage() {
        return QStringLiteral("Cannot perform this operation on a closed dataset");
    }

    // Replaces the table's structure and records; readers of other files and tests that
    // build tables without files use these.
    void reset(std::vector<px::FieldDef> fields);
    void appendLoaded(const px::Record& values) { store_.append(values); }
    void holdLock(std::unique_ptr<px::TableLock> lock);

Q_SIGNALS:
    void aboutToReset();
    void didReset();
    void rowAboutToBeAppended(qint64 row);
    void rowAppended(qint64 row);
    void rowAboutToBeRemoved(qint64 row);
    void rowRemoved(qint64 row);
    // A walk left `row` as the current record.
    void currentMoved(qint64 row);

private:
    Status checkOpen() const;
    // The field an append may set, or the failure (closed table, no such field).
    Result<int> settableField(std::string_view field) const;
    void clearRecords();
    // Reads the structure and records of a table file; its lock, when given, is held while
    // the table stays open.
    Status load(const QString& path, std::unique_ptr<px::TableLock> lock);

    QString tableName_;
    bool open_ = false;
    bool scratch_ = false; // opened on a structure alone, no file behind it
    std::unique_ptr<px::TableLock> lock_;
    RecordStore store_;
    qint64 cursor_ = 0;
    bool appending_ = false;
    std::vector<RecordStore::Cell> draft_;
};

} // namespace kx
