#include "recording/table_file_io.h"

#include "recording/paradox_lock.h"
#include "recording/paradox_reader.h"
#include "recording/paradox_writer.h"
#include "recording/readings_table.h"

#include <QFile>

namespace kx {
namespace {

FieldKind kindOf(px::FieldType t) {
    switch (t) {
    case px::FieldType::Alpha:
        return FieldKind::Alpha;
    case px::FieldType::Date:
        return FieldKind::Date;
    case px::FieldType::Short:
        return FieldKind::Short;
    case px::FieldType::Long:
        return FieldKind::Long;
    case px::FieldType::Currency:
        return FieldKind::Currency;
    case px::FieldType::Number:
        return FieldKind::Number;
    case px::FieldType::Logical:
        return FieldKind::Logical;
    case px::FieldType::Time:
        return FieldKind::Time;
    case px::FieldType::Timestamp:
        return FieldKind::Timestamp;
    case px::FieldType::AutoInc:
        return FieldKind::AutoInc;
    case px::FieldType::Bcd:
        return FieldKind::Bcd;
    case px::FieldType::Bytes:
        return FieldKind::Bytes;
    default:
        return FieldKind::Blob;
    }
}

void loadValue(ReadingsTable& t, int field, const px::Value& v) {
    using K = px::Value::Kind;
    switch (v.kind()) {
    case K::Null:
        return;
    case K::Text:
    case K::Decimal:
    case K::Bytes:
        t.setLoadedText(field, std::string_view(v.rawBytes().constData(),
                                                static_cast<std::size_t>(v.rawBytes().size())));
        return;
    case K::Integer:
    case K::Logical:
    case K::Date:
    case K::Time:
        t.setLoadedInt(field, v.toInt());
        return;
    case K::Number:
    case K::Timestamp:
        t.setLoadedDouble(field, v.toNumber());
        return;
    }
}

px::Value valueOf(const ReadingsTable& t, qint64 row, int field) {
    if (t.isNull(row, field))
        return px::Value::null();
    const TableField& f = t.fields()[static_cast<std::size_t>(field)];
    auto text = [&] {
        const std::string_view s = t.textValue(row, field);
        return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
    };
    switch (f.kind) {
    case FieldKind::Alpha:
        return px::Value::text(text());
    case FieldKind::Bcd:
        return px::Value::decimal(text());
    case FieldKind::Bytes:
        return px::Value::bytes(text());
    case FieldKind::Blob:
        return px::Value::null();
    case FieldKind::Short:
    case FieldKind::Long:
    case FieldKind::AutoInc:
        return px::Value(static_cast<std::int32_t>(t.intValue(row, field)));
    case FieldKind::Logical:
        return px::Value(t.intValue(row, field) != 0);
    case FieldKind::Date:
        return px::Value::date(static_cast<int>(t.intValue(row, field)));
    case FieldKind::Time:
        return px::Value::timeOfDay(static_cast<int>(t.intValue(row, field)));
    case FieldKind::Number:
    case FieldKind::Currency:
        return px::Value(t.doubleValue(row, field));
    case FieldKind::Timestamp:
        return px::Value::timestamp(t.doubleValue(row, field));
    }
    return px::Value::null();
}

} // namespace

TableField tableFieldFrom(const px::FieldDef& f) {
    return TableField{f.name.toStdString(), kindOf(f.type), f.size, static_cast<int>(f.type)};
}

bool loadTableFile(const QString& path, ReadingsTable& table, QString* error) {
    px::Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
    if (!lock) {
        *error = lock.error();
        return false;
    }
    px::Result<px::TableReader> reader = px::TableReader::open(path);
    if (!reader) {
        *error = reader.error();
        return false;
    }
    const px::TableInfo& info = reader.value().info();
    std::vector<TableField> fields;
    for (const px::FieldDef& f : info.fields)
        fields.push_back(tableFieldFrom(f));
    table.reset(fields);
    const px::Status s = reader.value().forEach([&](const px::Record& r) {
        for (std::size_t i = 0; i < r.size() && i < fields.size(); ++i)
            loadValue(table, static_cast<int>(i), r[i]);
        table.appendLoaded();
        return true;
    });
    if (!s) {
        table.reset({});
        *error = s.error();
        return false;
    }
    table.holdLock(lock.take());
    return true;
}

bool emptyTableFile(const QString& path, QString* error) {
    // Emptying needs the file to ourselves, like the engine's exclusive use.
    px::Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
    if (!lock) {
        *error = lock.error();
        return false;
    }
    const px::Status s = px::emptyTable(path);
    if (!s)
        *error = s.error();
    return s.ok();
}

bool saveKeyedCopy(const ReadingsTable& table, const QString& path, QString* error) {
    if (!table.isOpen()) {
        *error = ReadingsTable::closedMessage();
        return false;
    }
    // A file that another program has open is not written over.
    std::unique_ptr<px::TableLock> targetLock;
    if (QFile::exists(path)) {
        px::Result<std::unique_ptr<px::TableLock>> lock = px::TableLock::acquire(path);
        if (!lock) {
            *error = lock.error();
            return false;
        }
        targetLock = lock.take();
    }
    std::vector<px::FieldDef> fields;
    for (const TableField& f : table.fields()) {
        px::FieldDef d;
        d.name = QByteArray::fromStdString(f.name);
        d.type = static_cast<px::FieldType>(f.fileType);
        d.size = f.size;
        fields.push_back(d);
    }
    px::Record record(fields.size());
    const px::Status s = px::writeKeyedTable(
        path, fields, static_cast<std::size_t>(table.rowCount()),
        [&](std::size_t row) -> const px::Record& {
            for (std::size_t f = 0; f < fields.size(); ++f)
                record[f] = valueOf(table, static_cast<qint64>(row), static_cast<int>(f));
            return record;
        });
    if (!s)
        *error = s.error();
    return s.ok();
}

} // namespace kx
