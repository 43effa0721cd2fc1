#pragma once

#include "recording/string_pool.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// The kinds of field a readings table can hold, as the table engine sees them.
enum class FieldKind : std::uint8_t {
    Alpha,
    Date,
    Short,
    Long,
    Currency,
    Number,
    Logical,
    Time,
    Timestamp,
    AutoInc,
    Bcd,
    Bytes,
    Blob // memo, formatted memo, graphic, OLE and binary fields: read as empty text
};

struct TableField {
    std::string name; // code page 936 bytes
    FieldKind kind = FieldKind::Alpha;
    int size = 0;     // bytes in the file
    int fileType = 0; // the file format's own type code, kept so copies keep the structure
};

namespace px {
class TableLock;
}

// One table of readings: its structure and committed records come from its table file; the
// records appended while it is open are pending changes held in memory, never written back.
// Closing discards them. Everything that reads a recording (grids, reports, exports, copies)
// reads it through the open table, pending records included.
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

    // Opens the table exclusively; fails with a message when the file is missing, locked by
    // another program or damaged.
    bool open(QString* error);
    // Takes the lock that keeps other programs from the file while the table is open.
    void holdLock(std::unique_ptr<px::TableLock> lock);

    // Opens the table on a structure alone, with no file behind it: a scratch recording whose
    // records live only until it is closed or copied (the command-line recorder uses this).
    void openScratch(std::vector<TableField> fields);
    // Pending records are discarded; the file stays as it was.
    void close();
    bool isOpen() const { return open_; }
    // Removes every record from the table file, keeping its structure. The table must be
    // closed (it works on the file by name).
    bool emptyTable(QString* error);

    const std::vector<TableField>& fields() const { return fields_; }
    int fieldIndex(std::string_view name) const; // -1 when there is no such field

    // Appending: begin a record, set fields by name, post it. Values are converted to the
    // field's type; a value that does not convert fails with a message.
    void append();
    bool setFieldText(std::string_view field, std::string_view text, QString* error);
    bool setFieldInt(std::string_view field, std::int32_t value, QString* error);
    bool setFieldTime(std::string_view field, std::int32_t msOfDay, QString* error);
    bool post(QString* error);
    void cancel();

    // Record count, pending records included; nothing (with the message) on a closed table.
    std::optional<qint64> recordCount(QString* error) const;
    bool isEmpty() const { return rows_ == 0; }
    qint64 rowCount() const { return static_cast<qint64>(rows_); }

    // The display form of a field of row `row` (code page 936 bytes); empty for NULL.
    std::string fieldText(qint64 row, int field) const;
    std::string fieldText(qint64 row, std::string_view field) const;
    bool isNull(qint64 row, int field) const;
    // Raw values for copies: integer kinds and times as numbers, texts as bytes.
    std::int64_t intValue(qint64 row, int field) const;
    double doubleValue(qint64 row, int field) const;
    std::string_view textValue(qint64 row, int field) const;

    // Browsing in table order.
    bool first(QString* error);
    void next() { ++cursor_; }
    bool eof() const { return cursor_ >= static_cast<qint64>(rows_); }
    qint64 cursor() const { return cursor_; }
    void setCursor(qint64 row) { cursor_ = row; }

    // Deletes one record; the others keep their numbers.
    bool deleteRecord(qint64 row, QString* error);

    // Bytes of memory held by the records (for the benchmark and the record limit checks).
    std::size_t memoryUsage() const;

    static QString closedMessage() {
        return QStringLiteral("Cannot perform this operation on a closed dataset");
    }

    // Loads a table's structure and records into this table, replacing what it held; used
    // by open() and by tests that build tables without files.
    void reset(std::vector<TableField> fields);
    // Loading a record read from the file: set the values (unset fields are NULL), then
    // appendLoaded() stores it without conversions or signals.
    void setLoadedInt(int field, std::int64_t v);
    void setLoadedDouble(int field, double v);
    void setLoadedText(int field, std::string_view v);
    void appendLoaded();

Q_SIGNALS:
    void aboutToReset();
    void didReset();
    void rowAboutToBeAppended(qint64 row);
    void rowAppended(qint64 row);
    void rowAboutToBeRemoved(qint64 row);
    void rowRemoved(qint64 row);

private:
    struct Column {
        FieldKind kind;
        std::vector<std::int32_t> i32;   // Short, Long, AutoInc, Logical, Date, Time
        std::vector<double> f64;         // Number, Currency, Timestamp
        std::vector<std::uint32_t> text; // Alpha, Bcd, Bytes, Blob: ids in the pool
        std::vector<std::uint64_t> nulls;
    };
    struct PendingValue {
        bool set = false;
        std::int64_t i = 0;
        double d = 0;
        std::string text;
    };

    bool checkOpen(QString* error) const;
    int findField(std::string_view name, QString* error) const;
    // The field an append may set, or -1 with the message (closed table, no such field).
    int settableField(std::string_view field, QString* error) const;
    void clearRecords();
    void pushRow();

    QString tableName_;
    bool open_ = false;
    bool scratch_ = false; // opened on a structure alone, no file behind it
    std::unique_ptr<px::TableLock> lock_;
    std::vector<TableField> fields_;
    std::vector<Column> columns_;
    StringPool pool_;
    std::size_t rows_ = 0;
    qint64 cursor_ = 0;
    bool appending_ = false;
    std::vector<PendingValue> draft_;
};

// The structure of the live readings table and of the stored table (S-prefixed names).
std::vector<TableField> readingsFields(bool store = false);

// The display form of a time of day: the system's long time format without a time-zone name.
std::string timeOfDayText(std::int32_t msOfDay);

} // namespace kx
