#include "recording/table_file_io.h"

#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "recording/readings_table.h"

#include <QFile>

namespace kx {

Status saveKeyedCopy(const ReadingsTable& table, const QString& path) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    // A file that another program has open is not written over.
    std::unique_ptr<px::TableLock> targetLock;
    if (QFile::exists(path)) {
        Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
        if (!lock)
            return lock.status();
        targetLock = lock.take();
    }
    return writeKeyedFile(table, path, {});
}

Status writeKeyedFile(const ReadingsTable& table, const QString& path,
                      const px::WriteOptions& options) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    const RecordStore& records = table.records();
    const std::vector<px::FieldDef>& fields = records.fields();
    px::Record record(fields.size());
    return px::writeKeyedTable(
        path, fields, records.rowCount(),
        [&](std::size_t row) -> const px::Record& {
            for (std::size_t f = 0; f < fields.size(); ++f)
                record[f] = records.value(row, static_cast<int>(f));
            return record;
        },
        options);
}

} // namespace kx
