#pragma once

#include "common/result.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_value.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <string>
#include <vector>

// The program's search runs a handful of statements over a table file on disk. This is that
// small fixed subset and nothing more - not an SQL engine:
//
//     select * from "PATH"
//     select * from "PATH" where FIELD = "TEXT"
//
// Keywords are case-insensitive; texts and paths stand in double or single quotes (a quote
// doubled inside stands for itself); blanks are optional around "=" and between a keyword and
// a quoted text; one ";" may end the statement. Anything else (column lists, other
// statements, other comparisons, a second condition, ordering, joins) is refused with a
// message naming what is not supported.
//
// A statement reads the table file's committed records, in file order, with the file's
// fields. Records a program holds as pending changes of an open table are not in the file
// and are not found. The file is streamed block by block, never loaded whole.
namespace kx {

// A statement of the subset, as parsed.
struct QueryStatement {
    QString table; // the path between the quotes, as written
    bool hasCondition = false;
    QString field; // the field named in the condition
    QString text;  // the text it is compared with

    bool operator==(const QueryStatement&) const = default;
};

// The parser: text in, statement or the message saying what is wrong. Pure; never touches a
// file.
Result<QueryStatement> parseQueryStatement(QStringView text);

// The file a statement's path names: the path itself when it is a file, else, for a path
// without an extension, the table file of that name (".DB" or ".db" added), as the engine
// finds a table by its bare name.
QString queryTablePath(const QString& path);

// A parsed statement bound to its table file: the file is open and checked, the condition's
// field found and its text converted to that field's kind. Rows are then streamed on demand.
class TableQuery {
public:
    static Result<TableQuery> prepare(const QueryStatement& statement);

    TableQuery(TableQuery&&) noexcept;
    TableQuery& operator=(TableQuery&&) noexcept;
    ~TableQuery();

    const std::vector<px::FieldDef>& fields() const { return reader_.info().fields; }
    const QString& filePath() const { return reader_.path(); }

    // The records the file holds.
    qint64 fileRecords() const { return reader_.info().recordCount; }
    // Records to be read after the file's, as if the file held them (the readings a recording
    // journalled beside it). Fails, adding none, on a value that does not fit its field.
    Status addRecords(const std::vector<px::Record>& records);

    // Calls visit for every committed record that meets the condition, in file order, then
    // for every added one; visit returns false to stop. Records that do not match are never
    // decoded.
    Status forEachRow(const std::function<bool(const px::Record&)>& visit) const;
    // The number of matching records, reading the file through.
    Result<qint64> count() const;

private:
    explicit TableQuery(px::TableReader reader) : reader_(std::move(reader)) {}
    bool matches(const unsigned char* raw) const;
    // Every stored record, the file's then the added ones, in order.
    Status forEachRaw(const std::function<bool(const unsigned char*)>& visit) const;

    // How a stored record is tested against the condition.
    enum class Match { All, Never, AlphaBytes, SameValue, SameText };

    px::TableReader reader_;
    std::vector<int> offsets_;         // of each field within a stored record
    std::vector<unsigned char> added_; // addRecords: stored records, one after another
    int field_ = -1;                   // the condition's field
    Match match_ = Match::All;
    std::string alpha_;     // AlphaBytes: the wanted bytes
    px::Value wanted_;      // SameValue: the wanted value (NULL finds blank fields)
    QByteArray wantedText_; // SameText: the wanted display form
};

} // namespace kx
