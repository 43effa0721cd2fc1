#pragma once

#include "common/result.h"

#include <QMetaObject>
#include <QString>

#include <vector>

namespace kx {

class ReadingsTable;
namespace px {
struct FieldDef;
struct WriteOptions;
} // namespace px

// Creates (or replaces) a table file of these fields with no records and no key. The index and
// the test details of an older table of that name go in the same change: the new table
// inherits neither.
Status createEmptyTable(const QString& path, const std::vector<px::FieldDef>& fields);

// Writing readings tables as Paradox files (a table reads its own file when it opens).

// Writes the open table, pending records included, as a new Paradox table at `path` with a
// primary index on its first field. An existing file of that name is replaced.
Status saveKeyedCopy(const ReadingsTable& table, const QString& path);
// The same without taking the target's lock: for a caller that holds it (and, with
// options.keepLock, gets the new file's lock back). This is the one writer of keyed copies:
// Save As, the store's Save, the command line's export, the recorder's checkpoints and the
// recovered journals all come here. Each record is encoded straight from the table's stored
// cells into its place in the file, without a value object per field. Fails when the table is
// emptied, re-pointed or loses a record while it is written ("The table changed while it was
// being saved"); records appended meanwhile are left out.
Status writeKeyedFile(const ReadingsTable& table, const QString& path,
                      const px::WriteOptions& options);

// Watches a table for changes that would move or drop records under a running save. Appends
// are harmless: a save writes the records it started with.
class TableChangeWatch {
public:
    explicit TableChangeWatch(const ReadingsTable& table);
    ~TableChangeWatch();
    TableChangeWatch(const TableChangeWatch&) = delete;
    TableChangeWatch& operator=(const TableChangeWatch&) = delete;

    // Fails once the table was reset or lost a record since the watch began.
    Status check() const { return changed_ ? fail(changedMessage()) : Status(); }
    static QString changedMessage();

private:
    bool changed_ = false;
    QMetaObject::Connection connections_[2];
};

} // namespace kx
