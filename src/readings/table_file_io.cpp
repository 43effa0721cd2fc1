#include "readings/table_file_io.h"

#include "paradox/paradox_codec.h"
#include "paradox/paradox_lock.h"
#include "paradox/paradox_writer.h"
#include "readings/details_companion.h"
#include "readings/readings_table.h"

#include <QFile>

#include <cstring>
#include <vector>

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

Status createEmptyTable(const QString& path, const std::vector<px::FieldDef>& fields) {
    Result<DetailsCompanion> details = DetailsCompanion::prepare(path, {});
    if (!details)
        return details.status();
    px::WriteOptions options;
    details.value().addTo(options);
    return px::createTable(path, fields, options);
}

TableChangeWatch::TableChangeWatch(const ReadingsTable& table) {
    auto mark = [this] { changed_ = true; };
    connections_[0] = QObject::connect(&table, &ReadingsTable::aboutToReset, mark);
    connections_[1] = QObject::connect(&table, &ReadingsTable::rowAboutToBeRemoved, mark);
}

TableChangeWatch::~TableChangeWatch() {
    for (const QMetaObject::Connection& c : connections_)
        QObject::disconnect(c);
}

QString TableChangeWatch::changedMessage() {
    return QStringLiteral("The table changed while it was being saved");
}

Status writeKeyedFile(const ReadingsTable& table, const QString& path,
                      const px::WriteOptions& options) {
    if (!table.isOpen())
        return fail(ReadingsTable::closedMessage());
    const RecordStore& store = table.records();
    const std::vector<px::FieldDef>& fields = store.fields();
    std::vector<int> offsets;
    offsets.reserve(fields.size());
    int at = 0;
    for (const px::FieldDef& f : fields) {
        offsets.push_back(at);
        at += px::storageSize(f);
    }
    const TableChangeWatch watch(table);
    QString error;
    auto encode = [&](std::size_t row, unsigned char* out, std::size_t fieldCount) -> Status {
        if (Status s = watch.check(); !s)
            return s;
        for (std::size_t f = 0; f < fieldCount; ++f) {
            const int field = static_cast<int>(f);
            unsigned char* cell = out + offsets[f];
            if (store.isNull(row, field))
                continue; // all zero is NULL
            if (fields[f].type == px::FieldType::Alpha) {
                const std::string_view text = store.textValue(row, field);
                const int width = px::storageSize(fields[f]);
                const int size = static_cast<int>(text.size());
                // Texts are cut to their field as they are set; only a longer one needs care.
                const int n = size <= width ? size : px::codec::cutText(text.data(), size, width);
                std::memcpy(cell, text.data(), static_cast<std::size_t>(n));
                continue;
            }
            if (!px::codec::encodeField(fields[f], store.value(row, field), cell, &error))
                return fail(error);
        }
        return {};
    };
    return px::writeKeyedTableStored(path, fields, store.rowCount(), encode, options);
}

} // namespace kx
